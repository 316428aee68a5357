#!/usr/bin/env python3
"""Plants faults in copies of the 32-bit QUORVENAL.sys and requires the QEMU
bed to catch each one (on q35 unless said otherwise):

  - DispatchDeviceControl without NTAPI (a cdecl routine, cast into the
    dispatch table), built from a copy of the driver's sources: the bed's
    calls find the routine leaving its arguments on the stack;
  - the header write's restore of 0xCF8 left out, built the same way: the
    address register is not what the caller left there;
  - the restore of 0xCF8 moved after the level is lowered again: one of the
    four port accesses of each doubleword runs below HIGH_LEVEL, which the
    bed sees through its fault handler on the driver's own instructions;
  - KeIpiGenericCall looked up under a name no kernel exports: the header
    write runs outside a broadcast, and the other processor's HAL read in
    the middle of it sends the driver's data to another function;
  - the write right taken from what the caller asked for (DesiredAccess)
    instead of what the I/O manager granted: a handle opened with
    MAXIMUM_ALLOWED cannot write;
  - the base search without its pass over device memory (on pc, where a
    framebuffer at 0xC0000000 holds 00:00.0's identifiers): the framebuffer
    becomes the window;
  - the base relocations of the driver's EcamBase references dropped (made
    ABSOLUTE) in a copy of the shipped file: the driver then keeps its base
    at the address it was linked for, not in its own image;
  - an import renamed to one the test kernel does not export: the load stops
    and says which.

Each copy gets a right PE checksum, so that only the planted fault differs.
Exit status: 0 every fault caught, 1 one missed, 77 skipped.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import run_machine as rm  # noqa: E402

SKIP = 77


def finish(path, top):
    subprocess.run([sys.executable, os.path.join(top, "cmake", "pe_finish.py"), path], check=True)


def edit(path, old, new):
    """Replaces `old` (a regular expression) in a source copy; the fault must land."""
    with open(path) as f:
        text = f.read()
    changed, count = re.subn(old, new, text)
    if count == 0:
        raise RuntimeError("%s: %r not found, the fault cannot be planted" % (path, old))
    with open(path, "w") as f:
        f.write(changed)


def build_from_sources(top, work, edits):
    """A driver built from a copy of the sources with `edits` made:
    (file under ioctl/sys, pattern, replacement)."""
    source = os.path.join(work, "src")
    shutil.rmtree(source, ignore_errors=True)
    os.makedirs(source)
    # Every folder the Windows build's top level adds: the driver is built
    # through the project's own configuration, not a recipe of its own.
    for item in ("CMakeLists.txt", "cmake", "ioctl", "framework", "app"):
        origin = os.path.join(top, item)
        target = os.path.join(source, item)
        (shutil.copytree if os.path.isdir(origin) else shutil.copy)(origin, target)
    for name, old, new in edits:
        edit(os.path.join(source, "ioctl", "sys", name), old, new)
    build = os.path.join(work, "build")
    subprocess.run(["cmake", "-S", source, "-B", build,
                    "-DCMAKE_TOOLCHAIN_FILE=%s" % os.path.join(source, "cmake", "mingw-w64-i686.cmake"),
                    "-DCMAKE_BUILD_TYPE=Release"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "quorvenal_driver"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build, "QUORVENAL.sys")


CDECL_DISPATCH = [
    ("driver.h", r"NTSTATUS NTAPI DispatchDeviceControl\(", "NTSTATUS DispatchDeviceControl("),
    ("driver.cpp", r"NTSTATUS NTAPI DispatchDeviceControl\(", "NTSTATUS DispatchDeviceControl("),
    ("driver.cpp", r"(MajorFunction\[IRP_MJ_DEVICE_CONTROL\] = )DispatchDeviceControl;",
     r"\1(PDRIVER_DISPATCH)(void*)DispatchDeviceControl;"),
]

RESTORE_BELOW_HIGH_LEVEL = [
    ("port_header_write.cpp",
     r"(PortOut32\(kConfigAddressPort, previous\);)(\s*)(KeLowerIrql\(previousIrql\);)",
     r"\3\2\1"),
]

NO_ADDRESS_RESTORE = [
    ("port_header_write.cpp", r"PortOut32\(kConfigAddressPort, previous\);", "(void)previous;"),
]

NO_BROADCAST = [
    ("port_header_write.cpp", r'L"KeIpiGenericCall"', 'L"KeIpiGenericCalX"'),
]

ASKED_NOT_GRANTED = [
    ("device_security.cpp", r"context->AccessState->PreviouslyGrantedAccess", "context->DesiredAccess"),
]

DEVICE_MEMORY_PROBED = [
    ("mapped_window.cpp", r"ULONG nearDevices = WindowsMeetingDeviceMemory\(candidates, kCandidateCount, place\);",
     "ULONG nearDevices = 0;"),
]


def pe_sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
    return [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(count)]


def file_offset(data, rva):
    for virtual_size, address, raw_size, raw_at in pe_sections(data):
        if address <= rva < address + max(virtual_size, raw_size) and rva - address < raw_size:
            return raw_at + rva - address
    raise ValueError("rva 0x%x has no file bytes" % rva)


def drop_relocations_to(data, target_va):
    """Makes ABSOLUTE every HIGHLOW relocation whose word holds target_va;
    returns how many."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    reloc_rva, reloc_size = struct.unpack_from("<II", data, pe + 24 + 96 + 8 * 5)
    at, end, dropped = file_offset(data, reloc_rva), file_offset(data, reloc_rva) + reloc_size, 0
    while at + 8 <= end:
        page, size = struct.unpack_from("<II", data, at)
        if size < 8:
            break
        for entry_at in range(at + 8, at + size, 2):
            entry = struct.unpack_from("<H", data, entry_at)[0]
            if entry >> 12 != 3:
                continue
            word_at = file_offset(data, page + (entry & 0xFFF))
            if struct.unpack_from("<I", data, word_at)[0] == target_va:
                struct.pack_into("<H", data, entry_at, entry & 0x0FFF)
                dropped += 1
        at += size
    return dropped


def copy_with(driver, work, name, change):
    os.makedirs(work, exist_ok=True)
    path = os.path.join(work, name)
    with open(driver, "rb") as f:
        data = bytearray(f.read())
    change(data)
    with open(path, "wb") as f:
        f.write(data)
    shutil.copy(driver + ".debug", path + ".debug")
    return path


def run_harness(kernel, driver, debug, qemu, machine):
    command = [sys.executable, os.path.join(HERE, "run_machine.py"), "--machine", machine,
               "--kernel", kernel, "--driver", driver, "--driver-debug", debug, "--qemu", qemu]
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return done.returncode, done.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kernel", required=True)
    parser.add_argument("--driver", required=True, help="the shipped 32-bit QUORVENAL.sys")
    parser.add_argument("--source", required=True, help="the source tree")
    parser.add_argument("--work", required=True)
    parser.add_argument("--qemu", default=os.environ.get("QUORVENAL_QEMU", "qemu-system-i386"))
    options = parser.parse_args()
    for tool in (options.qemu, "i686-w64-mingw32-g++", "cmake"):
        if shutil.which(tool) is None:
            print("SKIPPED: %s is not installed" % tool)
            return SKIP
    shutil.rmtree(options.work, ignore_errors=True)
    os.makedirs(options.work)

    with open(options.driver, "rb") as f:
        shipped = f.read()
    symbols = rm.driver_symbols(shipped, options.driver + ".debug")
    image_base = struct.unpack_from("<I", shipped, struct.unpack_from("<I", shipped, 0x3C)[0] + 24 + 28)[0]

    faults = []
    cdecl = build_from_sources(options.source, os.path.join(options.work, "cdecl"), CDECL_DISPATCH)
    faults.append(("DispatchDeviceControl without NTAPI", cdecl, cdecl + ".debug",
                   ["CHECK FAIL driver routines keep the stdcall convention",
                    "arguments not removed from the stack"], "q35"))
    unrestored = build_from_sources(options.source, os.path.join(options.work, "restore"),
                                    NO_ADDRESS_RESTORE)
    faults.append(("0xCF8 not restored after a header write", unrestored, unrestored + ".debug",
                   ["CHECK FAIL 0xCF8 kept across the header write"], "q35"))
    lowered = build_from_sources(options.source, os.path.join(options.work, "lowered"),
                                 RESTORE_BELOW_HIGH_LEVEL)
    faults.append(("0xCF8 restored after the level is lowered", lowered, lowered + ".debug",
                   ["CHECK FAIL port sequences at HIGH_LEVEL: changed",
                    "192 port accesses raised, 64 not"], "q35"))
    unheld = build_from_sources(options.source, os.path.join(options.work, "broadcast"), NO_BROADCAST)
    faults.append(("header write outside a broadcast", unheld, unheld + ".debug",
                   ["CHECK FAIL the other processor's HAL read waits for the header write",
                    "CHECK FAIL no byte of the header write lands in another function"], "q35"))
    asked = build_from_sources(options.source, os.path.join(options.work, "asked"), ASKED_NOT_GRANTED)
    faults.append(("the write right from the access asked for", asked, asked + ".debug",
                   ["CHECK FAIL a MAXIMUM_ALLOWED handle writes"], "q35"))
    probed = build_from_sources(options.source, os.path.join(options.work, "framebuffer"), DEVICE_MEMORY_PROBED)
    faults.append(("device memory taken for the window", probed, probed + ".debug",
                   ["CHECK FAIL no base found", "CHECK FAIL the search passes over the framebuffer"], "pc"))

    def drop(data):
        count = drop_relocations_to(data, image_base + symbols["EcamBase"])
        if count == 0:
            raise RuntimeError("no relocation refers to EcamBase")
        print("planted: %d relocations of EcamBase made ABSOLUTE" % count)
    relocation = copy_with(options.driver, os.path.join(options.work, "relocation"), "QUORVENAL.sys", drop)
    finish(relocation, options.source)
    faults.append(("EcamBase relocations dropped", relocation, relocation + ".debug",
                   ["CHECK FAIL base found: EcamBase 0xffffffff"], "q35"))

    def rename(data):
        at = bytes(data).find(b"KeReleaseMutex\0")
        if at < 0:
            raise RuntimeError("the driver does not import KeReleaseMutex")
        data[at + 13] = ord("y")
    unknown = copy_with(options.driver, os.path.join(options.work, "import"), "QUORVENAL.sys", rename)
    finish(unknown, options.source)
    faults.append(("an import the test kernel does not export", unknown, unknown + ".debug",
                   ["CHECK FAIL driver image loaded: first load: import ntoskrnl.exe!KeReleaseMutey "
                    "is not exported by the test kernel"], "q35"))

    missed = 0
    for name, driver, debug, wanted, machine in faults:
        status, output = run_harness(options.kernel, driver, debug, options.qemu, machine)
        lines = [l for l in output.splitlines() if "CHECK FAIL" in l or l.startswith(("VERDICT", "PROBLEM"))]
        caught = status == 1 and all(any(w in l for l in output.splitlines()) for w in wanted)
        print("%s: %s" % ("caught" if caught else "MISSED", name))
        for line in lines[:6]:
            print("    " + line)
        if not caught:
            missed += 1
            print("    wanted: " + " / ".join(wanted))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
