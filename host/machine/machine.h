// The simulated PCI machine behind the stand-in kernel: functions with
// 4096-byte configuration spaces on buses that exist, configuration mechanism
// #1 behind ports 0xCF8/0xCFC, memory-mapped configuration at the machine's
// base, and plain memory elsewhere. It behaves as hardware does: absent
// functions read all ones, read-only registers keep their values, status bits
// clear when written with 1, BARs keep only their size-aligned bits.
#ifndef STANDIN_MACHINE_H
#define STANDIN_MACHINE_H

#include <cstdint>
#include <memory>
#include <string>

namespace standin {

struct FunctionAddress {
    unsigned bus;       // 0..255
    unsigned device;    // 0..31
    unsigned function;  // 0..7
};

class Machine;

// The machine the stand-in kernel serves. Set before the driver is loaded.
Machine& CurrentMachine();
void SetCurrentMachine(std::unique_ptr<Machine> machine);

// Builds a machine from a file in the text format of `lspci -xxxx` (plus our
// directive lines). On failure returns null and sets *error to
// "FILE:LINE: what is wrong"; nothing half-built is kept.
std::unique_ptr<Machine> LoadMachineFile(const std::string& path, std::string* error);
std::unique_ptr<Machine> LoadMachineText(const std::string& text, const std::string& name,
                                         std::string* error);
// The machine shipped in the program: chipset, root ports and endpoints.
std::unique_ptr<Machine> DefaultMachine();
// This host's own functions from /sys/bus/pci/devices, read-only.
std::unique_ptr<Machine> SysfsMachine(std::string* error);

// Parses "B:D.F" as lspci writes it (hexadecimal bus and device, e.g. "1c:03.0").
bool ParseFunctionAddress(const std::string& text, FunctionAddress* address);

}  // namespace standin

#endif
