// Fuzz target: the machine-file parser (lspci -xxxx text with our directives).
// Any text either loads or is refused with a message; a machine that loads
// answers every question about its functions, and its configuration reads
// through the port pair agree with its own record of the bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "machine/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    std::unique_ptr<standin::Machine> machine = standin::LoadMachineText(text, "fuzz.lspci", &error);
    if (!machine) {
        if (error.empty()) {
            std::fprintf(stderr, "refused without a message\n");
            std::abort();
        }
        return 0;
    }
    for (const standin::FunctionAddress& f : machine->Functions()) {
        if (!machine->IsPresent(f) || !machine->BusExists(f.bus)) {
            std::fprintf(stderr, "listed function %x:%x.%x is not there\n", f.bus, f.device, f.function);
            std::abort();
        }
        unsigned char bytes[4096];
        if (!machine->ReadConfig(f, 0, bytes, sizeof bytes)) std::abort();
        uint32_t address = 0x80000000u | f.bus << 16 | f.device << 11 | f.function << 8;
        machine->PortWrite32(0xCF8, address);
        uint32_t dword = machine->PortRead32(0xCFC);
        uint32_t expected = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | (uint32_t)bytes[3] << 24;
        if (dword != expected) {
            std::fprintf(stderr, "port read %08X, bytes say %08X\n", dword, expected);
            std::abort();
        }
    }
    return 0;
}
