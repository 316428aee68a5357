#include "pci_address.h"

#include <stdio.h>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads 1..maxDigits hexadecimal digits at *text and moves past them.
bool ReadHex(const char** text, int maxDigits, QvU32* value) {
    QvU32 result = 0;
    int digits = 0;
    while (digits < maxDigits && HexDigit(**text) >= 0) {
        result = result << 4 | (QvU32)HexDigit(**text);
        ++*text;
        ++digits;
    }
    if (digits == 0 || HexDigit(**text) >= 0) return false;  // none, or too many
    *value = result;
    return true;
}

// Counts the colons before the end: two mean a domain is given.
int ColonCount(const char* text) {
    int count = 0;
    for (; *text != '\0'; ++text) {
        if (*text == ':') ++count;
    }
    return count;
}

}  // namespace

bool ParsePciAddress(const char* text, PciAddress* address) {
    PciAddress parsed = {0, 0, 0, 0};
    const char* at = text;
    int colons = ColonCount(text);
    if (colons != 1 && colons != 2) return false;
    if (colons == 2) {
        if (!ReadHex(&at, 4, &parsed.Domain) || *at++ != ':') return false;
    }
    if (!ReadHex(&at, 2, &parsed.Bus) || *at++ != ':') return false;
    if (!ReadHex(&at, 2, &parsed.Device) || *at++ != '.') return false;
    if (!ReadHex(&at, 1, &parsed.Function) || *at != '\0') return false;
    if (parsed.Device > 0x1F || parsed.Function > 7) return false;
    *address = parsed;
    return true;
}

void FormatPciAddress(const PciAddress& address, char* text) {
    // Each part at the width a PCI address gives it (domain 16 bits, bus 8,
    // device 5, function 3): the text then always fits kPciAddressText.
    unsigned domain = address.Domain & 0xFFFF;
    unsigned bus = address.Bus & 0xFF;
    unsigned device = address.Device & 0x1F;
    unsigned function = address.Function & 0x7;
    if (domain != 0) {
        snprintf(text, kPciAddressText, "%04x:%02x:%02x.%x", domain, bus, device, function);
    } else {
        snprintf(text, kPciAddressText, "%02x:%02x.%x", bus, device, function);
    }
}
