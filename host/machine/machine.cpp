// The simulated machine's hardware: configuration spaces with their register
// semantics, mechanism #1 behind ports 0xCF8/0xCFC, the memory-mapped window
// and plain memory. One lock guards all of it; each port or physical access
// is atomic, as one bus cycle is, but a sequence of them is not.
#include "machine/machine.h"

#include <algorithm>
#include <cstring>

#include "machine/register_masks.h"

namespace standin {

namespace {

constexpr uint64_t kPageBytes = 4096;
constexpr uint16_t kAddressPort = 0xCF8;
constexpr uint16_t kDataPort = 0xCFC;

uint32_t Key(FunctionAddress address) { return address.bus << 8 | address.device << 3 | address.function; }

bool ValidAddress(FunctionAddress address) {
    return address.bus < 256 && address.device < 32 && address.function < 8;
}

}  // namespace

struct Machine::Function {
    FunctionAddress address;
    unsigned spaceBytes = 256;
    bool readOnly = false;
    bool removed = false;
    uint8_t value[kConfigSpaceBytes];
    uint8_t powerOn[kConfigSpaceBytes];
    uint64_t barSizes[kBarSlots];
    RegisterMasks masks;
    uint64_t writes = 0;

    void RebuildMasks() {
        BuildRegisterMasks(powerOn, spaceBytes, barSizes, &masks);
        if (readOnly) {
            std::memset(masks.writable, 0, sizeof masks.writable);
            std::memset(masks.clearOnOne, 0, sizeof masks.clearOnOne);
        }
    }
};

Machine::Machine() = default;
Machine::~Machine() = default;

bool Machine::AddFunction(FunctionAddress address, const uint8_t* bytes, unsigned length,
                          std::string* error) {
    if (!ValidAddress(address)) {
        *error = "function address out of range";
        return false;
    }
    if (length < 64 || length > kConfigSpaceBytes) {
        *error = "configuration data must be 64 to 4096 bytes";
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (functions_.count(Key(address))) {
        *error = "function listed twice";
        return false;
    }
    auto function = std::make_unique<Function>();
    function->address = address;
    function->spaceBytes = length > 256 ? kConfigSpaceBytes : 256;
    std::memset(function->powerOn, 0, sizeof function->powerOn);
    std::memcpy(function->powerOn, bytes, length);
    std::memcpy(function->value, function->powerOn, sizeof function->value);
    for (uint64_t& size : function->barSizes) size = kBarSizeGuess;
    function->RebuildMasks();
    MarkBuses(*function);
    functions_[Key(address)] = std::move(function);
    return true;
}

bool Machine::SetReadOnly(FunctionAddress address) {
    std::lock_guard<std::mutex> lock(mutex_);
    Function* function = Find(address);
    if (!function) return false;
    function->readOnly = true;
    function->RebuildMasks();
    return true;
}

bool Machine::SetBarSize(FunctionAddress address, unsigned index, uint64_t size, std::string* error) {
    if (index >= kBarSlots) {
        *error = "BAR index must be 0..5, or 6 for the expansion ROM";
        return false;
    }
    if (size != 0 && (size & (size - 1)) != 0) {
        *error = "BAR size must be a power of two";
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Function* function = Find(address);
    if (!function) {
        *error = "no such function";
        return false;
    }
    function->barSizes[index] = size;
    function->RebuildMasks();
    return true;
}

void Machine::AddBus(unsigned bus) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bus < 256) busExists_[bus] = true;
}

void Machine::SetEcamBase(uint64_t base) {
    std::lock_guard<std::mutex> lock(mutex_);
    ecamBase_ = base;
}

void Machine::SetEcamLastBus(unsigned lastBus) {
    std::lock_guard<std::mutex> lock(mutex_);
    ecamLastBus_ = lastBus < 256 ? lastBus : 255;
}

bool Machine::AddMemory(uint64_t base, uint64_t size, std::string* error) {
    if (!AddPlainMemory(base, size, error)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    ramRanges_.emplace_back(base, size);
    return true;
}

std::vector<std::pair<uint64_t, uint64_t>> Machine::RamRanges() const {
    std::vector<std::pair<uint64_t, uint64_t>> sorted;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sorted = ramRanges_;
    }
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::pair<uint64_t, uint64_t>> joined;
    for (const auto& range : sorted) {
        if (!joined.empty() && range.first <= joined.back().first + joined.back().second) {
            uint64_t end = std::max(joined.back().first + joined.back().second, range.first + range.second);
            joined.back().second = end - joined.back().first;
        } else {
            joined.push_back(range);
        }
    }
    return joined;
}

bool Machine::IsRam(uint64_t address, uint64_t length) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& range : ramRanges_) {
        if (address < range.first + range.second && range.first < address + length) return true;
    }
    return false;
}

bool Machine::AddPlainMemory(uint64_t base, uint64_t size, std::string* error) {
    if (size == 0 || base + size < base) {
        *error = "memory range is empty or wraps";
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (ecamBase_ != kNoEcam && base < ecamBase_ + EcamWindowBytes() && ecamBase_ < base + size) {
        *error = "memory range overlaps the configuration window";
        return false;
    }
    memoryRanges_.emplace_back(base, size);
    return true;
}

bool Machine::StoreMemory(uint64_t address, const std::vector<uint8_t>& bytes, std::string* error) {
    if (bytes.empty()) return true;
    if (!AddPlainMemory(address, bytes.size(), error)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < bytes.size(); ++i) {
        PageFor(address + i)[(address + i) % kPageBytes] = bytes[i];
    }
    return true;
}

Machine::Function* Machine::Find(FunctionAddress address) const {
    if (!ValidAddress(address)) return nullptr;
    auto it = functions_.find(Key(address));
    return it == functions_.end() ? nullptr : it->second.get();
}

Machine::Function* Machine::FindPresent(FunctionAddress address) const {
    Function* function = Find(address);
    return function && !function->removed ? function : nullptr;
}

void Machine::WriteMasked(Function& function, unsigned offset, unsigned size, uint32_t value,
                          WritePath path) {
    for (unsigned i = 0; i < size && offset + i < kConfigSpaceBytes; ++i) {
        unsigned at = offset + i;
        uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
        uint8_t writable = function.masks.writable[at];
        uint8_t next = static_cast<uint8_t>((function.value[at] & ~writable) | (byte & writable));
        next = static_cast<uint8_t>(next & ~(byte & function.masks.clearOnOne[at]));
        function.value[at] = next;
    }
    ++function.writes;
    ++writeCount_;
    if (observer_) observer_(ConfigWrite{function.address, offset, size, value, path});
}

uint32_t Machine::PortRead32(uint16_t port) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (port == kAddressPort) return configAddress_;
    if (port != kDataPort || !(configAddress_ & 0x80000000u)) return 0xFFFFFFFFu;
    FunctionAddress address{(configAddress_ >> 16) & 0xFF, (configAddress_ >> 11) & 0x1F,
                            (configAddress_ >> 8) & 7};
    Function* function = FindPresent(address);
    if (!function) return 0xFFFFFFFFu;
    unsigned offset = configAddress_ & 0xFC;
    uint32_t value;
    std::memcpy(&value, function->value + offset, 4);  // the host is little-endian, as x86
    return value;
}

void Machine::PortWrite32(uint16_t port, uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (port == kAddressPort) {
        configAddress_ = value & 0x80FFFFFCu;  // reserved bits read back as 0
        return;
    }
    if (port != kDataPort || !(configAddress_ & 0x80000000u)) return;
    FunctionAddress address{(configAddress_ >> 16) & 0xFF, (configAddress_ >> 11) & 0x1F,
                            (configAddress_ >> 8) & 7};
    Function* function = FindPresent(address);
    if (!function) return;
    WriteMasked(*function, configAddress_ & 0xFC, 4, value, WritePath::Ports);
}

uint32_t Machine::ConfigAddressRegister() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return configAddress_;
}

bool Machine::BusExists(uint32_t bus) const {
    if (bus > 255) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return busExists_[bus];
}

void Machine::MarkBuses(const Function& function) {
    busExists_[function.address.bus] = true;
    // A bridge's power-on bus numbers open the buses behind it.
    unsigned headerType = function.powerOn[0x0E] & 0x7F;
    if (headerType != 1 && headerType != 2) return;
    unsigned secondary = function.powerOn[0x19];
    unsigned subordinate = function.powerOn[0x1A];
    if (secondary == 0) return;
    for (unsigned bus = secondary; bus <= subordinate && bus < 256; ++bus) busExists_[bus] = true;
}

bool Machine::IsPresent(FunctionAddress address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return FindPresent(address) != nullptr;
}

bool Machine::EcamDecode(uint64_t address, FunctionAddress* function, unsigned* offset) const {
    if (ecamBase_ == kNoEcam || address < ecamBase_ || address - ecamBase_ >= EcamWindowBytes()) {
        return false;
    }
    uint64_t inside = address - ecamBase_;
    *function =
        FunctionAddress{static_cast<unsigned>(inside >> 20) & 0xFF,
                        static_cast<unsigned>(inside >> 15) & 0x1F, static_cast<unsigned>(inside >> 12) & 7};
    *offset = static_cast<unsigned>(inside & 0xFFF);
    return true;
}

PhysicalKind Machine::ClassifyPhysical(uint64_t address, uint64_t length) const {
    if (length == 0 || address + length < address) return PhysicalKind::Nothing;
    std::lock_guard<std::mutex> lock(mutex_);
    FunctionAddress function;
    unsigned offset;
    FunctionAddress lastFunction;
    unsigned lastOffset;
    if (EcamDecode(address, &function, &offset)) {
        // A configuration access stays inside one function's space.
        if (EcamDecode(address + length - 1, &lastFunction, &lastOffset) && lastFunction == function) {
            return PhysicalKind::Ecam;
        }
        return PhysicalKind::Nothing;
    }
    return IsMemory(address, length) ? PhysicalKind::Memory : PhysicalKind::Nothing;
}

bool Machine::IsMemory(uint64_t address, uint64_t length) const {
    uint64_t end = address + length;
    uint64_t at = address;
    while (at < end) {
        bool covered = false;
        for (const auto& range : memoryRanges_) {
            if (at >= range.first && at - range.first < range.second) {
                at = range.first + range.second;
                covered = true;
                break;
            }
        }
        if (!covered) return false;
    }
    return true;
}

uint8_t* Machine::PageFor(uint64_t address) {
    uint64_t page = address / kPageBytes;
    auto it = pageContents_.find(page);
    if (it != pageContents_.end()) return it->second.get();
    std::unique_ptr<uint8_t[]> contents(new uint8_t[kPageBytes]());
    uint8_t* raw = contents.get();
    pageContents_[page] = std::move(contents);
    return raw;
}

uint8_t* Machine::MemoryPointer(uint64_t address, uint64_t length) {
    if (length == 0 || address / kPageBytes != (address + length - 1) / kPageBytes) return nullptr;
    if (ClassifyPhysical(address, length) != PhysicalKind::Memory) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    return PageFor(address) + address % kPageBytes;
}

bool Machine::PhysicalRead(uint64_t address, void* out, uint64_t length) {
    PhysicalKind kind = ClassifyPhysical(address, length);
    if (kind == PhysicalKind::Nothing) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    uint8_t* bytes = static_cast<uint8_t*>(out);
    if (kind == PhysicalKind::Memory) {
        for (uint64_t i = 0; i < length; ++i) {
            bytes[i] = PageFor(address + i)[(address + i) % kPageBytes];
        }
        return true;
    }
    FunctionAddress target = {};
    unsigned offset = 0;
    EcamDecode(address, &target, &offset);
    Function* function = FindPresent(target);
    for (uint64_t i = 0; i < length; ++i) {
        unsigned at = offset + static_cast<unsigned>(i);
        if (!function) {
            bytes[i] = 0xFF;
        } else {
            bytes[i] = at < function->spaceBytes ? function->value[at] : 0;
        }
    }
    return true;
}

bool Machine::PhysicalWrite(uint64_t address, const void* data, uint64_t length) {
    PhysicalKind kind = ClassifyPhysical(address, length);
    if (kind == PhysicalKind::Nothing) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (kind == PhysicalKind::Memory) {
        for (uint64_t i = 0; i < length; ++i) {
            PageFor(address + i)[(address + i) % kPageBytes] = bytes[i];
        }
        return true;
    }
    FunctionAddress target = {};
    unsigned offset = 0;
    EcamDecode(address, &target, &offset);
    Function* function = FindPresent(target);
    if (!function) return true;  // nobody claims the cycle: it is dropped
    // Offsets beyond a conventional function's 256 bytes ignore writes.
    for (uint64_t start = 0; start < length; start += 4) {
        unsigned size = static_cast<unsigned>(length - start < 4 ? length - start : 4);
        unsigned at = offset + static_cast<unsigned>(start);
        if (at >= function->spaceBytes) break;
        uint32_t value = 0;
        for (unsigned i = 0; i < size; ++i) value |= static_cast<uint32_t>(bytes[start + i]) << (8 * i);
        WriteMasked(*function, at, size, value, WritePath::Ecam);
    }
    return true;
}

bool Machine::ResetFunction(FunctionAddress address) {
    std::lock_guard<std::mutex> lock(mutex_);
    Function* function = Find(address);
    if (!function) return false;
    std::memcpy(function->value, function->powerOn, sizeof function->value);
    return true;
}

bool Machine::HardwareWrite(FunctionAddress address, unsigned offset, unsigned size, uint32_t value) {
    if (size == 0 || size > 4 || offset >= kConfigSpaceBytes || size > kConfigSpaceBytes - offset) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Function* function = Find(address);
    if (!function) return false;
    for (unsigned i = 0; i < size; ++i) {
        function->value[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    if (observer_) observer_(ConfigWrite{address, offset, size, value, WritePath::Hardware});
    return true;
}

bool Machine::RemoveFunction(FunctionAddress address) {
    std::lock_guard<std::mutex> lock(mutex_);
    Function* function = Find(address);
    if (!function) return false;
    function->removed = true;
    return true;
}

bool Machine::RestoreFunction(FunctionAddress address) {
    std::lock_guard<std::mutex> lock(mutex_);
    Function* function = Find(address);
    if (!function) return false;
    function->removed = false;
    return true;
}

bool Machine::ReadConfig(FunctionAddress address, unsigned offset, void* out, unsigned length) const {
    if (offset > kConfigSpaceBytes || length > kConfigSpaceBytes - offset) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    Function* function = FindPresent(address);
    if (!function) return false;
    std::memcpy(out, function->value + offset, length);
    return true;
}

bool Machine::ReadPowerOnConfig(FunctionAddress address, unsigned offset, void* out, unsigned length) const {
    if (offset > kConfigSpaceBytes || length > kConfigSpaceBytes - offset) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    Function* function = Find(address);
    if (!function) return false;
    std::memcpy(out, function->powerOn + offset, length);
    return true;
}

uint64_t Machine::EcamBase() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ecamBase_;
}

unsigned Machine::EcamLastBus() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ecamLastBus_;
}

std::vector<FunctionAddress> Machine::Functions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<FunctionAddress> present;
    for (const auto& entry : functions_) {  // keys sort by bus, device, function
        if (!entry.second->removed) present.push_back(entry.second->address);
    }
    return present;
}

bool Machine::IsReadOnly(FunctionAddress address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Function* function = Find(address);
    return function && function->readOnly;
}

uint64_t Machine::ConfigWriteCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writeCount_;
}

uint64_t Machine::ConfigWriteCount(FunctionAddress address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Function* function = Find(address);
    return function ? function->writes : 0;
}

void Machine::SetWriteObserver(std::function<void(const ConfigWrite&)> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
}

}  // namespace standin
