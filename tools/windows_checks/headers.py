"""The headers of an image and, for the driver, its imports and its own port
instructions:
 - all: the machine and optional header of the architecture (PE32 for x86,
   PE32+ for x64), the subsystem of the file's kind, no DLL flag;
 - the driver: imports from ntoskrnl.exe and hal.dll only, the routines it
   needs (the bus-data reads, the mappings, the device and link calls, the
   device's security descriptor) and none that the platform or a newer
   kernel provides in their place, its own 32-bit in and out on the port
   pair, an entry point."""

import re

from pe_file import DLL
from verdict import rule

FORMATS = {'x86': (0x14C, 'pei-i386', False, 'PE32'), 'x64': (0x8664, 'pei-x86-64', True, 'PE32+')}
SUBSYSTEMS = {'exe': (2, 'Windows GUI'), 'qvcli': (3, 'Windows console'), 'sys': (1, 'native')}
NEEDED = '''HalGetBusData HalGetBusDataByOffset MmMapIoSpace MmUnmapIoSpace IoCreateDevice IoDeleteDevice
    IoCreateSymbolicLink IoDeleteSymbolicLink IofCompleteRequest RtlInitUnicodeString RtlCreateSecurityDescriptor
    RtlCreateAcl RtlAddAccessAllowedAce RtlSetDaclSecurityDescriptor ObOpenObjectByPointer ZwSetSecurityObject
    ZwClose'''.split()
# The platform's port accessors would not be the driver's own sequence;
# IoValidateDeviceIoControlAccess and IoCreateDeviceSecure do not exist on
# XP's kernel.
SHUNNED = 'READ_PORT_ULONG WRITE_PORT_ULONG IoValidateDeviceIoControlAccess IoCreateDeviceSecure'.split()
PORT_IN = re.compile(r'\sin\s+\(%dx\),%eax')
PORT_OUT = re.compile(r'\sout\s+%eax,\(%dx\)')


def check(image, arch, kind):
    machine, name, plus, optional = FORMATS[arch]
    header = image.pe.FILE_HEADER
    rule(header.Machine == machine, name, 'not a %s image' % name)
    rule(image.pe32plus == plus, '%s optional header' % optional, 'optional header is not %s' % optional)
    number, subsystem = SUBSYSTEMS[kind]
    rule(image.pe.OPTIONAL_HEADER.Subsystem == number, '%s subsystem' % subsystem,
         'subsystem is not %s' % subsystem)
    flags = header.Characteristics
    rule(flags & DLL == 0, 'no DLL flag (characteristics 0x%x)' % flags,
         'DLL flag set or characteristics unreadable (0x%x)' % flags)


def check_driver(image, disassembly):
    dlls = image.dlls()
    rule(dlls == ['hal.dll', 'ntoskrnl.exe'], 'imports only ntoskrnl.exe and hal.dll',
         'imports from: ' + ' '.join(dlls))
    names = {routine for _dll, routine in image.imports().values()}
    for name in NEEDED:
        rule(name in names, 'imports ' + name, 'does not import ' + name)
    for name in SHUNNED:
        rule(name not in names, 'does not use ' + name, "uses the platform's " + name)
    rule(PORT_IN.search(disassembly), 'reads port 0xCF8 itself', 'has no 32-bit port input instruction')
    rule(PORT_OUT.search(disassembly), 'writes the port pair itself', 'has no 32-bit port output instruction')
    rule(image.entry != 0, 'has an entry point', 'no entry point')
