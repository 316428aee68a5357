#!/usr/bin/env python3
"""The built qvcli against independent readers, on several machines.

  check_qvcli.py lspci_reads_dumps_back  QVCLI DRIVER SOURCE_TOP WORK
  check_qvcli.py json_agrees_with_list   QVCLI DRIVER SOURCE_TOP WORK

lspci_reads_dumps_back: `qvcli dump` of each machine is read back by
`lspci -F FILE -xxxx` (pciutils) to the same functions and bytes, and those
bytes are the machine file's own, header and (for PCI Express functions)
extended space, wherever the file gives them.
json_agrees_with_list: `qvcli list --json` parses as JSON and says what
`qvcli list` says, function by function.
Exit 0 when all holds, 1 otherwise, 77 when lspci is not installed.
"""
import json
import os
import re
import shutil
import subprocess
import sys

MACHINES = [
    None,  # the embedded default machine
    'tests/fixtures/fujitsu-p8010.lspci',
    'tests/fixtures/kinds.lspci',
    'tests/fixtures/pcix-server.lspci',
    'tests/fixtures/cap-aer-root.lspci',
    'tests/fixtures/cap-pcie-2.lspci',
    'tests/fixtures/cap-ht.lspci',
    'machines/tree-fsl-p2020',
    'machines/PCI-X-bridges-and-domains',
]

DEVICE = re.compile(r'^(?:([0-9a-fA-F]{4}):)?([0-9a-fA-F]{2}:[0-9a-fA-F]{2}\.[0-7])( |$)')
DATA = re.compile(r'^([0-9a-fA-F]{1,3}):((?: [0-9a-fA-F]{2}){16})\s*$')


def rows_of(text, domain_zero_only=True):
    """{address: {offset: [16 bytes]}} of the functions in lspci -xxxx text."""
    functions, current = {}, None
    for line in text.splitlines():
        device = DEVICE.match(line)
        if device:
            domain = int(device.group(1) or '0', 16)
            current = None
            if domain == 0 or not domain_zero_only:
                current = functions.setdefault(device.group(2).lower(), {})
            continue
        data = DATA.match(line)
        if data and current is not None:
            current[int(data.group(1), 16)] = [int(b, 16) for b in data.group(2).split()]
        elif not line.strip():
            current = None
    return functions


def run_qvcli(qvcli, folder, machine, top, *args):
    command = [qvcli]
    if machine:
        command += ['--machine', os.path.join(top, machine)]
    command += list(args)
    result = subprocess.run(command, cwd=folder, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError('%s exited with %d: %s' % (' '.join(command), result.returncode, result.stderr))
    return result.stdout


def lspci_reads_dumps_back(qvcli, folder, top):
    if shutil.which('lspci') is None:
        print('SKIP: lspci (pciutils) is not installed')
        return 77
    problems = 0
    for machine in MACHINES:
        name = machine or 'the default machine'
        dump = run_qvcli(qvcli, folder, machine, top, 'dump')
        path = os.path.join(folder, 'dump.txt')
        with open(path, 'w') as out:
            out.write(dump)
        ours = rows_of(dump)
        back = rows_of(subprocess.run(['lspci', '-F', path, '-xxxx'], capture_output=True, text=True).stdout)
        if not ours:
            print('FAIL: %s: qvcli dumped nothing' % name)
            problems += 1
            continue
        if ours != back:
            missing = sorted(set(ours) ^ set(back))
            differing = sorted(a for a in set(ours) & set(back) if ours[a] != back[a])
            print('FAIL: %s: lspci -F reads back other functions %s or bytes %s' % (name, missing, differing))
            problems += 1
            continue
        source = rows_of(open(os.path.join(top, machine)).read()) if machine else None
        if source is None:
            default = os.path.join(top, 'machines/default.lspci')
            source = rows_of(open(default).read())
        checked = 0
        for address, rows in ours.items():
            given = source.get(address)
            if given is None:
                print('FAIL: %s: %s is not in the machine file' % (name, address))
                problems += 1
                continue
            for offset, data in rows.items():
                if offset in given:
                    checked += 1
                    if given[offset] != data:
                        print('FAIL: %s: %s row %03x is %s, the file gives %s' % (name, address, offset, data,
                                                                               given[offset]))
                        problems += 1
        extended = sum(1 for rows in ours.values() if 0x100 in rows)
        print('ok: %s: %d functions (%d with extended space) read back by lspci -F; %d rows as the file gives them'
              % (name, len(ours), extended, checked))
    return 1 if problems else 0


LIST_LINE = re.compile(r'^([0-9a-f]{2}):([0-9a-f]{2})\.([0-7]) ([0-9a-f]{6}) ([0-9a-f]{4}):([0-9a-f]{4})( PCI Express)?$')


def json_agrees_with_list(qvcli, folder, top):
    problems = 0
    for machine in MACHINES:
        name = machine or 'the default machine'
        listing = run_qvcli(qvcli, folder, machine, top, 'list').splitlines()
        try:
            objects = json.loads(run_qvcli(qvcli, folder, machine, top, 'list', '--json'))
        except ValueError as error:
            print('FAIL: %s: list --json is not JSON: %s' % (name, error))
            problems += 1
            continue
        if not isinstance(objects, list) or len(objects) != len(listing) or not listing:
            print('FAIL: %s: %d lines but %r' % (name, len(listing), type(objects)))
            problems += 1
            continue
        for line, item in zip(listing, objects):
            match = LIST_LINE.match(line)
            if match is None:
                print('FAIL: %s: list line %r' % (name, line))
                problems += 1
                continue
            expected = {
                'bus': int(match.group(1), 16), 'device': int(match.group(2), 16),
                'function': int(match.group(3)), 'class_code': match.group(4), 'vendor': match.group(5),
                'device_id': match.group(6), 'pci_express': match.group(7) is not None,
            }
            got = {key: item.get(key) for key in expected}
            if got != expected or not isinstance(item.get('class_text'), str) or not item['class_text']:
                print('FAIL: %s: %r against %r' % (name, item, line))
                problems += 1
        print('ok: %s: %d functions, list and list --json agree' % (name, len(listing)))
    return 1 if problems else 0


def main():
    check, qvcli, driver, top, work = sys.argv[1:6]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    shutil.copy(driver, os.path.join(work, 'QUORVENAL.sys'))
    checks = {'lspci_reads_dumps_back': lspci_reads_dumps_back, 'json_agrees_with_list': json_agrees_with_list}
    return checks[check](qvcli, work, top)


if __name__ == '__main__':
    sys.exit(main())
