// The simulated PCI machine behind the stand-in kernel: functions with
// 4096-byte configuration spaces on buses that exist, configuration mechanism
// #1 behind ports 0xCF8/0xCFC, memory-mapped configuration at the machine's
// base, and plain memory elsewhere. It behaves as hardware does: absent
// functions read all ones, read-only registers keep their values, status bits
// clear when written with 1, BARs keep only their size-aligned bits.
#ifndef STANDIN_MACHINE_H
#define STANDIN_MACHINE_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace standin {

struct FunctionAddress {
    unsigned bus;       // 0..255
    unsigned device;    // 0..31
    unsigned function;  // 0..7
};

inline bool operator==(const FunctionAddress& a, const FunctionAddress& b) {
    return a.bus == b.bus && a.device == b.device && a.function == b.function;
}

// How a configuration write reached a function.
enum class WritePath { Ports, Ecam, Hardware };

// One configuration write as the function received it (before its masks).
struct ConfigWrite {
    FunctionAddress address;
    unsigned offset;
    unsigned size;   // bytes: 1..4
    uint32_t value;  // little-endian, the byte at offset lowest
    WritePath path;
};

// What lies at a physical address.
enum class PhysicalKind { Nothing, Ecam, Memory };

class Machine {
public:
    static constexpr uint64_t kDefaultEcamBase = 0xE0000000ull;
    static constexpr uint64_t kNoEcam = ~0ull;
    static constexpr uint64_t kEcamBusBytes = 1ull << 20;  // the window holds 1 MiB per bus
    static constexpr unsigned kConfigSpaceBytes = 4096;

    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // ---- Building: called while the machine is made, before it is used. ----

    // Adds a function whose power-on configuration is the `length` bytes given
    // (64..4096; missing bytes read 0). A function given 256 bytes or fewer is
    // a conventional function whose offsets 0x100..0xFFF read 0 and ignore
    // writes. Fails (with *error) for a bad address, a duplicate or a bad length.
    bool AddFunction(FunctionAddress address, const uint8_t* bytes, unsigned length, std::string* error);
    // Makes every register of the function ignore writes.
    bool SetReadOnly(FunctionAddress address);
    // Gives BAR `index` (0..5; 6 = expansion ROM) its decode size in bytes, a
    // power of two; 0 makes it unimplemented (reads 0, ignores writes).
    bool SetBarSize(FunctionAddress address, unsigned index, uint64_t size, std::string* error);
    // Declares a bus that exists though no function sits on it.
    void AddBus(unsigned bus);
    // Physical base of memory-mapped configuration; kNoEcam for none.
    void SetEcamBase(uint64_t base);
    // The last bus the window decodes (255 unless set): the window holds
    // (lastBus + 1) MiB, and what lies above it is whatever memory is there.
    void SetEcamLastBus(unsigned lastBus);
    // RAM: plain memory at [base, base + size) that reads 0 until written, and
    // that the kernel reports as RAM (MmGetPhysicalMemoryRanges).
    bool AddMemory(uint64_t base, uint64_t size, std::string* error);
    // Stores bytes into plain memory. Bytes outside RAM make plain memory that
    // is not RAM (a device's memory, say): it maps and reads like RAM, but the
    // kernel does not report it as RAM.
    bool StoreMemory(uint64_t address, const std::vector<uint8_t>& bytes, std::string* error);
    // Counts functions a machine file held that this machine cannot reach
    // (another PCI domain).
    void NoteSkippedFunction() { ++skippedFunctions_; }

    // ---- The hardware as the processor sees it. ----

    uint32_t PortRead32(uint16_t port);
    void PortWrite32(uint16_t port, uint32_t value);
    uint32_t ConfigAddressRegister() const;

    // Whether the bus number (taken whole) exists on this machine.
    bool BusExists(uint32_t bus) const;
    bool IsPresent(FunctionAddress address) const;

    PhysicalKind ClassifyPhysical(uint64_t address, uint64_t length) const;
    // Reads/writes physical addresses: the memory-mapped window (as 1- to
    // 4-byte configuration accesses) or plain memory. False where nothing is.
    bool PhysicalRead(uint64_t address, void* out, uint64_t length);
    bool PhysicalWrite(uint64_t address, const void* bytes, uint64_t length);
    // Host pointer to plain memory when [address, address+length) lies in one
    // page of it; null otherwise. The page stays in place for the machine's life.
    uint8_t* MemoryPointer(uint64_t address, uint64_t length);

    // ---- Operations for tests and tools. ----

    // Back to the function's power-on values.
    bool ResetFunction(FunctionAddress address);
    // A write as the device itself makes it: raw bytes, no masks.
    bool HardwareWrite(FunctionAddress address, unsigned offset, unsigned size, uint32_t value);
    // Takes a function off the bus (it stops answering) and puts it back.
    bool RemoveFunction(FunctionAddress address);
    bool RestoreFunction(FunctionAddress address);
    // Raw read of the function's configuration bytes; false if it is absent.
    bool ReadConfig(FunctionAddress address, unsigned offset, void* out, unsigned length) const;
    // Power-on bytes of the function; false if the machine has no such function.
    bool ReadPowerOnConfig(FunctionAddress address, unsigned offset, void* out, unsigned length) const;
    uint64_t EcamBase() const;
    unsigned EcamLastBus() const;
    // The RAM ranges (base, size), sorted, with touching or overlapping ranges
    // joined.
    std::vector<std::pair<uint64_t, uint64_t>> RamRanges() const;
    // Whether any byte of [address, address + length) is RAM.
    bool IsRam(uint64_t address, uint64_t length) const;
    // Functions present, in bus, device, function order.
    std::vector<FunctionAddress> Functions() const;
    bool IsReadOnly(FunctionAddress address) const;
    unsigned SkippedFunctions() const { return skippedFunctions_; }

    // Writes that reached a present function by the ports or the window.
    uint64_t ConfigWriteCount() const;
    uint64_t ConfigWriteCount(FunctionAddress address) const;
    // Called (under the machine's lock: it must not call back into the
    // machine) for every write that reaches a present function.
    void SetWriteObserver(std::function<void(const ConfigWrite&)> observer);

private:
    struct Function;
    Function* Find(FunctionAddress address) const;
    Function* FindPresent(FunctionAddress address) const;
    void MarkBuses(const Function& function);
    void WriteMasked(Function& function, unsigned offset, unsigned size, uint32_t value, WritePath path);
    uint8_t* PageFor(uint64_t address);
    bool EcamDecode(uint64_t address, FunctionAddress* function, unsigned* offset) const;
    bool IsMemory(uint64_t address, uint64_t length) const;
    uint64_t EcamWindowBytes() const { return (ecamLastBus_ + 1ull) * kEcamBusBytes; }
    bool AddPlainMemory(uint64_t base, uint64_t size, std::string* error);

    mutable std::mutex mutex_;
    std::map<uint32_t, std::unique_ptr<Function>> functions_;
    // Bus 0, the buses that functions sit on, those behind bridges (by their
    // power-on bus numbers) and those declared: kept as the machine is built,
    // so that "does this bus exist" costs the same whatever the machine holds.
    bool busExists_[256] = {true};
    uint64_t ecamBase_ = kDefaultEcamBase;
    unsigned ecamLastBus_ = 255;
    uint32_t configAddress_ = 0;
    std::vector<std::pair<uint64_t, uint64_t>> memoryRanges_;  // plain memory: base, size
    std::vector<std::pair<uint64_t, uint64_t>> ramRanges_;     // the RAM among it
    std::map<uint64_t, std::unique_ptr<uint8_t[]>> pageContents_;
    uint64_t writeCount_ = 0;
    std::function<void(const ConfigWrite&)> observer_;
    unsigned skippedFunctions_ = 0;
};

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
