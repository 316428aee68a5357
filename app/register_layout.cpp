// The register tables of header types 0, 1 and 2, and the value formats of
// the register list.
#include "register_layout.h"

#include <stdio.h>

#include "../ioctl/sys/pci_registers.h"

const RegisterRow kCommonRegisters[kCommonRegisterRows] = {
    {"Vendor ID", 0x00, kWidth16},      {"Device ID", 0x02, kWidth16},
    {"Command", 0x04, kWidth16},        {"Status", 0x06, kWidth16},
    {"Revision ID", 0x08, kWidth8},     {"Class Code", 0x09, kWidthClassCode},
    {"Cache Line Size", 0x0C, kWidth8}, {"Latency Timer", 0x0D, kWidth8},
    {"Header Type", 0x0E, kWidth8},     {"BIST", 0x0F, kWidth8},
};

namespace {

// Header type 0: a device.
const RegisterRow kDeviceRegisters[] = {
    {"BAR0", 0x10, kWidth32},
    {"BAR1", 0x14, kWidth32},
    {"BAR2", 0x18, kWidth32},
    {"BAR3", 0x1C, kWidth32},
    {"BAR4", 0x20, kWidth32},
    {"BAR5", 0x24, kWidth32},
    {"Cardbus CIS pointer", 0x28, kWidth32},
    {"Subsystem Vendor ID", 0x2C, kWidth16},
    {"Subsystem ID", 0x2E, kWidth16},
    {"Expansion ROM Base", 0x30, kWidth32},
    {"Capabilities Pointer", 0x34, kWidth8},
    {"Reserved1", 0x35, kWidthThreeBytes},
    {"Reserved2", 0x38, kWidth32},
    {"Interrupt Line", 0x3C, kWidth8},
    {"Interrupt Pin", 0x3D, kWidth8},
    {"Minimam Grant", 0x3E, kWidth8},
    {"Maximum Latency", 0x3F, kWidth8},
};

// Header type 1: a PCI-to-PCI bridge.
const RegisterRow kBridgeRegisters[] = {
    {"BAR0", 0x10, kWidth32},
    {"BAR1", 0x14, kWidth32},
    {"Primary Bus", 0x18, kWidth8},
    {"Secondary Bus", 0x19, kWidth8},
    {"Subordinate Bus", 0x1A, kWidth8},
    {"Secondary Latency", 0x1B, kWidth8},
    {"IO Base", 0x1C, kWidth8},
    {"IO Limit", 0x1D, kWidth8},
    {"Secondary Status", 0x1E, kWidth16},
    {"Memory Base", 0x20, kWidth16},
    {"Memory Limit", 0x22, kWidth16},
    {"Prefetch Base", 0x24, kWidth16},
    {"Prefetch Limit", 0x26, kWidth16},
    {"Prefetch Base Upper32", 0x28, kWidth32},
    {"Prefetch Limit Upper32", 0x2C, kWidth32},
    {"IO Base Upper16", 0x30, kWidth16},
    {"IO Limit Upper16", 0x32, kWidth16},
    {"Capabilities Pointer", 0x34, kWidth8},
    {"Reserved", 0x35, kWidthThreeBytes},
    {"ROM Base Address", 0x38, kWidth32},
    {"Interrupt Line", 0x3C, kWidth8},
    {"Interrupt Pin", 0x3D, kWidth8},
    {"Bridge Control", 0x3E, kWidth16},
};

// Header type 2: a CardBus bridge. Base1/Limit1 and Base2/Limit2 are its
// memory windows, Base3/Limit3 and Base4/Limit4 its I/O windows.
const RegisterRow kCardBusRegisters[] = {
    {"Socket Registers Base Address", 0x10, kWidth32},
    {"Capabilities Pointer", 0x14, kWidth8},
    {"Reserved", 0x15, kWidth8},
    {"Secondary Status", 0x16, kWidth16},
    {"Primary Bus", 0x18, kWidth8},
    {"Secondary Bus", 0x19, kWidth8},
    {"Subordinate Bus", 0x1A, kWidth8},
    {"Secondary Latency", 0x1B, kWidth8},
    {"Base1", 0x1C, kWidth32},
    {"Limit1", 0x20, kWidth32},
    {"Base2", 0x24, kWidth32},
    {"Limit2", 0x28, kWidth32},
    {"Base3", 0x2C, kWidth32},
    {"Limit3", 0x30, kWidth32},
    {"Base4", 0x34, kWidth32},
    {"Limit4", 0x38, kWidth32},
    {"Interrupt Line", 0x3C, kWidth8},
    {"Interrupt Pin", 0x3D, kWidth8},
    {"Bridge Control", 0x3E, kWidth16},
};

template <int N>
RegisterLayout MakeLayout(const RegisterRow (&rows)[N]) {
    return RegisterLayout{rows, N};
}

unsigned int AddressOrder32(const unsigned char* bytes) {
    return ((unsigned int)bytes[0] << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
}

}  // namespace

RegisterLayout LayoutForHeaderType(int headerType) {
    switch (headerType) {
        case 0: return MakeLayout(kDeviceRegisters);
        case 1: return MakeLayout(kBridgeRegisters);
        case 2: return MakeLayout(kCardBusRegisters);
        default: return RegisterLayout{nullptr, 0};
    }
}

int FirstDumpRow(int headerType) { return kCommonRegisterRows + LayoutForHeaderType(headerType).count; }

void FormatRegisterValue(const RegisterRow& row, const unsigned char* header, char* text) {
    const unsigned char* at = header + row.offset;
    switch (row.width) {
        case kWidth8: sprintf(text, "%02X", at[0]); break;
        case kWidth16: sprintf(text, "%04X", LoadLe16(at)); break;
        case kWidth32: sprintf(text, "%08X", LoadLe32(at)); break;
        case kWidthClassCode: sprintf(text, "%06X", LoadLe24(at)); break;
        case kWidthThreeBytes: sprintf(text, "%02X%02X%02X", at[0], at[1], at[2]); break;
    }
}

void FormatDumpLabel(unsigned int offset, char* text) { sprintf(text, "Device Specific [%X]", offset); }

void FormatDumpValue(const unsigned char* bytes, char* text) {
    sprintf(text, "%08X %08X %08X %08X", AddressOrder32(bytes), AddressOrder32(bytes + 4),
            AddressOrder32(bytes + 8), AddressOrder32(bytes + 12));
}
