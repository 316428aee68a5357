#include "device_memory.h"

#include "hal_bus.h"
#include "pci_ports.h"

namespace {

const ULONG kCandidates = 15;
const ULONGLONG kPage = 0x1000;

ULONG Meets(ULONGLONG first, ULONGLONG last, ULONG place) {
    ULONG meets = 0;
    for (ULONG i = 0; i < kCandidates; ++i) {
        ULONGLONG base = (ULONGLONG)(i + 1) << 28;
        ULONGLONG end = (base | place) + kPage;
        if (first < end && last >= base) meets |= 1u << i;
    }
    return meets;
}

ULONG Dword(ULONG device, ULONG function, ULONG offset) {
    return Mech1ReadDword(0, device, function, offset);
}

ULONG Bars(ULONG device, ULONG function, ULONG count, ULONG place) {
    ULONG meets = 0;
    for (ULONG i = 0; i < count; ++i) {
        ULONG value = Dword(device, function, 0x10 + 4 * i);
        if (value & 1) continue;
        ULONGLONG base = value & ~0xFu;
        if (((value >> 1) & 3) == 2 && i + 1 < count)
            base |= (ULONGLONG)Dword(device, function, 0x14 + 4 * i++) << 32;
        if (base != 0) meets |= Meets(base, base + 15, place);
    }
    return meets;
}

ULONG Rom(ULONG device, ULONG function, ULONG offset, ULONG place) {
    ULONG value = Dword(device, function, offset);
    ULONG base = value & ~0x7FFu;
    return (value & 1) != 0 && base != 0 ? Meets(base, base + 0x7FF, place) : 0;
}

ULONG Window(ULONGLONG first, ULONGLONG last, ULONG place) {
    return first <= last ? Meets(first, last, place) : 0;
}

ULONG FunctionMeets(ULONG device, ULONG function, ULONG type, ULONG place) {
    if (type == 0) return Bars(device, function, 6, place) | Rom(device, function, 0x30, place);
    if (type == 1) {
        ULONG memory = Dword(device, function, 0x20);
        ULONG prefetchable = Dword(device, function, 0x24);
        ULONGLONG first = (ULONGLONG)(prefetchable & 0xFFF0) << 16;
        ULONGLONG last = (ULONGLONG)(prefetchable >> 16 & 0xFFF0) << 16 | 0xFFFFF;
        if ((prefetchable & 0xF) == 1) {
            first |= (ULONGLONG)Dword(device, function, 0x28) << 32;
            last |= (ULONGLONG)Dword(device, function, 0x2C) << 32;
        }
        return Bars(device, function, 2, place) | Rom(device, function, 0x38, place) |
               Window((ULONGLONG)(memory & 0xFFF0) << 16, (ULONGLONG)(memory >> 16 & 0xFFF0) << 16 | 0xFFFFF,
                      place) |
               Window(first, last, place);
    }
    if (type == 2) {
        ULONG meets = 0;
        ULONG socket = Dword(device, function, 0x10) & ~0xFFFu;
        if (socket != 0) meets |= Meets(socket, socket + 0xFFF, place);
        for (ULONG offset = 0x1C; offset <= 0x24; offset += 8) {
            ULONG first = Dword(device, function, offset) & ~0xFFFu;
            ULONG last = Dword(device, function, offset + 4) | 0xFFFu;
            if (first != 0) meets |= Window(first, last, place);
        }
        return meets;
    }
    return 0;
}

bool Answers(ULONG bus, ULONG device, ULONG function) {
    USHORT vendor = (USHORT)Mech1ReadDword(bus, device, function, 0);
    return vendor != 0xFFFF && vendor != 0;
}

}  // namespace

ULONG CandidatesMeetingDeviceMemory(ULONG place) {
    ULONG meets = 0;
    for (ULONG device = 0; device < 32; ++device) {
        for (ULONG function = 0; function < 8; ++function) {
            if (!Answers(0, device, function)) {
                if (function == 0) break;
                continue;
            }
            ULONG headerType = (Dword(device, function, 0x0C) >> 16) & 0xFF;
            meets |= FunctionMeets(device, function, headerType & 0x7F, place);
            if (function == 0 && (headerType & 0x80) == 0) break;
        }
    }
    return meets;
}

bool LowestFunctionPlace(ULONG bus, ULONG* place) {
    for (ULONG lowest = 0; lowest <= bus && lowest < 256; ++lowest) {
        if (!HalBusExists(lowest)) continue;
        for (ULONG device = 0; device < 32; ++device) {
            if (Answers(lowest, device, 0)) {
                *place = lowest << 20 | device << 15;
                return true;
            }
        }
    }
    return false;
}
