#!/usr/bin/env python3
"""Boots the quorvenal driver test kernel on an emulated machine and judges it.

The kernel runs its checks through the driver and reports on the serial port;
it ends QEMU through the isa-debug-exit device (exit status 33 when its checks
passed). While the kernel waits after its bus scan, this script asks QEMU for
its own view of the PCI functions over QMP (query-pci) and compares the two,
and it reads the first extended capability headers the kernel reported back
out of QEMU's memory-mapped configuration window with the monitor's `xp`.

Exit status: 0 pass, 1 fail, 77 skipped (QEMU or the kernel not available).
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
KERNEL_PASS_STATUS = 33  # (0x10 << 1) | 1

# Each machine: QEMU arguments, and what the kernel is told to expect. The
# machine types are pinned to their 7.2 versions, whose device models (an AER
# uncorrectable mask that is read-only among them) later QEMUs keep for them.
MACHINES = {
    "q35": {
        "args": [
            "-M", "pc-q35-7.2",
            # Three root ports as functions of one device (so that extended
            # space is read at function numbers above 0): a PCI Express
            # endpoint below the first, a PCI bridge with a conventional
            # device behind it below the second, the same endpoint below the
            # third.
            "-device", "pcie-root-port,id=rp1,bus=pcie.0,chassis=1,slot=1,addr=0x10.0,multifunction=on",
            "-device", "pcie-root-port,id=rp2,bus=pcie.0,chassis=2,slot=2,addr=0x10.1",
            "-device", "pcie-root-port,id=rp3,bus=pcie.0,chassis=3,slot=3,addr=0x10.2",
            "-device", "e1000e,bus=rp1",
            "-device", "pcie-pci-bridge,id=br1,bus=rp2",
            "-device", "rtl8139,bus=br1,addr=0x3",
            # A second e1000e, the first's twin, whose root port the kernel
            # moves to bus 0x81, past a shortened window's end, late in the run.
            "-device", "e1000e,bus=rp3",
        ],
        "ecam": 0xB0000000,
    },
    "pc": {
        "args": [
            "-M", "pc-i440fx-7.2",
            # A display controller whose framebuffer the kernel moves to the
            # candidate 0xC0000000 and draws 00:00.0's identifiers in.
            "-device", "VGA,bus=pci.0,addr=0x2",
            "-device", "e1000,bus=pci.0,addr=0x3",
            "-device", "pci-bridge,id=br1,chassis_nr=1,bus=pci.0,addr=0x4",
            "-device", "rtl8139,bus=br1,addr=0x2",
        ],
        "ecam": None,
    },
}

# Plain RAM at the lowest candidate base (the machine gets 512 MiB), where
# the kernel plants a stray vendor identifier; the base search must never map
# it, as it maps no RAM at all.
TRAP = 0x10000000
RUN_TIMEOUT = 90

# The driver's symbols the kernel's checks look at, read from the debug file
# beside the driver and handed to the kernel as sym.NAME=<rva>.
DRIVER_SYMBOLS = ("DriverEntry", "EcamBase", "DispatchCreateClose", "DispatchDeviceControl",
                  "UnloadDriver")


def plain_symbol_name(name):
    """The source name of a 32-bit COFF symbol: _EcamBase, _DriverEntry@8,
    __Z19DispatchCreateCloseP14_DEVICE_OBJECTP4_IRP@8 (a C++ name)."""
    if name.startswith("__Z"):
        match = re.match(r"__ZN?(\d+)", name)
        if match:
            start = match.end()
            return name[start:start + int(match.group(1))]
        return None
    if name.startswith("_"):
        return name[1:].split("@", 1)[0]
    return None


def pe_headers(data):
    """(entry point rva, image base, [section virtual addresses]) of a PE file."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    entry = struct.unpack_from("<I", data, optional + 16)[0]
    image_base = struct.unpack_from("<I", data, optional + 28)[0]
    table = optional + optional_size
    sections = [struct.unpack_from("<I", data, table + 40 * i + 12)[0] for i in range(count)]
    return entry, image_base, sections


def coff_symbols(data):
    """{source name: rva} of the external symbols in a PE file's COFF table."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    table, count = struct.unpack_from("<II", data, pe + 12)
    _entry, _base, sections = pe_headers(data)
    strings = table + 18 * count
    symbols = {}
    i = 0
    while i < count:
        at = table + 18 * i
        raw = data[at:at + 8]
        if raw[:4] == b"\0\0\0\0":
            offset = strings + struct.unpack_from("<I", raw, 4)[0]
            raw = data[offset:data.index(b"\0", offset)]
        name = raw.rstrip(b"\0").decode("ascii", "replace")
        value, section, _type, storage, aux = struct.unpack_from("<IhHBB", data, at + 8)
        if storage == 2 and 0 < section <= len(sections):
            plain = plain_symbol_name(name)
            if plain and plain not in symbols:
                symbols[plain] = sections[section - 1] + value
        i += 1 + aux
    return symbols


def driver_symbols(driver_data, debug_path):
    """The wanted symbols as {name: rva}; raises ValueError when the debug file
    does not belong to the driver."""
    with open(debug_path, "rb") as f:
        debug = f.read()
    symbols = coff_symbols(debug)
    entry, _base, _sections = pe_headers(driver_data)
    if symbols.get("DriverEntry") != entry:
        raise ValueError("the debug file's DriverEntry (%s) is not the driver's entry point 0x%x"
                         % ("none" if "DriverEntry" not in symbols else "0x%x" % symbols["DriverEntry"],
                            entry))
    return {name: symbols[name] for name in DRIVER_SYMBOLS if name in symbols}


class Qmp:
    """A minimal QMP client over a unix socket."""

    def __init__(self, path, deadline, proc):
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.connect(path)
                break
            except OSError:
                self.sock.close()
                if proc.poll() is not None:
                    raise OSError("QEMU ended before its QMP socket opened")
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        self.sock.settimeout(30)
        self.buffer = b""
        self._read()  # greeting
        self.command("qmp_capabilities")

    def _read(self):
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise OSError("QMP connection closed")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def command(self, name, **arguments):
        message = {"execute": name}
        if arguments:
            message["arguments"] = arguments
        self.sock.sendall(json.dumps(message).encode() + b"\n")
        while True:
            reply = self._read()
            if "return" in reply:
                return reply["return"]
            if "error" in reply:
                raise OSError("QMP %s: %s" % (name, reply["error"]))
            # events are skipped

    def close(self):
        self.sock.close()


def flatten_query_pci(buses):
    """{(bus, device, function): (vendor, device id, class)} from query-pci."""
    functions = {}

    def walk(devices):
        for d in devices:
            key = (d["bus"], d["slot"], d["function"])
            functions[key] = (d["id"]["vendor"], d["id"]["device"], d["class_info"]["class"])
            bridge = d.get("pci_bridge")
            if bridge:
                walk(bridge.get("devices", []))

    for bus in buses:
        walk(bus["devices"])
    return functions


FUNC_LINE = re.compile(r"^FUNC ([0-9a-f]{2}):([0-9a-f]{2})\.([0-7]) ([0-9a-f]{4}):([0-9a-f]{4}) ([0-9a-f]{6})$")
EXTCAP_LINE = re.compile(r"^EXTCAP ([0-9a-f]{2}):([0-9a-f]{2})\.([0-7]) ([0-9a-f]{8}) ([0-9a-f]{3}) ([0-9a-f]{8})$")
XP_VALUE = re.compile(r":\s*0x([0-9a-fA-F]{8})")


def monitor_dword(qmp, address):
    text = qmp.command("human-monitor-command", **{"command-line": "xp /1wx 0x%x" % address})
    match = XP_VALUE.search(text)
    return int(match.group(1), 16) if match else None


def answer(proc):
    """Lets the kernel go on after a SYNC line."""
    proc.stdin.write(b"g")
    proc.stdin.flush()


def check_extcaps(qmp, ecam, extcaps):
    """The extended capability headers the driver read, against the same
    addresses read by QEMU's monitor in the memory-mapped window."""
    problems = []
    for bus, dev, fn, first, nxt, second in extcaps:
        place = ecam | bus << 20 | dev << 15 | fn << 12
        seen_first = monitor_dword(qmp, place | 0x100)
        seen_second = monitor_dword(qmp, place | nxt) if nxt >= 0x100 else second
        if (seen_first, seen_second) != (first, second):
            problems.append("%02x:%02x.%x extended headers: driver %08x/%08x, QEMU window %s/%s"
                            % (bus, dev, fn, first, second,
                               "%08x" % seen_first if seen_first is not None else "?",
                               "%08x" % seen_second if seen_second is not None else "?"))
    return problems


def compare_functions(kernel, qemu):
    """Problems between the kernel's scan and QEMU's list, as text lines."""
    problems = []
    for key in sorted(set(qemu) - set(kernel)):
        problems.append("QEMU has %02x:%02x.%x, the driver's scan did not find it" % key)
    for key in sorted(set(kernel) - set(qemu)):
        problems.append("the driver's scan found %02x:%02x.%x, QEMU has no such function" % key)
    for key in sorted(set(kernel) & set(qemu)):
        vendor, device, klass = kernel[key]
        q_vendor, q_device, q_class = qemu[key]
        if (vendor, device, klass >> 8) != (q_vendor, q_device, q_class):
            problems.append("%02x:%02x.%x: driver %04x:%04x class %04x, QEMU %04x:%04x class %04x"
                            % (key + (vendor, device, klass >> 8, q_vendor, q_device, q_class)))
    return problems


PE_LINE = re.compile(r"^PE sha256=([0-9a-f]{64}) bytes=(\d+)$")


def run(machine_name, kernel, qemu_binary, driver, driver_debug):
    machine = MACHINES[machine_name]
    ecam = machine["ecam"]
    with open(driver, "rb") as f:
        driver_data = f.read()
    driver_sha = hashlib.sha256(driver_data).hexdigest()
    print("pe %s sha256=%s" % (os.path.basename(driver), driver_sha), flush=True)
    try:
        symbols = driver_symbols(driver_data, driver_debug)
    except (OSError, ValueError, struct.error) as error:
        print("PROBLEM the driver's debug file %s: %s" % (driver_debug, error))
        print("VERDICT %s: FAIL" % machine_name)
        return 1
    append = "machine=%s ecam=%s trap=0x%x %s" % (
        machine_name, "none" if ecam is None else "0x%x" % ecam, TRAP,
        " ".join("sym.%s=0x%x" % item for item in sorted(symbols.items())))
    workdir = tempfile.mkdtemp(prefix="qv-qemu-")
    qmp_path = os.path.join(workdir, "qmp.sock")
    stderr_path = os.path.join(workdir, "stderr.txt")
    command = [qemu_binary, "-m", "512M", "-nodefaults", "-display", "none", "-no-reboot",
               "-serial", "stdio", "-qmp", "unix:%s,server=on,wait=off" % qmp_path,
               "-device", "isa-debug-exit,iobase=0xf4,iosize=0x04",
               "-kernel", kernel, "-append", append, "-initrd", driver] + machine["args"]
    print("RUN " + " ".join(command), flush=True)

    problems = []
    kernel_functions = {}
    extcaps = []
    qemu_functions = None
    times = {}
    saw_result = None
    kernel_sha = None
    started = time.monotonic()
    deadline = started + RUN_TIMEOUT

    with open(stderr_path, "wb") as stderr_file:
        proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=stderr_file)
        watchdog = threading.Timer(RUN_TIMEOUT, proc.kill)
        watchdog.start()
        qmp = None
        try:
            qmp = Qmp(qmp_path, deadline, proc)
            for raw in proc.stdout:
                now = time.monotonic()
                line = raw.decode("ascii", "replace").rstrip("\r\n")
                print(line, flush=True)
                m = FUNC_LINE.match(line)
                pe = PE_LINE.match(line)
                if pe:
                    kernel_sha = (pe.group(1), int(pe.group(2)))
                elif m:
                    bus, dev, fn, ven, did, klass = (int(g, 16) for g in m.groups())
                    kernel_functions[(bus, dev, fn)] = (ven, did, klass)
                elif line.startswith("SYNC scan"):
                    qemu_functions = flatten_query_pci(qmp.command("query-pci"))
                    answer(proc)
                elif line.startswith("SYNC extended"):
                    if ecam is not None:
                        problems += check_extcaps(qmp, ecam, extcaps)
                    answer(proc)
                elif line.startswith("SYNC"):
                    answer(proc)
                elif EXTCAP_LINE.match(line):
                    extcaps.append(tuple(int(g, 16) for g in EXTCAP_LINE.match(line).groups()))
                elif line.startswith("TIME full-scan begin"):
                    times["begin"] = now
                elif line.startswith("TIME full-scan end"):
                    times["end"] = now
                    times["requests"] = line.split("requests=")[1].split()[0]
                elif line.startswith("TIME bare-probes begin"):
                    times["bare-begin"] = now
                elif line.startswith("TIME bare-probes end"):
                    times["bare-end"] = now
                elif line.startswith("TIME scan-ratio"):
                    times["ratio"] = line.split("ratio=")[1].split()[0]
                elif line.startswith("RESULT "):
                    saw_result = line
            status = proc.wait()
        except OSError as error:
            problems.append("talking to QEMU: %s" % error)
            proc.kill()
            status = proc.wait()
        finally:
            watchdog.cancel()
            if qmp:
                qmp.close()

    elapsed = time.monotonic() - started
    with open(stderr_path, "rb") as f:
        stderr_text = f.read().decode("utf-8", "replace").strip()
    shutil.rmtree(workdir, ignore_errors=True)
    if stderr_text:
        print("QEMU stderr:\n" + stderr_text)

    if elapsed >= RUN_TIMEOUT:
        problems.append("no verdict within %d s" % RUN_TIMEOUT)
    if saw_result is None:
        problems.append("the kernel printed no RESULT line")
    if kernel_sha != (driver_sha, len(driver_data)):
        problems.append("the kernel loaded %s, not the driver file (%s, %d bytes)"
                        % ("nothing" if kernel_sha is None else "%s (%d bytes)" % kernel_sha,
                           driver_sha, len(driver_data)))
    if status != KERNEL_PASS_STATUS:
        problems.append("QEMU exit status %d (the kernel passes with %d)" % (status, KERNEL_PASS_STATUS))
    if qemu_functions is None:
        problems.append("QEMU's list of functions was never taken")
    else:
        problems += compare_functions(kernel_functions, qemu_functions)
    if ecam is not None and not extcaps:
        problems.append("the kernel reported no extended capability headers")

    print("SUMMARY %s: %d functions (QEMU %s), %d extended headers read back, run %.1f s"
          % (machine_name, len(kernel_functions),
             "?" if qemu_functions is None else len(qemu_functions), len(extcaps), elapsed))
    if "begin" in times and "end" in times:
        driver_ms = 1000 * (times["end"] - times["begin"])
        print("SUMMARY %s: 256-bus scan in the program's order, %s requests through the driver, "
              "took %.0f ms under emulation" % (machine_name, times.get("requests", "?"), driver_ms))
        if "bare-begin" in times and "bare-end" in times:
            bare_ms = 1000 * (times["bare-end"] - times["bare-begin"])
            print("SUMMARY %s: the same port probes in a bare loop took %.0f ms; driver/bare %.2f "
                  "(host clock), %s (processor time stamps)"
                  % (machine_name, bare_ms, driver_ms / bare_ms if bare_ms > 0 else 0.0,
                     times.get("ratio", "?")))
    for p in problems:
        print("PROBLEM " + p)
    print("VERDICT %s: %s" % (machine_name, "PASS" if not problems else "FAIL"))
    return 0 if not problems else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    parser.add_argument("--kernel", help="the test kernel (ELF, Multiboot)")
    parser.add_argument("--driver", help="the 32-bit QUORVENAL.sys the kernel loads")
    parser.add_argument("--driver-debug", help="the driver's debug file (default: DRIVER.debug)")
    parser.add_argument("--skip-reason", help="report the test as skipped for this reason")
    parser.add_argument("--qemu", default=os.environ.get("QUORVENAL_QEMU", "qemu-system-i386"),
                        help="the QEMU binary (default: $QUORVENAL_QEMU or qemu-system-i386)")
    options = parser.parse_args()

    if options.skip_reason:
        print("SKIPPED: " + options.skip_reason)
        return SKIP
    qemu_binary = shutil.which(options.qemu)
    if qemu_binary is None:
        print("SKIPPED: %s is not installed (Debian package qemu-system-x86)" % options.qemu)
        return SKIP
    if not options.kernel or not os.path.isfile(options.kernel):
        print("FAILED: the test kernel %s was not built" % options.kernel)
        return 1
    if not options.driver or not os.path.isfile(options.driver):
        print("FAILED: the driver %s was not built" % options.driver)
        return 1
    if "," in options.driver:
        print("FAILED: QEMU cannot take a module path with a comma: %s" % options.driver)
        return 1
    debug = options.driver_debug or options.driver + ".debug"
    return run(options.machine, options.kernel, qemu_binary, options.driver, debug)


if __name__ == "__main__":
    sys.exit(main())
