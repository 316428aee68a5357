// Devices by name, symbolic links, and the device records behind them.
#include "kernel/object_namespace.h"

#include <cstdlib>
#include <cwctype>
#include <map>
#include <memory>

namespace standin {

namespace {

struct Namespace {
    std::map<std::wstring, DeviceRecord*> devices;  // by normalised name
    std::map<std::wstring, std::wstring> links;     // normalised link -> normalised target
    std::map<PDEVICE_OBJECT, std::unique_ptr<DeviceRecord>> records;
};

Namespace& TheNamespace() {
    // The kernel outlives every client: its state is never torn down, so
    // that handles still open when the process ends stay valid to the end.
    static Namespace* space = new Namespace;
    return *space;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::mutex& NamespaceLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::wstring NormaliseName(const std::wstring& name) {
    std::wstring lower;
    for (wchar_t c : name) lower.push_back(static_cast<wchar_t>(std::towlower(c)));
    static const std::wstring kAliases[] = {L"\\dosdevices\\", L"\\global??\\"};
    for (const std::wstring& alias : kAliases) {
        if (StartsWith(lower, alias)) return L"\\??\\" + lower.substr(alias.size());
    }
    return lower;
}

std::wstring FromUnicodeString(PCUNICODE_STRING text) {
    if (text == nullptr || text->Buffer == nullptr) return std::wstring();
    return std::wstring(text->Buffer, text->Length / sizeof(WCHAR));
}

DeviceRecord* FindDeviceRecord(PDEVICE_OBJECT object) {
    auto& records = TheNamespace().records;
    auto it = records.find(object);
    return it == records.end() ? nullptr : it->second.get();
}

DeviceRecord* ResolveDevice(const std::wstring& name) {
    std::wstring remaining;
    DeviceRecord* device = ResolveDevicePath(name, &remaining);
    return remaining.empty() ? device : nullptr;
}

DeviceRecord* ResolveDevicePath(const std::wstring& name, std::wstring* remaining) {
    Namespace& space = TheNamespace();
    std::wstring current = name;
    remaining->clear();
    for (int hop = 0; hop < 16; ++hop) {  // bounded: links may form a loop
        bool reparsed = false;
        for (size_t end = 1; end <= current.size() && !reparsed; ++end) {
            if (end < current.size() && current[end] != L'\\') continue;  // a component boundary
            std::wstring prefix = NormaliseName(current.substr(0, end));
            auto device = space.devices.find(prefix);
            if (device != space.devices.end()) {
                *remaining = current.substr(end);
                return device->second;
            }
            auto link = space.links.find(prefix);
            if (link != space.links.end()) {
                current = link->second + current.substr(end);
                reparsed = true;
            }
        }
        if (!reparsed) return nullptr;
    }
    return nullptr;
}

bool NameInUse(const std::wstring& normalisedName) {
    Namespace& space = TheNamespace();
    return space.devices.count(normalisedName) || space.links.count(normalisedName);
}

void InsertDevice(DeviceRecord* record) {
    Namespace& space = TheNamespace();
    if (!record->name.empty()) space.devices[record->name] = record;
    space.records[record->object].reset(record);
}

void RemoveDeviceName(DeviceRecord* record) {
    Namespace& space = TheNamespace();
    if (!record->name.empty()) {
        auto it = space.devices.find(record->name);
        if (it != space.devices.end() && it->second == record) space.devices.erase(it);
    }
}

void FreeDevice(DeviceRecord* record) {
    RemoveDeviceName(record);
    PDEVICE_OBJECT object = record->object;
    if (object->DeviceExtension) std::free(object->DeviceExtension);
    TheNamespace().records.erase(object);  // deletes the record
    std::free(object);
}

bool InsertLink(const std::wstring& normalisedLink, const std::wstring& normalisedTarget) {
    return TheNamespace().links.emplace(normalisedLink, normalisedTarget).second;
}

bool RemoveLink(const std::wstring& normalisedLink) {
    return TheNamespace().links.erase(normalisedLink) != 0;
}

std::set<std::wstring> LinkNames() {
    std::set<std::wstring> names;
    for (const auto& link : TheNamespace().links) names.insert(link.first);
    return names;
}

}  // namespace standin
