#include "address_argument.h"

bool ReadAddressArgument(const char* text, PciAddress* address, FILE* err) {
    if (!ParsePciAddress(text, address)) {
        fprintf(err,
                "qvcli: '%s' is not a function address (bus:device.function in hexadecimal, e.g. 00:1f.3)\n",
                text);
        return false;
    }
    if (address->Domain != 0) {
        fprintf(err, "qvcli: %s: PCI domain %04x cannot be reached (only domain 0000)\n", text,
                (unsigned)address->Domain);
        return false;
    }
    return true;
}
