// Readers of .res files, extended dialog templates, icon groups and version
// information, written from the published layouts of these records.
#include "res_decode.h"

#include <fstream>
#include <iterator>

namespace restest {

uint16_t Word(const std::vector<uint8_t>& data, size_t offset) {
    return static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8));
}

uint32_t Dword(const std::vector<uint8_t>& data, size_t offset) {
    return static_cast<uint32_t>(Word(data, offset)) |
           (static_cast<uint32_t>(Word(data, offset + 2)) << 16);
}

namespace {

size_t Align4(size_t offset) { return (offset + 3) & ~static_cast<size_t>(3); }

// Bounds-checked cursor over a record.
class Reader {
public:
    Reader(const std::vector<uint8_t>& data, size_t begin, size_t end)
        : data_(data), pos_(begin), end_(end) {}

    bool Has(size_t count) const { return pos_ <= end_ && end_ - pos_ >= count; }
    size_t pos() const { return pos_; }
    void Seek(size_t pos) { pos_ = pos; }
    void AlignTo4(size_t base) { pos_ = base + Align4(pos_ - base); }

    bool ReadWord(uint16_t* value) {
        if (!Has(2)) return false;
        *value = Word(data_, pos_);
        pos_ += 2;
        return true;
    }
    bool ReadDword(uint32_t* value) {
        if (!Has(4)) return false;
        *value = Dword(data_, pos_);
        pos_ += 4;
        return true;
    }
    bool ReadShort(int16_t* value) {
        uint16_t raw;
        if (!ReadWord(&raw)) return false;
        *value = static_cast<int16_t>(raw);
        return true;
    }
    bool ReadByte(uint8_t* value) {
        if (!Has(1)) return false;
        *value = data_[pos_++];
        return true;
    }
    // A zero-terminated UTF-16 string; characters beyond ASCII become '?'.
    bool ReadString(std::string* text) {
        text->clear();
        for (;;) {
            uint16_t c;
            if (!ReadWord(&c)) return false;
            if (c == 0) return true;
            text->push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
    }
    // 0x0000 none (ordinal 0), 0xFFFF then an ordinal, else a string.
    bool ReadSzOrOrd(ResId* id) {
        uint16_t first;
        if (!Has(2)) return false;
        first = Word(data_, pos_);
        if (first == 0xFFFF) {
            pos_ += 2;
            uint16_t ordinal;
            if (!ReadWord(&ordinal)) return false;
            id->ordinal = ordinal;
            id->name.clear();
            return true;
        }
        if (first == 0) {
            pos_ += 2;
            id->ordinal = 0;
            id->name.clear();
            return true;
        }
        id->ordinal = -1;
        return ReadString(&id->name);
    }

private:
    const std::vector<uint8_t>& data_;
    size_t pos_;
    size_t end_;
};

bool Fail(std::string* error, const std::string& what) {
    *error = what;
    return false;
}

}  // namespace

bool ReadResFile(const std::string& path, std::vector<Resource>* out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail(error, "cannot open " + path);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseResBytes(bytes, out, error);
}

bool ParseResBytes(const std::vector<uint8_t>& bytes, std::vector<Resource>* out,
                   std::string* error) {
    out->clear();
    size_t offset = 0;
    while (offset < bytes.size()) {
        Reader header(bytes, offset, bytes.size());
        uint32_t dataSize, headerSize;
        if (!header.ReadDword(&dataSize) || !header.ReadDword(&headerSize))
            return Fail(error, "truncated resource header");
        if (headerSize < 32 || offset + headerSize > bytes.size() ||
            dataSize > bytes.size() - offset - headerSize)
            return Fail(error, "resource sizes run past the file");
        Resource resource;
        Reader names(bytes, offset + 8, offset + headerSize);
        if (!names.ReadSzOrOrd(&resource.type) || !names.ReadSzOrOrd(&resource.name))
            return Fail(error, "bad resource type or name");
        names.AlignTo4(offset);
        uint32_t dataVersion, version, characteristics;
        uint16_t memoryFlags;
        if (!names.ReadDword(&dataVersion) || !names.ReadWord(&memoryFlags) ||
            !names.ReadWord(&resource.language) || !names.ReadDword(&version) ||
            !names.ReadDword(&characteristics))
            return Fail(error, "truncated resource header");
        size_t dataBegin = offset + headerSize;
        resource.data.assign(bytes.begin() + static_cast<long>(dataBegin),
                             bytes.begin() + static_cast<long>(dataBegin + dataSize));
        // The file starts with an empty entry that marks it as 32-bit.
        if (!(resource.type.ordinal == 0 && resource.name.ordinal == 0 && dataSize == 0)) {
            out->push_back(resource);
        }
        offset = Align4(dataBegin + dataSize);
    }
    return true;
}

const Resource* FindRes(const std::vector<Resource>& all, int type, int name) {
    for (const Resource& resource : all) {
        if (resource.type.ordinal == type && resource.name.ordinal == name) return &resource;
    }
    return nullptr;
}

bool ParseDialogEx(const std::vector<uint8_t>& data, DialogTemplate* out, std::string* error) {
    Reader r(data, 0, data.size());
    uint16_t count;
    if (!r.ReadWord(&out->version) || !r.ReadWord(&out->signature))
        return Fail(error, "truncated template");
    if (out->version != 1 || out->signature != 0xFFFF)
        return Fail(error, "not an extended dialog template");
    if (!r.ReadDword(&out->helpId) || !r.ReadDword(&out->exStyle) || !r.ReadDword(&out->style) ||
        !r.ReadWord(&count) || !r.ReadShort(&out->x) || !r.ReadShort(&out->y) ||
        !r.ReadShort(&out->cx) || !r.ReadShort(&out->cy) || !r.ReadSzOrOrd(&out->menu) ||
        !r.ReadSzOrOrd(&out->windowClass) || !r.ReadString(&out->title))
        return Fail(error, "truncated template header");
    const uint32_t kSetFont = 0x40, kShellFont = 0x48;
    if ((out->style & kSetFont) != 0 || (out->style & kShellFont) == kShellFont) {
        if (!r.ReadWord(&out->pointSize) || !r.ReadWord(&out->weight) || !r.ReadByte(&out->italic) ||
            !r.ReadByte(&out->charset) || !r.ReadString(&out->typeface))
            return Fail(error, "truncated font");
    }
    out->items.clear();
    for (uint16_t i = 0; i < count; ++i) {
        r.AlignTo4(0);
        DialogItem item;
        uint32_t id;
        if (!r.ReadDword(&item.helpId) || !r.ReadDword(&item.exStyle) || !r.ReadDword(&item.style) ||
            !r.ReadShort(&item.x) || !r.ReadShort(&item.y) || !r.ReadShort(&item.cx) ||
            !r.ReadShort(&item.cy) || !r.ReadDword(&id) || !r.ReadSzOrOrd(&item.windowClass) ||
            !r.ReadSzOrOrd(&item.title) || !r.ReadWord(&item.extraCount))
            return Fail(error, "truncated item " + std::to_string(i));
        item.id = static_cast<int32_t>(id);
        if (!r.Has(item.extraCount)) return Fail(error, "truncated creation data");
        r.Seek(r.pos() + item.extraCount);
        out->items.push_back(item);
    }
    return true;
}

bool ParseGroupIcon(const std::vector<uint8_t>& data, std::vector<GroupIconEntry>* out,
                    std::string* error) {
    Reader r(data, 0, data.size());
    uint16_t reserved, type, count;
    if (!r.ReadWord(&reserved) || !r.ReadWord(&type) || !r.ReadWord(&count))
        return Fail(error, "truncated icon directory");
    if (reserved != 0 || type != 1) return Fail(error, "not an icon directory");
    out->clear();
    for (uint16_t i = 0; i < count; ++i) {
        uint8_t width, height, colors, unused;
        uint16_t planes, bits, id;
        GroupIconEntry entry;
        if (!r.ReadByte(&width) || !r.ReadByte(&height) || !r.ReadByte(&colors) ||
            !r.ReadByte(&unused) || !r.ReadWord(&planes) || !r.ReadWord(&bits) ||
            !r.ReadDword(&entry.bytesInRes) || !r.ReadWord(&id))
            return Fail(error, "truncated icon entry");
        entry.width = width == 0 ? 256 : width;
        entry.height = height == 0 ? 256 : height;
        entry.colorCount = colors;
        entry.planes = planes;
        entry.bitCount = bits;
        entry.iconId = id;
        out->push_back(entry);
    }
    return true;
}

namespace {

bool ParseVersionNode(const std::vector<uint8_t>& data, size_t begin, size_t end, VersionNode* node,
                      std::string* error) {
    Reader r(data, begin, end);
    uint16_t length, valueLength;
    if (!r.ReadWord(&length) || !r.ReadWord(&valueLength) || !r.ReadWord(&node->type))
        return Fail(error, "truncated version node");
    if (length < 6 || begin + length > end) return Fail(error, "version node runs past its parent");
    size_t nodeEnd = begin + length;
    Reader inner(data, r.pos(), nodeEnd);
    if (!inner.ReadString(&node->key)) return Fail(error, "bad version key");
    inner.AlignTo4(0);
    // Text values count characters, binary values bytes.
    size_t valueBytes = node->type == 1 ? valueLength * 2u : valueLength;
    if (!inner.Has(valueBytes)) return Fail(error, "version value runs past its node");
    node->value.assign(data.begin() + static_cast<long>(inner.pos()),
                       data.begin() + static_cast<long>(inner.pos() + valueBytes));
    if (node->type == 1) {
        Reader text(data, inner.pos(), inner.pos() + valueBytes);
        text.ReadString(&node->text);  // a missing terminator keeps what was read
    }
    inner.Seek(inner.pos() + valueBytes);
    for (;;) {
        inner.AlignTo4(0);
        if (!inner.Has(6)) break;
        VersionNode child;
        if (!ParseVersionNode(data, inner.pos(), nodeEnd, &child, error)) return false;
        uint16_t childLength = Word(data, inner.pos());
        inner.Seek(inner.pos() + childLength);
        node->children.push_back(child);
    }
    return true;
}

}  // namespace

bool ParseVersionInfo(const std::vector<uint8_t>& data, VersionNode* root, std::string* error) {
    return ParseVersionNode(data, 0, data.size(), root, error);
}

const VersionNode* Child(const VersionNode& node, const std::string& key) {
    for (const VersionNode& child : node.children) {
        if (child.key == key) return &child;
    }
    return nullptr;
}

}  // namespace restest
