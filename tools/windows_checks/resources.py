"""The resources of a Windows image, as pefile reads them from its resource
directory. The rules: dialog (template 102 exactly as the program's window is
laid out), icon (group 128 with nine images), version (1.0.0.1 named
"quorvenal.exe"), qvcli-version (the same named "qvcli.exe"), driver-version
(fixed file information present), admin-manifest (requireAdministrator in the
asm.v3 trustInfo). pefile reads the version information; the dialog template
and the icon group it leaves as bytes, which are read here. Prints
"good RULE resource" or "bad RULE resource" and the problems under it."""
import struct
import xml.dom.minidom

RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD

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

def version_strings(pe):
    strings = {}
    for info in (pe.FileInfo[0] if getattr(pe, 'FileInfo', None) else []):
        for table in getattr(info, 'StringTable', []):
            for key, value in table.entries.items():
                strings.setdefault(key.decode('utf-8', 'replace'), value.decode('utf-8', 'replace'))
    return strings

def fixed_version(res, pe):
    if not any(t == RT_VERSION for t, _n in res):
        problems.append('no version resource')
        return None
    fixed = (getattr(pe, 'VS_FIXEDFILEINFO', None) or [None])[0]
    if fixed is None or fixed.Signature != FIXED_SIGNATURE:
        problems.append('version resource has no fixed file information')
        return None
    def parts(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    return (parts(fixed.FileVersionMS, fixed.FileVersionLS), parts(fixed.ProductVersionMS, fixed.ProductVersionLS))

def check_version(res, pe, name='quorvenal.exe'):
    versions = fixed_version(res, pe)
    if versions is None:
        return
    expect('file and product version', versions, ((1, 0, 0, 1), (1, 0, 0, 1)))
    s = version_strings(pe)
    expect('InternalName', s.get('InternalName'), name)
    expect('OriginalFilename', s.get('OriginalFilename'), name)

def check_qvcli_version(res, pe):
    check_version(res, pe, 'qvcli.exe')

def check_admin_manifest(res):
    b = res.get((24, 1))
    if b is None:
        problems.append('no manifest (RT_MANIFEST 1)')
        return
    try:
        doc = xml.dom.minidom.parseString(b)
    except Exception as error:
        problems.append('the manifest is not XML: %s' % error)
        return
    v3 = 'urn:schemas-microsoft-com:asm.v3'
    levels = [e.getAttribute('level') for e in doc.getElementsByTagNameNS(v3, 'requestedExecutionLevel')]
    expect('requested execution level (asm.v3 trustInfo)', levels, ['requireAdministrator'])

def check_driver_version(res, pe):
    fixed_version(res, pe)

RULES = {'dialog': check_dialog, 'icon': check_icon, 'admin-manifest': check_admin_manifest}
VERSION_RULES = {'version': check_version, 'driver-version': check_driver_version,
                 'qvcli-version': check_qvcli_version}

def check(image, rules):
    res = image.resources()
    for rule in rules:
        if rule in VERSION_RULES:
            VERSION_RULES[rule](res, image.pe)
        else:
            RULES[rule](res)
        print('%s %s resource' % ('bad' if problems else 'good', rule))
        for problem in problems:
            print('  ' + problem)
        del problems[:]
