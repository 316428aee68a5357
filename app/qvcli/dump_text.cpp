#include "dump_text.h"

#include "../class_code.h"
#include "../../ioctl/sys/pci_registers.h"

namespace {

enum { kClassTextBytes = 64 };  // the longest class text is 49 characters

// "00:1c.0 Bridge device: Device 8086:2940 (rev 03)": lspci reads only the
// address; the rest is for people.
void WriteDeviceLine(FILE* out, const SpaceImage& image) {
    char address[kPciAddressText];
    char classText[kClassTextBytes];
    FormatPciAddress(image.Address, address);
    DescribeClassCode(PciClassCode(image.Bytes), classText);
    fprintf(out, "%s %s: Device %04x:%04x", address, classText, PciVendorId(image.Bytes),
            PciDeviceId(image.Bytes));
    if (image.Bytes[kPciRevision] != 0) fprintf(out, " (rev %02x)", image.Bytes[kPciRevision]);
    fputc('\n', out);
}

}  // namespace

bool WriteSpaceText(FILE* out, const SpaceImage& image) {
    WriteDeviceLine(out, image);
    for (unsigned row = 0; row < kSpaceRows; ++row) {
        if (!image.RowGiven[row]) continue;
        unsigned offset = row * 16;
        fprintf(out, offset < kConfigHeaderBytes ? "%02x:" : "%03x:", offset);
        for (unsigned column = 0; column < 16; ++column) fprintf(out, " %02x", image.Bytes[offset + column]);
        fputc('\n', out);
    }
    fputc('\n', out);
    return !ferror(out);
}
