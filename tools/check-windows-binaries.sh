#!/usr/bin/env bash
# Checks the 32-bit Windows deliverables in a build folder without Windows:
#   tools/check-windows-binaries.sh BUILD_DIR [all|exe|sys|qvcli]
# quorvenal.exe: PE32, GUI subsystem, not a DLL; dialog 102 exactly as the
# program's window is laid out, group icon 128 with nine images, version
# 1.0.0.1 named "quorvenal.exe".
# qvcli.exe: PE32, console subsystem, not a DLL; a manifest that requires
# administrator rights (trustInfo in the asm.v3 namespace), version 1.0.0.1
# named "qvcli.exe".
# QUORVENAL.sys: PE32, native subsystem, not a DLL, imports only ntoskrnl.exe
# and hal.dll (the bus-data reads, the mappings, the device and link calls, the
# device's security descriptor, the run-time lookup of KeIpiGenericCall), and
# of those only routines Windows XP exports (KeIpiGenericCall not imported), issues its own 32-bit port instructions, reads and writes the
# memory-mapped window only through AX, carries a version resource, has the
# usual driver image base 0x10000, no .eh_frame, DriverEntry in a discardable
# INIT section and a right checksum.
# Both: release form, no DWARF or symbols in the image, the debug information
# in IMAGE.debug beside it, named by the image's .gnu_debuglink.
# Prints one line per check; exits 0 when all pass, 1 when any fails, 77 when
# the tools are missing (the caller treats that as a skipped test).
set -uo pipefail

dir=${1:?usage: check-windows-binaries.sh BUILD_DIR [all|exe|sys|qvcli]}
what=${2:-all}
triple=i686-w64-mingw32
objdump=$triple-objdump
windres=$triple-windres

for tool in "$objdump" "$windres" python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (tools/install-deps.sh test installs it)"
    exit 77
  fi
done

failures=0
pass() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# check_pe FILE SUBSYSTEM_NUMBER SUBSYSTEM_NAME; leaves objdump's header dump in pe_header.
pe_header=""
check_pe() {
  local file=$1 subsystem=$2 name=$3 header
  header=$("$objdump" -p "$file" 2>&1) || { fail "$file: objdump cannot read it"; return 1; }
  pe_header=$header
  grep -q 'file format pei-i386' <<<"$header" && pass "$(basename "$file"): pei-i386" \
    || fail "$(basename "$file"): not a 32-bit x86 PE image"
  grep -Eq '^Magic[[:space:]]+010b' <<<"$header" && pass "$(basename "$file"): PE32 optional header" \
    || fail "$(basename "$file"): optional header is not PE32"
  grep -Eq "^Subsystem[[:space:]]+0*${subsystem}[[:space:]]" <<<"$header" \
    && pass "$(basename "$file"): $name subsystem" || fail "$(basename "$file"): subsystem is not $name"
  local characteristics
  characteristics=$(awk '/^Characteristics/ {print $2; exit}' <<<"$header")
  if [ -n "$characteristics" ] && (( (characteristics & 0x2000) == 0 )); then
    pass "$(basename "$file"): no DLL flag (characteristics $characteristics)"
  else
    fail "$(basename "$file"): DLL flag set or characteristics unreadable ($characteristics)"
  fi
}

# Decompiles the resources of FILE into a .res file and checks them with the
# rules named after it (dialog, icon, version, driver-version).
check_resources() {
  local file=$1; shift
  local res
  res=$(mktemp --suffix=.res)
  if ! "$windres" -i "$file" -O res -o "$res" 2>/dev/null; then
    fail "$(basename "$file"): windres cannot decompile its resources"
    rm -f "$res"
    return
  fi
  local out status
  out=$(python3 - "$res" "$@" <<'PY'
import struct, sys

def read_res(path):
    data = open(path, 'rb').read()
    pos, out = 0, {}
    def name_or_id(p):
        if struct.unpack_from('<H', data, p)[0] == 0xFFFF:
            return struct.unpack_from('<H', data, p + 2)[0], p + 4
        end = p
        while struct.unpack_from('<H', data, end)[0] != 0:
            end += 2
        return data[p:end].decode('utf-16-le'), end + 2
    while pos + 8 <= len(data):
        size, header = struct.unpack_from('<II', data, pos)
        rtype, p = name_or_id(pos + 8)
        rname, p = name_or_id(p)
        body = data[pos + header:pos + header + size]
        if size:
            out[(rtype, rname)] = body
        pos += header + size
        pos = (pos + 3) & ~3
    return out

def sz_or_ord(b, p):
    if struct.unpack_from('<H', b, p)[0] == 0xFFFF:
        return struct.unpack_from('<H', b, p + 2)[0], p + 4
    end = p
    while struct.unpack_from('<H', b, end)[0] != 0:
        end += 2
    return b[p:end].decode('utf-16-le'), end + 2

problems = []
def expect(what, got, want):
    if got != want:
        problems.append('%s is %r, expected %r' % (what, got, want))

# Control id, class, text, x, y, cx, cy, style: the window's template, in tab order.
BUTTON, EDIT = 0x80, 0x81
CONTROLS = [
    (1, BUTTON, 'Exit', 371, 137, 50, 21, 0x50010001),
    (2, BUTTON, 'Uninstall driver', 317, 138, 50, 21, 0x50000000),
    (1000, 'SysListView32', '', 7, 7, 414, 128, 0x5081880D),
    (1001, BUTTON, 'Rescan bus', 261, 137, 50, 26, 0x50010000),
    (1002, 'SysListView32', '', 7, 136, 249, 177, 0x50810905),
    (1008, BUTTON, '1', 363, 184, 57, 24, 0x50010000),
    (1009, BUTTON, '2', 363, 210, 57, 24, 0x50010000),
    (1010, BUTTON, '3', 363, 236, 57, 24, 0x50010000),
    (1011, BUTTON, '4', 363, 263, 57, 24, 0x50010000),
    (1012, BUTTON, '5', 363, 289, 57, 24, 0x50010000),
    (1013, BUTTON, '1', 266, 184, 34, 24, 0x50010000),
    (1014, BUTTON, '2', 266, 210, 34, 24, 0x50010000),
    (1015, BUTTON, '3', 266, 236, 34, 24, 0x50010000),
    (1016, BUTTON, '4', 266, 263, 34, 24, 0x50010000),
    (1017, BUTTON, '5', 266, 289, 34, 24, 0x50010000),
    (1004, EDIT, '', 315, 189, 35, 14, 0x50800880),
    (1018, EDIT, '', 315, 215, 35, 14, 0x50800880),
    (1019, EDIT, '', 315, 242, 35, 14, 0x50800880),
    (1020, EDIT, '', 315, 268, 35, 14, 0x50800880),
    (1021, EDIT, '', 315, 295, 35, 14, 0x50800880),
    (-1, BUTTON, 'Save config', 260, 171, 47, 142, 0x50000007),
    (-1, BUTTON, 'Saved device', 307, 171, 53, 142, 0x50000007),
    (-1, BUTTON, 'Reload config', 361, 171, 60, 142, 0x50000007),
]

def check_dialog(res):
    b = res.get((5, 102))
    if b is None:
        problems.append('no dialog resource 102')
        return
    ver, sig, _help, exstyle, style, count, x, y, cx, cy = struct.unpack_from('<HHIIIHhhhh', b, 0)
    if (ver, sig) != (1, 0xFFFF):
        problems.append('dialog 102 is not an extended template')
        return
    expect('dialog style', hex(style), hex(0x90CF0048))
    expect('dialog extended style', hex(exstyle), hex(0x40000))
    expect('dialog position and size', (x, y, cx, cy), (0, 0, 428, 320))
    p = 26
    menu, p = sz_or_ord(b, p)
    cls, p = sz_or_ord(b, p)
    title, p = sz_or_ord(b, p)
    expect('dialog menu', menu, '')
    expect('dialog class', cls, '')
    expect('dialog caption', title, 'quorvenal')
    point, weight, italic, charset = struct.unpack_from('<HHBB', b, p)
    face, p = sz_or_ord(b, p + 6)
    expect('dialog font', (point, weight, italic, charset, face), (8, 0, 0, 1, 'MS Shell Dlg'))
    expect('control count', count, len(CONTROLS))
    items = []
    for _ in range(count):
        p = (p + 3) & ~3
        _h, ex, st, ix, iy, icx, icy, cid = struct.unpack_from('<IIIhhhhi', b, p)
        p += 24
        icls, p = sz_or_ord(b, p)
        text, p = sz_or_ord(b, p)
        extra = struct.unpack_from('<H', b, p)[0]
        p += 2 + extra
        if isinstance(icls, str):
            icls = {'button': BUTTON, 'edit': EDIT}.get(icls.lower(), icls)
        items.append((cid, icls, text, ix, iy, icx, icy, st))
    for n, (got, want) in enumerate(zip(items, CONTROLS)):
        gid, gcls, gtext, gx, gy, gcx, gcy, gst = got
        wid, wcls, wtext, wx, wy, wcx, wcy, wst = want
        if isinstance(gcls, str) and isinstance(wcls, str):
            gcls = wcls if gcls.lower() == wcls.lower() else gcls
        expect('control %d' % n, (gid, gcls, gtext, gx, gy, gcx, gcy, hex(gst & 0xFFFFFFFF)),
               (wid, wcls, wtext, wx, wy, wcx, wcy, hex(wst)))

def check_icon(res):
    b = res.get((14, 128))
    if b is None:
        problems.append('no group icon 128')
        return
    _r, kind, count = struct.unpack_from('<HHH', b, 0)
    expect('group icon 128 kind', kind, 1)
    images = set()
    for i in range(count):
        w, h, colours, _z, _planes, bits, size, nid = struct.unpack_from('<BBBBHHIH', b, 6 + 14 * i)
        if (3, nid) not in res:
            problems.append('icon image %d of group 128 is missing' % nid)
        images.add((w, h, bits))
    want = {(s, s, bits) for s in (48, 32, 16) for bits in (4, 8, 32)}
    expect('group icon 128 images', sorted(images), sorted(want))
    expect('group icon 128 image count', count, 9)

def version_strings(b):
    strings, text = {}, b.decode('utf-16-le', errors='replace')
    for key in ('InternalName', 'OriginalFilename', 'FileVersion', 'ProductVersion'):
        at = text.find(key + '\0')
        if at >= 0:
            start = at + len(key) + 1
            while start < len(text) and text[start] == '\0':
                start += 1
            strings[key] = text[start:text.find('\0', start)]
    return strings

def fixed_version(res):
    b = next((v for (t, _n), v in res.items() if t == 16), None)
    if b is None:
        problems.append('no version resource')
        return None, None
    at = b.find(struct.pack('<I', 0xFEEF04BD))
    if at < 0:
        problems.append('version resource has no fixed file information')
        return None, b
    ms, ls, pms, pls = struct.unpack_from('<IIII', b, at + 8)
    return ((ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF),
            (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)), b

def check_version(res, name='quorvenal.exe'):
    versions, b = fixed_version(res)
    if versions is None:
        return
    expect('file and product version', versions, ((1, 0, 0, 1), (1, 0, 0, 1)))
    s = version_strings(b)
    expect('InternalName', s.get('InternalName'), name)
    expect('OriginalFilename', s.get('OriginalFilename'), name)

def check_qvcli_version(res):
    check_version(res, 'qvcli.exe')

def check_admin_manifest(res):
    b = res.get((24, 1))
    if b is None:
        problems.append('no manifest (RT_MANIFEST 1)')
        return
    import xml.dom.minidom
    try:
        doc = xml.dom.minidom.parseString(b)
    except Exception as error:
        problems.append('the manifest is not XML: %s' % error)
        return
    v3 = 'urn:schemas-microsoft-com:asm.v3'
    levels = [e.getAttribute('level') for e in doc.getElementsByTagNameNS(v3, 'requestedExecutionLevel')]
    expect('requested execution level (asm.v3 trustInfo)', levels, ['requireAdministrator'])

def check_driver_version(res):
    fixed_version(res)

res = read_res(sys.argv[1])
for rule in sys.argv[2:]:
    {'dialog': check_dialog, 'icon': check_icon, 'version': check_version,
     'driver-version': check_driver_version, 'qvcli-version': check_qvcli_version,
     'admin-manifest': check_admin_manifest}[rule](res)
    print('%s %s' % ('bad' if problems else 'good', rule))
    for problem in problems:
        print('  ' + problem)
    del problems[:]
PY
)
  status=$?
  rm -f "$res"
  if [ $status -ne 0 ]; then
    fail "$(basename "$file"): resource check did not run"
    printf '%s\n' "$out"
    return
  fi
  local rule=""
  while IFS= read -r line; do
    case $line in
      "good "*) pass "$(basename "$file"): ${line#good } resource" ;;
      "bad "*) rule=${line#bad }; fail "$(basename "$file"): $rule resource" ;;
      *) echo "$line" ;;
    esac
  done <<<"$out"
}

# Release form and, for the driver, the build hygiene the system relies on:
# check_release FILE exe|sys. The driver's window accesses are the 16-bit
# memory accesses between a call of MmMapIoSpace and the next call of
# MmUnmapIoSpace in its disassembly; each must go through AX.
check_release() {
  local file=$1 kind=$2 out status code
  code=$(mktemp)
  [ "$kind" = sys ] && "$objdump" -d --no-show-raw-insn "$file" >"$code" 2>/dev/null
  out=$(python3 - "$file" "$kind" "$code" <<'PY'
import os, re, struct, sys, zlib

path, kind, code = sys.argv[1], sys.argv[2], sys.argv[3]
data = open(path, 'rb').read()
name = os.path.basename(path)
results = []
def rule(ok, good, bad):
    results.append(('good ' + good) if ok else ('bad ' + bad))

pe = struct.unpack_from('<I', data, 0x3C)[0]
count = struct.unpack_from('<H', data, pe + 6)[0]
symbols_at, symbol_count = struct.unpack_from('<II', data, pe + 12)
optional = pe + 24
table = optional + struct.unpack_from('<H', data, pe + 20)[0]
image_base = struct.unpack_from('<I', data, optional + 28)[0]
entry = struct.unpack_from('<I', data, optional + 16)[0]
checksum_at = optional + 64
strings = symbols_at + 18 * symbol_count

def section_name(raw):
    raw = raw.rstrip(b'\0').decode('ascii', 'replace')
    if raw.startswith('/') and raw[1:].isdigit() and symbols_at:
        at = strings + int(raw[1:])
        return data[at:data.index(b'\0', at)].decode('ascii', 'replace')
    return raw

sections = []
for i in range(count):
    h = table + 40 * i
    sections.append((section_name(data[h:h + 8]),) + struct.unpack_from('<IIII', data, h + 8)
                    + (struct.unpack_from('<I', data, h + 36)[0],))

def checksum():
    total = 0
    for i in range(0, len(data), 2):
        if i in (checksum_at, checksum_at + 2):
            continue
        total += data[i] | (data[i + 1] << 8 if i + 1 < len(data) else 0)
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16)) + len(data)

dwarf = [s[0] for s in sections if s[0].startswith(('.debug', '.zdebug'))]
rule(not dwarf, 'no DWARF sections', 'DWARF sections in the image: ' + ' '.join(dwarf))
rule(symbol_count == 0, 'no symbol table', '%d COFF symbols in the image' % symbol_count)
link = [s for s in sections if s[0] == '.gnu_debuglink']
debug_file = path + '.debug'
if not link:
    rule(False, '', 'no .gnu_debuglink naming the debug file')
else:
    _n, _vsize, _rva, raw_size, raw_at, _f = link[0]
    body = data[raw_at:raw_at + raw_size]
    linked = body[:body.index(b'\0')].decode('ascii', 'replace')
    crc = struct.unpack_from('<I', body, (len(linked) + 4) & ~3)[0]
    present = os.path.isfile(debug_file)
    rule(linked == name + '.debug' and present and zlib.crc32(open(debug_file, 'rb').read()) == crc,
         'debug information in %s beside it' % (name + '.debug'),
         'debug link names %r (file present: %s, CRC matches: %s)' % (
             linked, present, present and zlib.crc32(open(debug_file, 'rb').read()) == crc))
stored = struct.unpack_from('<I', data, checksum_at)[0]
rule(stored == checksum(), 'PE checksum 0x%x' % stored,
     'PE checksum 0x%x in the header, 0x%x computed' % (stored, checksum()))

if kind == 'sys':
    rule(image_base == 0x10000, 'image base 0x10000', 'image base 0x%x, not the driver base 0x10000' % image_base)
    unwind = [s[0] for s in sections if s[0] in ('.eh_frame', '.eh_fram')]
    rule(not unwind, 'no .eh_frame', 'unwind tables in the image: ' + ' '.join(unwind))
    home = [s for s in sections if s[2] <= entry < s[2] + max(s[1], s[3])]
    ok = bool(home) and home[0][0] == 'INIT' and home[0][5] & 0x02000000 != 0
    rule(ok, 'DriverEntry in the discardable INIT section',
         'entry point 0x%x lies in %s' % (entry, '%s (flags 0x%08x)' % (home[0][0], home[0][5])
                                          if home else 'no section'))

    # Which import address table slot holds which routine.
    def rva_to_offset(rva):
        for s in sections:
            if s[2] <= rva < s[2] + s[3] + 0 and s[4]:
                return s[4] + rva - s[2]
        return None
    slots = {}
    directory = struct.unpack_from('<II', data, optional + 96 + 8)
    at = rva_to_offset(directory[0]) if directory[0] else None
    while at is not None:
        lookup, _t, _c, _n, iat = struct.unpack_from('<IIIII', data, at)
        if lookup == 0 and iat == 0:
            break
        k = 0
        while True:
            thunk_at = rva_to_offset((lookup or iat) + 4 * k)
            thunk = struct.unpack_from('<I', data, thunk_at)[0]
            if thunk == 0:
                break
            if not thunk & 0x80000000:
                n_at = rva_to_offset(thunk + 2)
                slots[image_base + iat + 4 * k] = data[n_at:data.index(b'\0', n_at)].decode()
            k += 1
        at += 20
    # Routines Windows XP's ntoskrnl.exe and hal.dll export that the driver
    # may use; a name outside the list is newer or unreviewed, and a newer
    # one stops the driver loading on XP.
    xp = set('''HalGetBusData HalGetBusDataByOffset KfRaiseIrql KfLowerIrql KeGetCurrentIrql
        KeRaiseIrqlToDpcLevel IoCreateDevice IoDeleteDevice IoCreateSymbolicLink
        IoDeleteSymbolicLink IofCompleteRequest KeInitializeMutex KeReleaseMutex
        KeWaitForSingleObject MmMapIoSpace MmUnmapIoSpace RtlInitUnicodeString
        ObOpenObjectByPointer ZwSetSecurityObject ZwClose RtlCreateSecurityDescriptor RtlCreateAcl
        RtlAddAccessAllowedAce RtlSetDaclSecurityDescriptor RtlLengthSid SeExports
        MmGetPhysicalMemoryRanges ExFreePool ExFreePoolWithTag ExAllocatePoolWithTag
        READ_REGISTER_USHORT WRITE_REGISTER_USHORT READ_REGISTER_ULONG WRITE_REGISTER_ULONG
        MmGetSystemRoutineAddress'''.split())
    newer = sorted(set(slots.values()) - xp)
    rule(not newer, 'imports only routines Windows XP exports (%d)' % len(slots),
         'imports routines not on the list of Windows XP exports: ' + ' '.join(newer))
    held = {}
    mapped = False
    faults = []
    accesses = 0
    insn = re.compile(r'^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$')
    sixteen = re.compile(r'%(ax|bx|cx|dx|si|di|bp|sp)\b')
    for line in open(code):
        m = insn.match(line)
        if not m:
            continue
        address, op, operands = m.groups()
        operands = operands.split('#')[0].strip()
        load = re.match(r'^0x([0-9a-f]+),%(e[a-z]{2})$', operands)
        if op == 'mov' and load:
            held[load.group(2)] = slots.get(int(load.group(1), 16))
        if op == 'call':
            target = None
            direct = re.match(r'^\*0x([0-9a-f]+)$', operands)
            via = re.match(r'^\*%(e[a-z]{2})$', operands)
            if direct:
                target = slots.get(int(direct.group(1), 16))
            elif via:
                target = held.get(via.group(1))
            if target == 'MmMapIoSpace':
                mapped = True
            elif target == 'MmUnmapIoSpace':
                mapped = False
            continue
        if not mapped or '(' not in operands or op.startswith('lea'):
            continue
        wide = op in ('movzwl', 'movswl', 'movzww', 'movsww') or op.endswith('w') or sixteen.search(operands)
        if not wide:
            continue
        accesses += 1
        through_ax = (op in ('movzwl', 'movswl') and operands.endswith(',%eax')) or \
                     (op in ('mov', 'movw') and re.search(r'(^%ax,|,%ax$)', operands) is not None)
        if not through_ax:
            faults.append('%s %s %s' % (address, op, operands))
    rule(not faults, 'window accessed through AX only (%d 16-bit accesses)' % accesses,
         '16-bit window access through another register than AX: ' + '; '.join(faults[:4]))

for r in results:
    print(r)
PY
)
  status=$?
  rm -f "$code"
  if [ $status -ne 0 ]; then
    fail "$(basename "$file"): release checks did not run"
    printf '%s\n' "$out"
    return
  fi
  while IFS= read -r line; do
    case $line in
      "good "*) pass "$(basename "$file"): ${line#good }" ;;
      "bad "*) fail "$(basename "$file"): ${line#bad }" ;;
      *) echo "$line" ;;
    esac
  done <<<"$out"
}

check_exe() {
  local exe=$dir/quorvenal.exe
  [ -f "$exe" ] || { fail "quorvenal.exe is not in the build folder"; return; }
  check_pe "$exe" 2 "Windows GUI"
  check_resources "$exe" dialog icon version
  check_release "$exe" exe
}

check_qvcli() {
  local exe=$dir/qvcli.exe
  [ -f "$exe" ] || { fail "qvcli.exe is not in the build folder"; return; }
  check_pe "$exe" 3 "Windows console"
  check_resources "$exe" admin-manifest qvcli-version
  check_release "$exe" exe
}

check_sys() {
  local sys=$dir/QUORVENAL.sys header
  [ -f "$sys" ] || { fail "QUORVENAL.sys is not in the build folder"; return; }
  check_pe "$sys" 1 "native" || return
  header=$pe_header

  local dlls
  dlls=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$header" | sort -u | tr '\n' ' ')
  [ "$dlls" = "hal.dll ntoskrnl.exe " ] && pass "QUORVENAL.sys: imports only ntoskrnl.exe and hal.dll" \
    || fail "QUORVENAL.sys: imports from: $dlls"
  local name
  for name in HalGetBusData HalGetBusDataByOffset MmMapIoSpace MmUnmapIoSpace IoCreateDevice \
              IoDeleteDevice IoCreateSymbolicLink IoDeleteSymbolicLink IofCompleteRequest \
              RtlInitUnicodeString RtlCreateSecurityDescriptor RtlCreateAcl RtlAddAccessAllowedAce \
              RtlSetDaclSecurityDescriptor ObOpenObjectByPointer ZwSetSecurityObject ZwClose \
              MmGetSystemRoutineAddress; do
    grep -Eq "[[:space:]]$name\$" <<<"$header" && pass "QUORVENAL.sys: imports $name" \
      || fail "QUORVENAL.sys: does not import $name"
  done
  # IoValidateDeviceIoControlAccess, IoCreateDeviceSecure and KeIpiGenericCall do not exist
  # on XP's kernel (the driver looks the last up with MmGetSystemRoutineAddress).
  for name in READ_PORT_ULONG WRITE_PORT_ULONG IoValidateDeviceIoControlAccess IoCreateDeviceSecure \
              KeIpiGenericCall; do
    grep -Eq "[[:space:]]$name\$" <<<"$header" && fail "QUORVENAL.sys: uses the platform's $name" \
      || pass "QUORVENAL.sys: does not use $name"
  done
  local code
  code=$("$objdump" -d "$sys" 2>/dev/null)
  grep -Eq 'in[[:space:]]+\(%dx\),%eax' <<<"$code" && pass "QUORVENAL.sys: reads port 0xCF8 itself" \
    || fail "QUORVENAL.sys: has no 32-bit port input instruction"
  grep -Eq 'out[[:space:]]+%eax,\(%dx\)' <<<"$code" && pass "QUORVENAL.sys: writes the port pair itself" \
    || fail "QUORVENAL.sys: has no 32-bit port output instruction"
  grep -Eq '^AddressOfEntryPoint[[:space:]]+0*[1-9a-f]' <<<"$header" && pass "QUORVENAL.sys: has an entry point" \
    || fail "QUORVENAL.sys: no entry point"
  check_resources "$sys" driver-version
  check_release "$sys" sys
}

case $what in
  all) check_exe; check_sys; check_qvcli ;;
  exe) check_exe ;;
  sys) check_sys ;;
  qvcli) check_qvcli ;;
  *) echo "unknown part: $what (all, exe, sys or qvcli)"; exit 2 ;;
esac

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
