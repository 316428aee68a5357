#!/usr/bin/env python3
"""Checks one Windows image by its rules:
    check_image.py IMAGE x86|x64 exe|qvcli|sys [DISASSEMBLY]
exe is quorvenal.exe, qvcli is qvcli.exe, sys is QUORVENAL.sys, whose rules
also read its disassembly (`objdump -d --no-show-raw-insn IMAGE`). Prints
"good TEXT" or "bad TEXT" for each rule (verdict.py); an image that pefile
cannot read is one "bad" line. A rule that breaks exits with Python's error,
which the checker reports as a check that did not run."""

import sys

import code_rules
import driver_image
import headers
import pe_file
import release_form
import resources
import unwind
import window_access
from verdict import rule

RESOURCES = {'exe': ['dialog', 'icon', 'version'], 'qvcli': ['admin-manifest', 'qvcli-version'],
             'sys': ['driver-version']}


def main(path, arch, kind, disassembly=None):
    try:
        image = pe_file.Image(path)
    except (pe_file.Error, OSError) as error:
        rule(False, '', 'pefile cannot read it (%s)' % error)
        return 0
    headers.check(image, arch, kind)
    code = open(disassembly).read().splitlines() if kind == 'sys' else []
    if kind == 'sys':
        headers.check_driver(image, '\n'.join(code))
    resources.check(image, RESOURCES[kind])
    release_form.check(image)
    if kind == 'sys':
        driver_image.check(image, arch)
        window_access.check(image, code)
        code_rules.check(code, arch)
        if arch == 'x64':
            unwind.check(image, code)
    return 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
