// Fuzz target: QUORVENAL.sys's request dispatch, through the stand-in I/O
// manager, on the default machine. Each input is a short run of requests;
// every request is checked against a model of what it may do:
//  - its status and the Win32 error the caller sees, from the lengths, the
//    control code and a range request's Length;
//  - a failed request returns nothing and leaves the caller's buffer as sent;
//  - a successful one returns the whole record, with only the fields the
//    driver fills changed, and what it read equal to the function's bytes;
//  - no configuration write that the request did not ask for, and a write
//    only to the function it names, by the path its code names;
//  - the configuration address register 0xCF8 as it was;
//  - no mapping left, and none outside the named function's 4 KiB window.
#include <ntddk.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernel/io_manager.h"
#include "kernel/kernel_trace.h"
#include "machine/machine.h"
#include "quorvenal_ioctl.h"

namespace {

standin::LoadedDriver* Driver = nullptr;
standin::OpenFile* File = nullptr;

#define CHECK(condition, what)                                                                          \
    do {                                                                                                \
        if (!(condition)) {                                                                             \
            std::fprintf(stderr, "model violated: %s (code %08X in %u out %u)\n", what, code, in, out); \
            std::abort();                                                                               \
        }                                                                                               \
    } while (0)

void LoadAndOpen() {
    if (standin::LoadDriver(QV_DRIVER_MODULE, "QUORVENAL", &Driver) != STATUS_SUCCESS ||
        standin::OpenDevice(L"\\??\\QuorVenal", &File) != STATUS_SUCCESS) {
        std::fprintf(stderr, "cannot load %s\n", QV_DRIVER_MODULE);
        std::abort();
    }
}

void CloseAndUnload() {
    standin::CloseDevice(File);
    standin::UnloadDriver(Driver);
    File = nullptr;
    Driver = nullptr;
}

// Reads input bytes; past the end, zeros.
struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    uint32_t Word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
        return value;
    }
    bool Done() const { return at >= size; }
};

const uint32_t kCodes[] = {IOCTL_READ_CONFIG,        IOCTL_WRITE_CONFIG,    IOCTL_READ_CONFIG_RANGE,
                           IOCTL_READ_CONFIG_RANGE2, IOCTL_READ_EXT_CONFIG, IOCTL_WRITE_EXT_CONFIG};

uint32_t Field(const std::vector<uint8_t>& record, size_t offset) {
    uint32_t value;
    std::memcpy(&value, record.data() + offset, 4);
    return value;
}

bool InTable(uint32_t code) {
    for (uint32_t known : kCodes) {
        if (code == known) return true;
    }
    return false;
}

NTSTATUS ExpectedStatus(uint32_t code, uint32_t in, uint32_t out, const std::vector<uint8_t>& sent) {
    if (in == 0 || out == 0 || in != out || (in != 272 && in != 3856)) return STATUS_INVALID_PARAMETER;
    if (!InTable(code)) return STATUS_INVALID_DEVICE_REQUEST;
    if (code == IOCTL_READ_CONFIG_RANGE && Field(sent, 16) > 4) return STATUS_INVALID_PARAMETER;
    if (code == IOCTL_READ_CONFIG_RANGE2 && Field(sent, 20) > 4) return STATUS_INVALID_PARAMETER;
    if ((code == IOCTL_READ_EXT_CONFIG || code == IOCTL_WRITE_EXT_CONFIG) && in != 3856) {
        return STATUS_INVALID_PARAMETER;
    }
    return STATUS_SUCCESS;
}

void OneRequest(Input& input) {
    standin::Machine& machine = standin::CurrentMachine();
    uint8_t choice = input.Byte();
    uint32_t code = choice < 0xC0 ? kCodes[choice % 6]
                                  : (choice < 0xE0 ? (kCodes[choice % 6] & ~3u) | (choice % 3 + 1)
                                                   : 0x222000u | (input.Byte() << 2));
    uint32_t in = 272;
    uint32_t out = 272;
    switch (input.Byte() % 6) {
        case 0: break;
        case 1: in = out = 3856; break;
        case 2: out = 3856; break;
        case 3: in = 0; break;
        case 4: in = out = input.Byte() * 16u + input.Byte() % 16; break;
        default:
            in = input.Byte() * 16u;
            out = input.Byte() * 16u;
            break;
    }
    uint32_t size = in > out ? in : out;
    std::vector<uint8_t> record(size > 0 ? size : 1);
    uint8_t fill = input.Byte();
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(fill + i * 7);
    // Bus, device and function, then the range fields, from the input; the
    // address mostly one the machine has.
    std::vector<standin::FunctionAddress> functions = machine.Functions();
    uint8_t pick = input.Byte();
    uint32_t head[6] = {input.Word(), input.Word(), input.Word(), input.Word(), input.Word(), input.Word()};
    if (pick < 0xC0 && !functions.empty()) {
        const standin::FunctionAddress& f = functions[pick % functions.size()];
        head[0] = f.bus | (head[0] & 0xFFFFFF00u) * (pick & 1);
        head[1] = f.device | (head[1] & 0xFFFFFFE0u) * (pick & 2);
        head[2] = f.function | (head[2] & 0xFFFFFFF8u) * (pick & 4);
        head[4] &= 0x8000000Fu * (pick & 8 ? 1 : 0) | 7u;  // range Length, mostly small
        head[5] &= 0x8000000Fu * (pick & 16 ? 1 : 0) | 7u;
    }
    for (size_t i = 0; i < 6 && 4 * i + 4 <= record.size(); ++i) {
        std::memcpy(record.data() + 4 * i, &head[i], 4);
    }
    const std::vector<uint8_t> sent = record;
    const standin::FunctionAddress named = {head[0] & 0xFF, head[1] & 0x1F, head[2] & 7};
    const uint32_t place = named.bus << 20 | named.device << 15 | named.function << 12;

    std::vector<standin::ConfigWrite> writes;
    machine.SetWriteObserver([&writes](const standin::ConfigWrite& w) { writes.push_back(w); });
    uint32_t addressRegister = machine.ConfigAddressRegister();
    int64_t liveMappings = standin::GetKernelCounters().liveMappings;
    standin::StartKernelTrace();
    ULONG returned = 0xDEAD;
    NTSTATUS status = standin::DeviceControl(File, code, in ? record.data() : nullptr, in,
                                             out ? record.data() : nullptr, out, &returned);
    standin::StopKernelTrace();
    machine.SetWriteObserver(nullptr);

    NTSTATUS expected = ExpectedStatus(code, in, out, sent);
    CHECK(status == expected, "status");
    uint32_t win32 = standin::NtStatusToWin32Error(status);
    CHECK(win32 == (status == STATUS_SUCCESS             ? 0u
                    : status == STATUS_INVALID_PARAMETER ? 87u
                                                         : 1u),
          "Win32 error");
    CHECK(machine.ConfigAddressRegister() == addressRegister, "0xCF8 not restored");
    CHECK(standin::GetKernelCounters().liveMappings == liveMappings, "mapping left");
    // The window is confirmed for a function above the lowest bus where a
    // function answers by that bus's first function too: its place is the one
    // other place a request may map (to read its identifiers).
    uint32_t lowestPlace = place;
    bool foundLowest = false;
    for (uint32_t bus = 0; bus <= named.bus && !foundLowest; ++bus) {
        for (uint32_t device = 0; device < 32 && !foundLowest; ++device) {
            if (machine.IsPresent({bus, device, 0})) {
                lowestPlace = bus << 20 | device << 15;
                foundLowest = true;
            }
        }
    }
    for (const standin::MappingRecord& m : standin::TracedMappings()) {
        uint32_t mapped = static_cast<uint32_t>(m.physical & 0x0FFFF000u);
        CHECK((mapped == place || mapped == lowestPlace) && (m.physical & 0xFFF) + m.length <= 4096 &&
                  m.physical < 0x100000000ull,
              "mapping outside the function's window");
    }

    bool writes_asked =
        status == STATUS_SUCCESS && (code == IOCTL_WRITE_CONFIG || code == IOCTL_WRITE_EXT_CONFIG);
    if (!writes_asked) CHECK(writes.empty(), "a write nobody asked for");
    for (const standin::ConfigWrite& w : writes) {
        CHECK(w.address == named, "a write to another function");
        if (code == IOCTL_WRITE_CONFIG) CHECK(w.path == standin::WritePath::Ports, "header write path");
        if (code == IOCTL_WRITE_EXT_CONFIG) {
            CHECK(w.path == standin::WritePath::Ecam && w.offset >= 0x100, "extended write path");
        }
    }

    if (status != STATUS_SUCCESS) {
        CHECK(returned == 0, "bytes returned on failure");
        CHECK(record == sent, "buffer changed on failure");
        return;
    }
    CHECK(returned == in, "length returned");
    CHECK(std::memcmp(record.data(), sent.data(), 12) == 0, "address fields changed");
    if (in == 3856 && code != IOCTL_READ_EXT_CONFIG && code != IOCTL_WRITE_EXT_CONFIG) {
        CHECK(std::memcmp(record.data() + 272, sent.data() + 272, 3856 - 272) == 0,
              "bytes past the standard record changed");
    }
    uint32_t result =
        Field(record, code == IOCTL_READ_EXT_CONFIG || code == IOCTL_WRITE_EXT_CONFIG ? 3852 : 268);
    unsigned char actual[4096];
    bool present = machine.ReadConfig(named, 0, actual, 4096);
    if (code == IOCTL_READ_CONFIG) {
        if (result != 0 && result != 2) {
            CHECK(present && result == 256, "header read result");
            CHECK(std::memcmp(record.data() + 12, actual, 256) == 0, "header read data");
        }
    } else if (code == IOCTL_WRITE_CONFIG) {
        CHECK(result == 1, "header write result");
        CHECK(std::memcmp(record.data() + 12, sent.data() + 12, 256) == 0, "header write data changed");
    } else if (code == IOCTL_READ_CONFIG_RANGE || code == IOCTL_READ_CONFIG_RANGE2) {
        size_t bytesAt = code == IOCTL_READ_CONFIG_RANGE ? 20 : 24;
        CHECK(std::memcmp(record.data() + 12, sent.data() + 12, bytesAt - 12) == 0, "range fields changed");
        uint32_t length = Field(sent, bytesAt - 4);
        uint32_t offset = Field(sent, bytesAt - 8);
        // Where no function answers, the HAL reports the two bytes of the
        // vendor identifier (0xFFFF) whatever the length asked for.
        CHECK(present ? result <= length : (result == 0 || result == 2), "range result");
        if (present && result == length && offset + length <= 256) {
            CHECK(std::memcmp(record.data() + bytesAt, actual + offset, length) == 0, "range data");
        }
    } else {
        CHECK(result == 0 || result == 1, "extended result");
        if (result == 1 || code == IOCTL_WRITE_EXT_CONFIG) {
            CHECK(std::memcmp(record.data() + 12, sent.data() + 12, 3840) == 0, "extended data changed");
        } else if (present) {
            CHECK(std::memcmp(record.data() + 12, actual + 0x100, 3840) == 0, "extended read data");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Holds the image in memory across the reloads below: libFuzzer keeps
    // reading the module's coverage counters, which an unmapped image would
    // take away. The unload routine still runs and forgets the base.
    if (dlopen(QV_DRIVER_MODULE, RTLD_NOW | RTLD_LOCAL) == nullptr) std::abort();
    standin::SetCurrentMachine(standin::DefaultMachine());
    LoadAndOpen();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input{data, size};
    // The first byte: bit 0 starts from a freshly loaded driver (no base
    // known yet), bit 1 from a machine at its power-on values.
    uint8_t start = input.Byte();
    if (start & 1) {
        CloseAndUnload();
        LoadAndOpen();
    }
    if (start & 2) {
        standin::Machine& machine = standin::CurrentMachine();
        for (const standin::FunctionAddress& f : machine.Functions()) machine.ResetFunction(f);
    }
    for (int i = 0; i < 8 && !input.Done(); ++i) OneRequest(input);
    return 0;
}
