// The register tables of the three header layouts. Each row says what the
// register list shows in one row: the register's name (column 0) and where
// and how its value is read from the header (column 1). The names and the
// values are both taken from these tables, so the two columns cannot drift.
#ifndef QUORVENAL_REGISTER_LAYOUT_H
#define QUORVENAL_REGISTER_LAYOUT_H

enum RegisterWidth {
    kWidth8,           // "%02X"
    kWidth16,          // "%04X", little-endian
    kWidth32,          // "%08X", little-endian
    kWidthClassCode,   // "%06X": base class, subclass, programming interface
    kWidthThreeBytes,  // "%02X%02X%02X": three bytes in address order
};

struct RegisterRow {
    const char* name;
    unsigned int offset;
    RegisterWidth width;
};

// Rows 0..9, shared by header types 0, 1 and 2.
enum { kCommonRegisterRows = 10 };
extern const RegisterRow kCommonRegisters[kCommonRegisterRows];

struct RegisterLayout {
    const RegisterRow* rows;  // the type-specific rows, row 10 upward
    int count;
};

// The type-specific rows of header type 0, 1 or 2; an empty layout (no rows)
// for any other value.
RegisterLayout LayoutForHeaderType(int headerType);

// Index of the first dump row: 10 plus the type-specific rows for types 0..2
// (27, 33, 29), otherwise 10.
int FirstDumpRow(int headerType);

// Longest text FormatRegisterValue and the dump formatters write, terminator included.
enum { kRegisterTextBytes = 40 };

// Formats one register's value read from the 256 header bytes.
void FormatRegisterValue(const RegisterRow& row, const unsigned char* header, char* text);

// Dump rows cover 16 bytes from an offset X, a multiple of 0x10.
void FormatDumpLabel(unsigned int offset, char* text);
// Four 32-bit groups of the 16 bytes at bytes[0..15], each group with its
// lowest-addressed byte first (address order, not little-endian).
void FormatDumpValue(const unsigned char* bytes, char* text);

#endif
