// The facts of a function's configuration header that the program reads by
// name: register offsets, the masks taken of them, the little-endian loads,
// the class code and the walks over the capability lists. Constants and
// inline functions over byte arrays, with no library behind them, so that
// the dialog program, qvcli and the driver can all build against this file.
#ifndef QUORVENAL_PCI_REGISTERS_H
#define QUORVENAL_PCI_REGISTERS_H

// ---- Little-endian loads: the byte at the lowest address is the lowest. ----

inline unsigned int LoadLe16(const unsigned char* bytes) { return bytes[0] | (bytes[1] << 8); }

inline unsigned int LoadLe24(const unsigned char* bytes) {
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16);
}

inline unsigned int LoadLe32(const unsigned char* bytes) {
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | ((unsigned int)bytes[3] << 24);
}

// ---- Registers every header layout has, by offset. ----

const unsigned int kPciVendorId = 0x00;    // 16 bits; 0xFFFF where nobody answers
const unsigned int kPciDeviceId = 0x02;    // 16 bits
const unsigned int kPciCommand = 0x04;     // 16 bits
const unsigned int kPciStatus = 0x06;      // 16 bits
const unsigned int kPciRevision = 0x08;    // 8 bits
const unsigned int kPciClassCode = 0x09;   // 24 bits: programming interface, subclass, base class
const unsigned int kPciSubclass = 0x0A;    // the class code's middle byte
const unsigned int kPciBaseClass = 0x0B;   // the class code's high byte
const unsigned int kPciHeaderType = 0x0E;  // 8 bits: the layout, and the multi-function bit

// Header type: bit 7 says the device has functions 1..7 besides function 0.
const unsigned char kPciMultiFunction = 0x80;

// Command register: the I/O-space and memory-space decode bits (0 and 1).
const unsigned char kPciCommandDecodeBits = 0x03;
// Status register, low byte: bit 4 says the header holds a capability list.
const unsigned char kPciStatusCapabilityList = 0x10;
// Status register (and a bridge's secondary status), high byte: bits 8 and
// 11..15, which clear when written with 1.
const unsigned char kPciStatusClearOnOneHigh = 0xF9;

inline unsigned int PciVendorId(const unsigned char* header) { return LoadLe16(header + kPciVendorId); }
inline unsigned int PciDeviceId(const unsigned char* header) { return LoadLe16(header + kPciDeviceId); }
// base << 16 | subclass << 8 | programming interface.
inline unsigned int PciClassCode(const unsigned char* header) { return LoadLe24(header + kPciClassCode); }

// ---- The header layout. ----

// The header type byte holds the layout in bits 0..6 and the multi-function
// bit in bit 7. Two masks are taken of it, and both are meant:
//
// - kPciLayoutBits, all seven bits, wherever the layout says what a register
//   is: the register view's tables, which identifiers name a function, which
//   bytes a restore expects hardware to refuse. A value the layouts below do
//   not define (3..0x7F) is a layout nobody knows, and gets no register names
//   and no layout's registers rather than those of another layout.
// - kPciCapabilityLayoutBits, the two low bits, in the capability
//   classification alone (ClassifyCapabilities), which needs only where the
//   capability pointer stands and takes it from those two bits: 0 and 1 at
//   0x34, 2 at 0x14, 3 none. The device list's "PCI Express" mark, whether
//   the extended space is read, and whether a slot writes it back all follow
//   that answer, so a header type with any of bits 2..6 set is classified as
//   the dialog program has always classified it.
const unsigned char kPciLayoutBits = 0x7F;
const unsigned char kPciCapabilityLayoutBits = 0x03;

const unsigned int kPciLayoutDevice = 0;   // header type 0: a device
const unsigned int kPciLayoutBridge = 1;   // header type 1: a PCI-to-PCI bridge
const unsigned int kPciLayoutCardBus = 2;  // header type 2: a CardBus bridge

// The layout as the register view reads it: the seven low bits.
inline unsigned int PciHeaderLayout(const unsigned char* header) {
    return header[kPciHeaderType] & kPciLayoutBits;
}

// Where a layout keeps its registers; 0 where it has none (0 is never one of them).
inline unsigned int PciSubsystemOffset(unsigned int layout) {  // subsystem vendor, then subsystem
    switch (layout) {
        case kPciLayoutDevice: return 0x2C;
        case kPciLayoutCardBus: return 0x40;
        default: return 0;
    }
}
inline unsigned int PciSecondaryStatusOffset(unsigned int layout) {
    switch (layout) {
        case kPciLayoutBridge: return 0x1E;
        case kPciLayoutCardBus: return 0x16;
        default: return 0;
    }
}
inline unsigned int PciCapabilityPointerOffset(unsigned int layout) {
    switch (layout) {
        case kPciLayoutDevice:
        case kPciLayoutBridge: return 0x34;
        case kPciLayoutCardBus: return 0x14;
        default: return 0;
    }
}

// ---- The capability list in the header. ----

const unsigned char kPciCapabilityIdPciX = 0x07;
const unsigned char kPciCapabilityIdExpress = 0x10;

// The masked pointer can take 64 values (0x00..0xFC); a walk that has visited
// more entries than that is going round a cycle, and ends.
const int kPciMaxCapabilityEntries = 64;

// A walk over the capability list of a 256-byte header. Each entry holds its
// identifier at its offset and the next pointer one byte on. An entry's
// offset is the pointer with its two low bits cleared, but the walk ends on
// the pointer as read: 0x01..0x03 lead to offset 0x00, only 0 ends.
struct PciCapabilityWalk {
    const unsigned char* header;
    unsigned int pointer;  // the next pointer as read
    int visited;
};

// Starts at the pointer held at pointerOffset. A header whose status does
// not announce a list, or a pointerOffset of 0, gives a walk of no entry.
inline PciCapabilityWalk StartPciCapabilityWalk(const unsigned char* header, unsigned int pointerOffset) {
    PciCapabilityWalk walk = {header, 0, 0};
    if (pointerOffset != 0 && (header[kPciStatus] & kPciStatusCapabilityList) != 0) {
        walk.pointer = header[pointerOffset];
    }
    return walk;
}

// The offset of the next entry in *entry; false at the end of the list.
inline bool NextPciCapability(PciCapabilityWalk* walk, unsigned int* entry) {
    if (walk->pointer == 0 || walk->visited == kPciMaxCapabilityEntries) return false;
    *entry = walk->pointer & 0xFC;
    walk->pointer = walk->header[*entry + 1];
    ++walk->visited;
    return true;
}

// ---- The extended capability list, in a 4096-byte space. ----

const unsigned int kPciExtendedStart = 0x100;
const unsigned int kPciSpaceEnd = 0x1000;
// Each entry takes at least one doubleword of the extended space.
const int kPciMaxExtendedEntries = (kPciSpaceEnd - kPciExtendedStart) / 4;

// A walk over the extended capabilities from 0x100. Each entry begins with a
// header doubleword whose bits 20..31 point to the next entry. The walk ends
// at a header of 0 or all ones (no list, or nobody answering), and at a next
// pointer below 0x100.
struct PciExtendedCapabilityWalk {
    const unsigned char* space;
    unsigned int offset;  // the next entry's offset; 0 at the end
    int visited;
};

inline PciExtendedCapabilityWalk StartPciExtendedCapabilityWalk(const unsigned char* space) {
    PciExtendedCapabilityWalk walk = {space, kPciExtendedStart, 0};
    return walk;
}

// The offset of the next entry in *entry; false at the end of the list.
inline bool NextPciExtendedCapability(PciExtendedCapabilityWalk* walk, unsigned int* entry) {
    if (walk->offset < kPciExtendedStart || walk->visited == kPciMaxExtendedEntries) return false;
    unsigned int header = LoadLe32(walk->space + walk->offset);
    if (header == 0 || header == 0xFFFFFFFFu) return false;
    *entry = walk->offset;
    walk->offset = (header >> 20) & 0xFFC;
    ++walk->visited;
    return true;
}

#endif
