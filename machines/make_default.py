#!/usr/bin/env python3
"""Builds default.lspci, the machine the stand-in runs without a file, from
the real dumps in this folder:

  - every function of tree-fujitsu-p8010 (host bridge, graphics, USB with gaps
    in its function numbers, audio, two PCI Express root ports with endpoints
    carrying extended capabilities, a PCI-to-PCI bridge with a CardBus bridge
    (header type 2) and conventional devices behind it, LPC, SATA, SMBus);
  - the 82545EM network controller of PCI-X-bridges-and-domains (it carries a
    PCI-X capability), moved to bus 1c, device 05, behind the PCI bridge;
  - a third root port 00:1c.1 (the first one's image, renumbered) with an
    NVMe endpoint 08:00.0 behind it, made from the image of 04:00.0 with the
    identity, class and BARs of an NVMe controller;
  - a fourth root port 00:1c.2 with the USB 3.0 xHCI controller of
    tree-fsl-p2020 (0002:01:00.0, its whole 4096-byte space) at 0c:00.0;
  - a fifth root port 00:1c.3 with a SATA AHCI endpoint 10:00.0, made from the
    image of 04:00.0 with the identity, class and BARs of an AHCI controller.

Run it from this folder: python3 make_default.py > default.lspci
"""


def read_blocks(path):
    blocks = {}
    order = []
    current = None
    for line in open(path):
        line = line.rstrip("\n")
        if not line.strip():
            current = None
            continue
        if current is None:
            current = line.split(" ", 1)[0]
            blocks[current] = {"title": line.split(" ", 1)[1], "bytes": {}}
            order.append(current)
            continue
        offset, _, data = line.partition(":")
        blocks[current]["bytes"][int(offset, 16)] = [int(b, 16) for b in data.split()]
    return blocks, order


def image(block):
    size = max(block["bytes"]) + 16
    data = [0] * size
    for offset, row in block["bytes"].items():
        data[offset:offset + 16] = row
    return data


def put16(data, offset, value):
    data[offset] = value & 0xFF
    data[offset + 1] = value >> 8


def put32(data, offset, value):
    put16(data, offset, value & 0xFFFF)
    put16(data, offset + 2, value >> 16)


def emit(address, title, data):
    lines = ["%s %s" % (address, title)]
    for offset in range(0, len(data), 16):
        lines.append("%02x: %s" % (offset, " ".join("%02x" % b for b in data[offset:offset + 16])))
    return "\n".join(lines) + "\n"


def main():
    fujitsu, order = read_blocks("tree-fujitsu-p8010")
    pcix, _ = read_blocks("PCI-X-bridges-and-domains")

    functions = [(address, fujitsu[address]["title"], image(fujitsu[address])) for address in order]

    port = image(fujitsu["00:1c.0"])
    put16(port, 0x02, 0x2841)          # 82801H PCI Express Port 2
    port[0x18:0x1B] = [0x00, 0x08, 0x0B]  # buses 08..0b behind it
    put32(port, 0x20, 0xFC10FC10)      # memory window fc100000..fc1fffff
    port[0x4F] = 0x02                  # link capabilities: port number 2
    functions.append(("00:1c.1", "PCI bridge: Intel Corporation 82801H (ICH8 Family) "
                      "PCI Express Port 2 (rev 03)", port))

    nvme = image(fujitsu["04:00.0"])
    put16(nvme, 0x00, 0x144D)          # vendor
    put16(nvme, 0x02, 0xA808)          # device
    nvme[0x08:0x0C] = [0x00, 0x02, 0x08, 0x01]  # revision, class 01 08 02 (NVM Express)
    put32(nvme, 0x10, 0xFC100004)      # BAR 0: 64-bit memory
    put32(nvme, 0x14, 0x00000000)
    put32(nvme, 0x18, 0x00000000)      # no I/O BAR
    put16(nvme, 0x2C, 0x144D)          # subsystem
    put16(nvme, 0x2E, 0xA801)
    nvme[0xE2] = 0x01                  # PCI Express endpoint, capability version 1
    functions.append(("08:00.0", "Non-Volatile memory controller: Samsung Electronics Co Ltd "
                      "NVMe SSD Controller SM981/PM981/PM983", nvme))

    def root_port(number, device_id, secondary, window):
        port = image(fujitsu["00:1c.0"])
        put16(port, 0x02, device_id)
        port[0x18:0x1B] = [0x00, secondary, secondary + 3]
        put32(port, 0x20, window)
        port[0x4F] = number              # link capabilities: port number
        functions.append(("00:1c.%d" % (number - 1), "PCI bridge: Intel Corporation 82801H "
                          "(ICH8 Family) PCI Express Port %d (rev 03)" % number, port))

    fsl, _ = read_blocks("tree-fsl-p2020")
    root_port(3, 0x2843, 0x0C, 0xFC30FC30)
    xhci = image(fsl["0002:01:00.0"])
    put32(xhci, 0x10, 0xFC300004)      # 64-bit memory BARs inside the port's window
    put32(xhci, 0x14, 0x00000000)
    put32(xhci, 0x18, 0xFC310004)
    put32(xhci, 0x1C, 0x00000000)
    functions.append(("0c:00.0", fsl["0002:01:00.0"]["title"], xhci))

    root_port(4, 0x2845, 0x10, 0xFC40FC40)
    ahci = image(fujitsu["04:00.0"])
    put16(ahci, 0x00, 0x1B21)          # vendor
    put16(ahci, 0x02, 0x0612)          # device
    ahci[0x08:0x0C] = [0x01, 0x01, 0x06, 0x01]  # revision, class 01 06 01 (SATA, AHCI)
    put32(ahci, 0x10, 0x0000D001)      # I/O BARs of the legacy interface, then ABAR
    put32(ahci, 0x14, 0x0000D101)
    put32(ahci, 0x18, 0x0000D201)
    put32(ahci, 0x1C, 0x0000D301)
    put32(ahci, 0x20, 0x0000D401)
    put32(ahci, 0x24, 0xFC400000)
    put16(ahci, 0x2C, 0x1B21)          # subsystem
    put16(ahci, 0x2E, 0x1060)
    ahci[0xE2] = 0x01                  # PCI Express endpoint, capability version 1
    functions.append(("10:00.0", "SATA controller: ASMedia Technology Inc. "
                      "ASM1062 Serial ATA Controller (rev 01)", ahci))

    nic = image(pcix["0002:01:01.0"])
    put32(nic, 0x10, 0xF4020004)       # 64-bit memory BARs inside the PCI bridge's window
    put32(nic, 0x18, 0xF4000004)
    functions.append(("1c:05.0", pcix["0002:01:01.0"]["title"], nic))

    def key(entry):
        bus, rest = entry[0].split(":")
        device, function = rest.split(".")
        return (int(bus, 16), int(device, 16), int(function))

    out = [
        "# The default machine of the quorvenal stand-in (made by make_default.py).\n",
        "# quorvenal ecam-base 0xf0000000\n",
        "# quorvenal ecam-last-bus 3f\n",
        "# quorvenal memory 0x0 0xc0000000\n",
        "\n",
    ]
    for address, title, data in sorted(functions, key=key):
        out.append(emit(address, title, data))
        out.append("\n")
    print("".join(out), end="")


if __name__ == "__main__":
    main()
