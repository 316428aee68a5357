// Class-code names for the device list's "Type" column, and the capability
// walk that tells PCI Express and PCI-X functions from conventional ones.
#include "class_code.h"

#include <string.h>

namespace {

// Indexed by base class 0x00..0x11; 0x01 is named by its subclass instead.
const char* const kBaseClassText[] = {
    "Unknown",
    "Mass storage controller",
    "Network controller",
    "Display controller",
    "Multimedia device",
    "Memory controller",
    "Bridge device",
    "Simple communication controller",
    "Base system peripheral",
    "Input device",
    "Docking station",
    "Processor",
    "Serial bus controller",
    "Wireless controller",
    "Intelligent I/O controller",
    "Satellite communication controller",
    "Encryption/Decryption controller",
    "Data acquisition and signal processing controller",
};
const unsigned int kLastNamedBaseClass = 0x11;

// Mass-storage subclasses 0x00..0x07; any other subclass keeps the generic name.
const char* const kMassStorageText[] = {
    "SCSI bus controller",    "IDE controller",
    "Floppy disk controller", "IPI bus controller",
    "RAID controller",        "ATA controller with DMA",
    "Serial ATA controller",  "Serial attached SCSI controller",
};
const unsigned int kLastNamedMassStorage = 0x07;

const unsigned char kStatusLow = 0x06;
const unsigned char kCapabilityListFlag = 0x10;
const unsigned char kHeaderTypeByte = 0x0E;
const unsigned char kCapPointerDevice = 0x34;   // header types 0 and 1
const unsigned char kCapPointerCardBus = 0x14;  // header type 2
const unsigned char kCapIdPciX = 0x07;
const unsigned char kCapIdPciExpress = 0x10;

// The masked pointer can take 64 values (0x00..0xFC); a walk that has visited
// more entries than that without deciding is going round a cycle.
const int kMaxCapabilityEntries = 64;

}  // namespace

void DescribeClassCode(unsigned int classCode, char* text) {
    unsigned int baseClass = classCode >> 16;  // no mask: stray high bits give "Unknown"
    const char* name = "Unknown";
    if (baseClass == 0x01) {
        unsigned int subclass = (classCode >> 8) & 0xFF;
        name = subclass <= kLastNamedMassStorage ? kMassStorageText[subclass] : kBaseClassText[0x01];
    } else if (baseClass <= kLastNamedBaseClass) {
        name = kBaseClassText[baseClass];
    }
    strcpy(text, name);
}

CapKind ClassifyCapabilities(const unsigned char* header) {
    if ((header[kStatusLow] & kCapabilityListFlag) == 0) return kCapNone;

    unsigned char pointer;
    switch (header[kHeaderTypeByte] & 0x03) {
        case 0:
        case 1: pointer = header[kCapPointerDevice]; break;
        case 2: pointer = header[kCapPointerCardBus]; break;
        default: return kCapNone;
    }
    if (pointer == 0) return kCapNone;

    for (int visited = 0; visited < kMaxCapabilityEntries; ++visited) {
        unsigned int entry = pointer & 0xFC;
        unsigned char id = header[entry];
        if (id == kCapIdPciExpress) return kCapPciExpress;
        if (id == kCapIdPciX) return kCapPciX;
        // The end test is on the byte as read: 0x01..0x03 lead to offset 0x00.
        pointer = header[entry + 1];
        if (pointer == 0) return kCapNone;
    }
    return kCapNone;
}
