// Decoding of binary dialog templates, with every read bounds-checked.
#include "dialog_template.h"

namespace standin {
namespace ui {
namespace {

class TemplateReader {
public:
    TemplateReader(const unsigned char* data, size_t size) : data_(data), size_(size) {}
    bool ok() const { return ok_; }
    size_t offset() const { return offset_; }

    WORD Word() {
        if (!ok_ || offset_ > size_ || size_ - offset_ < 2) {
            ok_ = false;
            return 0;
        }
        WORD v = static_cast<WORD>(data_[offset_] | (data_[offset_ + 1] << 8));
        offset_ += 2;
        return v;
    }
    DWORD Dword() {
        WORD lo = Word();
        WORD hi = Word();
        return static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16);
    }
    BYTE Byte() {
        if (!ok_ || offset_ >= size_) {
            ok_ = false;
            return 0;
        }
        return data_[offset_++];
    }
    // A zero-terminated UTF-16 string, turned into UTF-8.
    std::string String() {
        std::string out;
        for (;;) {
            WORD c = Word();
            if (!ok_ || c == 0) break;
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c < 0x800) {
                out += static_cast<char>(0xC0 | (c >> 6));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                out += static_cast<char>(0xE0 | (c >> 12));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return out;
    }
    // sz_Or_Ord: 0 (none), 0xFFFF and an ordinal, or a string.
    std::string NameOrOrdinal(bool* isOrdinal, WORD* ordinal) {
        *isOrdinal = false;
        if (!ok_ || offset_ > size_ || size_ - offset_ < 2) {
            ok_ = false;
            return "";
        }
        WORD first = static_cast<WORD>(data_[offset_] | (data_[offset_ + 1] << 8));
        if (first == 0) {
            offset_ += 2;
            return "";
        }
        if (first == 0xFFFF) {
            offset_ += 2;
            *isOrdinal = true;
            *ordinal = Word();
            return "#" + std::to_string(*ordinal);
        }
        return String();
    }
    void AlignDword() {
        offset_ = (offset_ + 3) & ~static_cast<size_t>(3);
        if (offset_ > size_) ok_ = false;
    }
    void Skip(size_t n) {
        if (!ok_ || n > size_ - offset_) {
            ok_ = false;
            return;
        }
        offset_ += n;
    }
    const unsigned char* Here() const { return data_ + offset_; }

private:
    const unsigned char* data_;
    size_t size_;
    size_t offset_ = 0;
    bool ok_ = true;
};

}  // namespace

bool ParseDialogTemplate(const void* data, size_t size, DialogTemplate* out, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error) *error = what;
        return false;
    };
    if (!data || size < 18) return fail("dialog template too short");
    TemplateReader r(static_cast<const unsigned char*>(data), size);
    DialogTemplate t;
    WORD version = r.Word();
    WORD signature = r.Word();
    t.extended = version == 1 && signature == 0xFFFF;
    WORD count = 0;
    if (t.extended) {
        t.helpId = r.Dword();
        t.exStyle = r.Dword();
        t.style = r.Dword();
    } else {
        r = TemplateReader(static_cast<const unsigned char*>(data), size);
        t.style = r.Dword();
        t.exStyle = r.Dword();
    }
    count = r.Word();
    t.x = static_cast<short>(r.Word());
    t.y = static_cast<short>(r.Word());
    t.cx = static_cast<short>(r.Word());
    t.cy = static_cast<short>(r.Word());
    bool ordinal;
    WORD value;
    t.menu = r.NameOrOrdinal(&ordinal, &value);
    t.windowClass = r.NameOrOrdinal(&ordinal, &value);
    t.title = r.String();
    if (t.style & DS_SETFONT) {
        t.hasFont = true;
        t.pointSize = r.Word();
        if (t.extended) {
            t.weight = r.Word();
            t.italic = r.Byte();
            t.charset = r.Byte();
        }
        t.typeface = r.String();
    }
    if (!r.ok()) return fail("dialog template header is truncated");
    for (WORD i = 0; i < count; ++i) {
        DialogItem item;
        r.AlignDword();
        if (t.extended) {
            item.helpId = r.Dword();
            item.exStyle = r.Dword();
            item.style = r.Dword();
        } else {
            item.style = r.Dword();
            item.exStyle = r.Dword();
        }
        item.x = static_cast<short>(r.Word());
        item.y = static_cast<short>(r.Word());
        item.cx = static_cast<short>(r.Word());
        item.cy = static_cast<short>(r.Word());
        item.id = t.extended ? r.Dword() : r.Word();
        WORD atom = 0;
        item.className = r.NameOrOrdinal(&ordinal, &atom);
        if (ordinal) {
            switch (atom) {
                case 0x0080: item.className = "Button"; break;
                case 0x0081: item.className = "Edit"; break;
                case 0x0082: item.className = "Static"; break;
                case 0x0083: item.className = "ListBox"; break;
                case 0x0084: item.className = "ScrollBar"; break;
                case 0x0085: item.className = "ComboBox"; break;
                default: break;
            }
        }
        item.text = r.NameOrOrdinal(&item.textIsOrdinal, &item.textOrdinal);
        WORD extra = r.Word();
        // The classic layout counts the size word itself in the creation data.
        if (!t.extended && extra >= 2) extra = static_cast<WORD>(extra - 2);
        if (extra) {
            const unsigned char* start = r.Here();
            r.Skip(extra);
            if (r.ok()) item.creationData.assign(start, start + extra);
        }
        if (!r.ok())
            return fail("dialog item " + std::to_string(i + 1) + " of " + std::to_string(count) +
                        " is truncated");
        t.items.push_back(std::move(item));
    }
    *out = std::move(t);
    return true;
}

}  // namespace ui
}  // namespace standin
