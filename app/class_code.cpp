// Class-code names for the device list's "Type" column, and the capability
// walk that tells PCI Express and PCI-X functions from conventional ones.
#include "class_code.h"

#include <string.h>

#include "../ioctl/sys/pci_registers.h"

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

// The two low bits of the header type choose the pointer (see pci_registers.h);
// the first PCI-X or PCI Express entry decides.
CapKind ClassifyCapabilities(const unsigned char* header) {
    unsigned int layout = header[kPciHeaderType] & kPciCapabilityLayoutBits;
    PciCapabilityWalk walk = StartPciCapabilityWalk(header, PciCapabilityPointerOffset(layout));
    unsigned int entry;
    while (NextPciCapability(&walk, &entry)) {
        if (header[entry] == kPciCapabilityIdExpress) return kCapPciExpress;
        if (header[entry] == kPciCapabilityIdPciX) return kCapPciX;
    }
    return kCapNone;
}
