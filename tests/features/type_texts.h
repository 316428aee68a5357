// The device list's "Type" texts as a user reads them, written out apart
// from the program's table so that the tests hold the program to them: one
// text per base class 0x00..0x11, mass storage (0x01) by subclass 0x00..0x07,
// "Unknown" above.
#ifndef QVTEST_TYPE_TEXTS_H
#define QVTEST_TYPE_TEXTS_H

#include <string>

namespace qvtest {

const unsigned kMassStorageClass = 0x01;

inline std::string ExpectedTypeText(unsigned baseClass, unsigned subclass) {
    static const char* const kBase[] = {"Unknown",
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
                                        "Data acquisition and signal processing controller"};
    static const char* const kMassStorage[] = {"SCSI bus controller",    "IDE controller",
                                               "Floppy disk controller", "IPI bus controller",
                                               "RAID controller",        "ATA controller with DMA",
                                               "Serial ATA controller",  "Serial attached SCSI controller"};
    const unsigned baseCount = sizeof kBase / sizeof kBase[0];
    const unsigned storageCount = sizeof kMassStorage / sizeof kMassStorage[0];
    if (baseClass == kMassStorageClass && subclass < storageCount) return kMassStorage[subclass];
    return baseClass < baseCount ? kBase[baseClass] : "Unknown";
}

}  // namespace qvtest

#endif
