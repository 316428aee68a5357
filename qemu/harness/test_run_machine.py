#!/usr/bin/env python3
"""Unit tests of the harness's own judging: a fault here would hide a fault
in the driver, so the comparison with QEMU's view is tested on its own."""

import os
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_machine as rm  # noqa: E402


def device(bus, slot, function, vendor, dev, klass, bridge_devices=None, secondary=None):
    d = {"bus": bus, "slot": slot, "function": function,
         "class_info": {"class": klass}, "id": {"vendor": vendor, "device": dev}}
    if bridge_devices is not None:
        d["pci_bridge"] = {"bus": {"number": bus, "secondary": secondary, "subordinate": secondary},
                           "devices": bridge_devices}
    return d


# Shaped as QEMU's query-pci answers: functions behind bridges are nested.
QUERY_PCI = [{"bus": 0, "devices": [
    device(0, 0, 0, 0x8086, 0x29C0, 0x0600),
    device(0, 0x10, 0, 0x1B36, 0x000C, 0x0604, secondary=1, bridge_devices=[
        device(1, 0, 0, 0x8086, 0x10D3, 0x0200)]),
    device(0, 0x10, 1, 0x1B36, 0x000C, 0x0604, secondary=2, bridge_devices=[
        device(2, 0, 0, 0x1B36, 0x000E, 0x0604, secondary=3, bridge_devices=[
            device(3, 3, 0, 0x10EC, 0x8139, 0x0200)])]),
    device(0, 0x1F, 2, 0x8086, 0x2922, 0x0106),
]}]


class FlattenTest(unittest.TestCase):
    def test_nested_bridges_are_walked(self):
        flat = rm.flatten_query_pci(QUERY_PCI)
        self.assertEqual(sorted(flat), [(0, 0, 0), (0, 0x10, 0), (0, 0x10, 1), (0, 0x1F, 2),
                                        (1, 0, 0), (2, 0, 0), (3, 3, 0)])
        self.assertEqual(flat[(3, 3, 0)], (0x10EC, 0x8139, 0x0200))


class CompareTest(unittest.TestCase):
    def kernel_view(self):
        # The kernel reports the class with its programming interface.
        return {key: (v, d, c << 8 | 0x01) for key, (v, d, c) in rm.flatten_query_pci(QUERY_PCI).items()}

    def test_same_view_has_no_problems(self):
        self.assertEqual(rm.compare_functions(self.kernel_view(), rm.flatten_query_pci(QUERY_PCI)), [])

    def test_missing_extra_and_different_functions_are_named(self):
        kernel = self.kernel_view()
        del kernel[(3, 3, 0)]
        kernel[(0, 0x1F, 3)] = (0x8086, 0x2930, 0x0C0500)
        kernel[(1, 0, 0)] = (0x8086, 0x10D4, 0x020000)
        problems = rm.compare_functions(kernel, rm.flatten_query_pci(QUERY_PCI))
        self.assertEqual(len(problems), 3)
        self.assertIn("QEMU has 03:03.0", problems[0])
        self.assertIn("found 00:1f.3", problems[1])
        self.assertIn("01:00.0: driver 8086:10d4", problems[2])


class LineTest(unittest.TestCase):
    def test_func_and_extcap_lines(self):
        m = rm.FUNC_LINE.match("FUNC 03:03.0 10ec:8139 020000")
        self.assertEqual([int(g, 16) for g in m.groups()], [3, 3, 0, 0x10EC, 0x8139, 0x020000])
        self.assertIsNone(rm.FUNC_LINE.match("FUNC 03:03.8 10ec:8139 020000"))
        m = rm.EXTCAP_LINE.match("EXTCAP 01:00.0 14020001 140 00010003")
        self.assertEqual([int(g, 16) for g in m.groups()], [1, 0, 0, 0x14020001, 0x140, 0x00010003])

    def test_monitor_dump_value(self):
        self.assertEqual(int(rm.XP_VALUE.search("00000000b0100100: 0x14020001\r\n").group(1), 16),
                         0x14020001)


class FakeMonitor:
    def __init__(self, memory):
        self.memory = memory

    def command(self, name, **arguments):
        address = int(arguments["command-line"].split()[-1], 16)
        return "%016x: 0x%08x\r\n" % (address, self.memory.get(address, 0xFFFFFFFF))


class ExtcapTest(unittest.TestCase):
    def test_headers_compared_at_the_function_place(self):
        base = 0xB0000000
        place = base | 1 << 20
        monitor = FakeMonitor({place | 0x100: 0x14020001, place | 0x140: 0x00010003})
        self.assertEqual(rm.check_extcaps(monitor, base, [(1, 0, 0, 0x14020001, 0x140, 0x00010003)]), [])
        problems = rm.check_extcaps(monitor, base, [(1, 0, 0, 0x14020001, 0x140, 0x0001000D)])
        self.assertEqual(len(problems), 1)
        self.assertIn("01:00.0", problems[0])
        # The same headers reported for another function do not match there.
        self.assertEqual(len(rm.check_extcaps(monitor, base, [(2, 0, 0, 0x14020001, 0x140, 0x00010003)])), 1)


def fake_driver(entry, symbols):
    """A PE32 image with two sections (.text at 0x1000, .data at 0x3000) and a
    COFF symbol table of (name, section number, value, storage class)."""
    sections = [(b".text", 0x1000), (b".data", 0x3000)]
    table_at = 0x40 + 24 + 0xE0 + 40 * len(sections)
    strings = b""
    records = b""
    for name, section, value, storage in symbols:
        raw = name.encode()
        if len(raw) <= 8:
            field = raw.ljust(8, b"\0")
        else:
            field = struct.pack("<II", 0, 4 + len(strings))
            strings += raw + b"\0"
        records += field + struct.pack("<IhHBB", value, section, 0x20, storage, 0)
    data = bytearray(b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x40))
    data += b"PE\0\0" + struct.pack("<HHIIIHH", 0x14C, len(sections), 0, table_at,
                                     len(symbols), 0xE0, 0x0102)
    optional = bytearray(0xE0)
    struct.pack_into("<HBBIIIIIII", optional, 0, 0x10B, 2, 40, 0, 0, 0, entry, 0x1000, 0x2000, 0x10000)
    data += optional
    for name, address in sections:
        data += name.ljust(8, b"\0") + struct.pack("<IIIIIIHHI", 0x100, address, 0, 0, 0, 0, 0, 0, 0)
    data += records + struct.pack("<I", 4 + len(strings)) + strings
    return bytes(data)


class SymbolTest(unittest.TestCase):
    SYMBOLS = [("_EcamBase", 2, 0x0, 2),
               ("_DriverEntry@8", 1, 0x20, 2),
               ("__Z19DispatchCreateCloseP14_DEVICE_OBJECTP4_IRP@8", 1, 0x40, 2),
               ("__Z21DispatchDeviceControlP14_DEVICE_OBJECTP4_IRP@8", 1, 0x80, 2),
               ("__Z12UnloadDriverP14_DRIVER_OBJECT@4", 1, 0xC0, 2),
               ("_gLocal", 2, 0x10, 3)]  # static: not passed on

    def test_source_names(self):
        self.assertEqual(rm.plain_symbol_name("_EcamBase"), "EcamBase")
        self.assertEqual(rm.plain_symbol_name("_DriverEntry@8"), "DriverEntry")
        self.assertEqual(rm.plain_symbol_name("__Z12UnloadDriverP14_DRIVER_OBJECT@4"), "UnloadDriver")
        self.assertIsNone(rm.plain_symbol_name(".text"))

    def test_rvas_from_the_debug_file(self):
        debug = fake_driver(0x1020, self.SYMBOLS)
        with tempfile.NamedTemporaryFile(suffix=".debug", delete=False) as f:
            f.write(debug)
        try:
            symbols = rm.driver_symbols(fake_driver(0x1020, []), f.name)
            self.assertEqual(symbols, {"EcamBase": 0x3000, "DriverEntry": 0x1020,
                                       "DispatchCreateClose": 0x1040,
                                       "DispatchDeviceControl": 0x1080, "UnloadDriver": 0x10C0})
            # A debug file of another build: its DriverEntry is not this driver's entry.
            with self.assertRaises(ValueError):
                rm.driver_symbols(fake_driver(0x1024, []), f.name)
        finally:
            os.unlink(f.name)


if __name__ == "__main__":
    unittest.main()
