// Compiled resource files, the resource lookup calls and icon loading.
#include "resources.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>

#include "win32/process_options.h"

namespace standin {
namespace ui {
namespace {

// The program's module handle, at the usual image base of a 32-bit program.
HMODULE const kProgramModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));

struct ResourceStore {
    std::deque<ResourceEntry> entries;  // stable addresses: HRSRC points at an entry
    std::deque<IconInfo> icons;         // HICON points at an icon record
};

ResourceStore& Store() {
    static ResourceStore store;
    return store;
}

class Reader {
public:
    Reader(const unsigned char* data, size_t size) : data_(data), size_(size) {}
    size_t offset() const { return offset_; }
    bool Word(WORD* out) {
        if (offset_ > size_ || size_ - offset_ < 2) return false;
        *out = static_cast<WORD>(data_[offset_] | (data_[offset_ + 1] << 8));
        offset_ += 2;
        return true;
    }
    bool Dword(DWORD* out) {
        WORD lo, hi;
        if (!Word(&lo) || !Word(&hi)) return false;
        *out = static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16);
        return true;
    }
    // A name or ordinal field: 0xFFFF then an ordinal, or a UTF-16 string.
    bool Id(ResourceId* id) {
        WORD first;
        if (!Word(&first)) return false;
        if (first == 0xFFFF) {
            id->isString = false;
            return Word(&id->ordinal);
        }
        id->isString = true;
        id->name.clear();
        for (WORD c = first; c != 0;) {
            id->name += static_cast<char>(c < 0x80 ? toupper(c) : '?');
            if (!Word(&c)) return false;
        }
        return true;
    }
    bool Seek(size_t offset) {
        if (offset > size_) return false;
        offset_ = offset;
        return true;
    }

private:
    const unsigned char* data_;
    size_t size_;
    size_t offset_ = 0;
};

bool SameId(const ResourceId& a, const ResourceId& b) {
    if (a.isString != b.isString) return false;
    return a.isString ? a.name == b.name : a.ordinal == b.ordinal;
}

// A name as the caller passes it: MAKEINTRESOURCE, "#123" or a string.
ResourceId IdFromName(LPCSTR name) {
    ResourceId id;
    if (IS_INTRESOURCE(name)) {
        id.ordinal = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
        return id;
    }
    if (name[0] == '#') {
        unsigned long value = strtoul(name + 1, nullptr, 10);
        id.ordinal = static_cast<WORD>(value);
        return id;
    }
    id.isString = true;
    for (const char* p = name; *p; ++p) id.name += static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    return id;
}

bool AcceptsModule(HMODULE module) { return module == nullptr || module == kProgramModule; }

const ResourceEntry* Find(const ResourceId& type, const ResourceId& name) {
    for (const ResourceEntry& e : Store().entries) {
        if (SameId(e.type, type) && SameId(e.name, name)) return &e;
    }
    return nullptr;
}

const ResourceEntry* FindOrdinal(WORD type, WORD ordinal) {
    ResourceId t, n;
    t.ordinal = type;
    n.ordinal = ordinal;
    return Find(t, n);
}

// The best image of a group icon for the standard icon size: the exact size
// with the most colours, else the largest image.
HICON IconFromGroup(const ResourceEntry& group) {
    const std::vector<unsigned char>& d = group.data;
    Reader r(d.data(), d.size());
    WORD reserved, type, count;
    if (!r.Word(&reserved) || !r.Word(&type) || !r.Word(&count) || type != 1 || count == 0) return nullptr;
    const int want = GetSystemMetrics(SM_CXICON);
    IconInfo best;
    int bestScore = -1;
    for (WORD i = 0; i < count; ++i) {
        if (!r.Seek(6 + 14u * i) || d.size() < 6 + 14u * (i + 1u)) return nullptr;
        const unsigned char* e = d.data() + 6 + 14 * i;
        int width = e[0] ? e[0] : 256;
        int height = e[1] ? e[1] : 256;
        int bits = e[6] | (e[7] << 8);
        WORD id = static_cast<WORD>(e[12] | (e[13] << 8));
        if (!FindOrdinal(3, id)) continue;  // the image itself must be there
        int score = (width == want ? 100000 : 0) + width * 100 + bits;
        if (score > bestScore) {
            bestScore = score;
            best.iconId = id;
            best.width = width;
            best.height = height;
            best.bitCount = bits;
        }
    }
    if (bestScore < 0) return nullptr;
    best.group = group.name.isString ? group.name.name : "#" + std::to_string(group.name.ordinal);
    for (IconInfo& known : Store().icons) {
        if (known.group == best.group && known.iconId == best.iconId) return reinterpret_cast<HICON>(&known);
    }
    Store().icons.push_back(best);
    return reinterpret_cast<HICON>(&Store().icons.back());
}

}  // namespace

bool ParseResourceFile(const unsigned char* data, size_t size, std::vector<ResourceEntry>* entries,
                       std::string* error) {
    std::vector<ResourceEntry> out;
    Reader r(data, size);
    size_t start = 0;
    auto fail = [&](const char* what) {
        if (error) *error = std::string(what) + " at byte " + std::to_string(start);
        return false;
    };
    while (start < size) {
        if (size - start < 32) return fail("truncated resource header");
        r.Seek(start);
        DWORD dataSize = 0, headerSize = 0;
        ResourceEntry e;
        r.Dword(&dataSize);
        r.Dword(&headerSize);
        if (headerSize < 32 || headerSize > size - start) return fail("bad resource header size");
        if (dataSize > size - start - headerSize) return fail("resource data past the end of the file");
        if (!r.Id(&e.type) || !r.Id(&e.name)) return fail("bad resource type or name");
        size_t fixed = (r.offset() + 3) & ~static_cast<size_t>(3);
        if (fixed + 16 > start + headerSize) return fail("resource header too short for its fields");
        r.Seek(fixed);
        DWORD dataVersion = 0, version = 0, characteristics = 0;
        WORD flags = 0, language = 0;
        r.Dword(&dataVersion);
        r.Word(&flags);
        r.Word(&language);
        r.Dword(&version);
        r.Dword(&characteristics);
        e.language = language;
        const unsigned char* body = data + start + headerSize;
        e.data.assign(body, body + dataSize);
        // The leading empty entry (type 0, name 0, no data) marks a 32-bit .res file.
        bool marker = !e.type.isString && e.type.ordinal == 0 && dataSize == 0;
        if (!marker) out.push_back(std::move(e));
        size_t next = start + headerSize + dataSize;
        start = (next + 3) & ~static_cast<size_t>(3);
        if (start > size) start = size;
    }
    if (entries) *entries = std::move(out);
    return true;
}

const IconInfo* FindIcon(HICON icon) {
    for (const IconInfo& known : Store().icons) {
        if (reinterpret_cast<HICON>(const_cast<IconInfo*>(&known)) == icon) return &known;
    }
    return nullptr;
}

size_t ResourceBytesFrom(const void* p) {
    const unsigned char* at = static_cast<const unsigned char*>(p);
    for (const ResourceEntry& e : Store().entries) {
        const unsigned char* begin = e.data.data();
        if (!e.data.empty() && at >= begin && at < begin + e.data.size())
            return static_cast<size_t>(begin + e.data.size() - at);
    }
    return 0;
}

void ClearResources() {
    Store().entries.clear();
    // Icon records stay: handles given out earlier must not dangle.
}

}  // namespace ui

void RegisterResourceFile(const unsigned char* data, size_t size) {
    std::vector<ui::ResourceEntry> entries;
    std::string error;
    if (!ui::ParseResourceFile(data, size, &entries, &error)) {
        fprintf(stderr, "quorvenal: the program's resources are malformed: %s\n", error.c_str());
        return;
    }
    for (ui::ResourceEntry& e : entries) ui::Store().entries.push_back(std::move(e));
}

}  // namespace standin

using namespace standin::ui;

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    if (!moduleName) return kProgramModule;
    std::string name;
    for (const char* p = moduleName; *p; ++p)
        name += static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    return name == "quorvenal.exe" || name == "quorvenal" ? kProgramModule : nullptr;
}

// The program file's Windows path; truncated like Windows when it does not fit.
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    if (!AcceptsModule(module) || !fileName || size == 0) return 0;
    char linuxPath[4096];
    ssize_t n = readlink("/proc/self/exe", linuxPath, sizeof(linuxPath) - 1);
    if (n <= 0) return 0;
    linuxPath[n] = '\0';
    std::string path = standin::WindowsPathOf(linuxPath);
    if (path.size() >= size) {
        memcpy(fileName, path.data(), size - 1);
        fileName[size - 1] = '\0';
        return size;
    }
    memcpy(fileName, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    if (!AcceptsModule(module) || !name || !type) return nullptr;
    const ResourceEntry* e = Find(IdFromName(type), IdFromName(name));
    return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(e));
}

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource) {
    if (!AcceptsModule(module) || !resource) return nullptr;
    ResourceEntry* e = reinterpret_cast<ResourceEntry*>(resource);
    // A resource of no bytes still loads; its handle is the entry itself.
    return e->data.empty() ? static_cast<HGLOBAL>(e) : static_cast<HGLOBAL>(e->data.data());
}

LPVOID WINAPI LockResource(HGLOBAL data) { return data; }

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
    if (!AcceptsModule(module) || !resource) return 0;
    return static_cast<DWORD>(reinterpret_cast<ResourceEntry*>(resource)->data.size());
}

BOOL WINAPI FreeResource(HGLOBAL) { return FALSE; }

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    if (!name) return nullptr;
    if (!instance) {
        if (!IS_INTRESOURCE(name) || reinterpret_cast<ULONG_PTR>(name) != 32512) return nullptr;
        for (IconInfo& known : Store().icons) {
            if (known.group == "IDI_APPLICATION") return reinterpret_cast<HICON>(&known);
        }
        IconInfo stock;
        stock.group = "IDI_APPLICATION";
        stock.width = stock.height = 32;
        stock.bitCount = 32;
        Store().icons.push_back(stock);
        return reinterpret_cast<HICON>(&Store().icons.back());
    }
    if (!AcceptsModule(instance)) return nullptr;
    ResourceId type;
    type.ordinal = 14;  // RT_GROUP_ICON
    const ResourceEntry* group = Find(type, IdFromName(name));
    return group ? IconFromGroup(*group) : nullptr;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    return instance ? nullptr : LoadIconA(nullptr, name ? IDI_APPLICATION : nullptr);
}

}  // extern "C"
