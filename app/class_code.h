// Class-code names and capability classification: pure functions over values
// read from a function's configuration header.
#ifndef QUORVENAL_CLASS_CODE_H
#define QUORVENAL_CLASS_CODE_H

// Writes the "Type" text of a 24-bit class code (base << 16 | sub << 8 | prog-if)
// into text, which holds at least 50 characters.
void DescribeClassCode(unsigned int classCode, char* text);

enum CapKind : unsigned int {
    kCapNone = 0,
    kCapPciX = 1,
    kCapPciExpress = 2,
};

// Walks the capability list of a 256-byte header; the first PCI-X (0x07) or
// PCI Express (0x10) entry decides.
CapKind ClassifyCapabilities(const unsigned char* header);

#endif
