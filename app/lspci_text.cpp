#include "lspci_text.h"

#include <ctype.h>
#include <string.h>

namespace {

const char kDirective[] = "# quorvenal ";
enum {
    kWordsWanted = 16,    // bytes on a data line
    kRequiredRows = 4,    // offsets 00..3f
    kMaxQuotedText = 64,  // a bad byte is quoted up to this many characters
};

struct Line {
    const char* text;
    size_t length;
    int number;
};

struct Reader {
    const LspciTextHooks* hooks;
    std::vector<LspciFunction>* functions;
    bool open;  // the last function takes data lines
    LspciRefusal refusal;
};

bool IsSpace(char c) { return isspace((unsigned char)c) != 0; }
bool IsHex(char c) { return isxdigit((unsigned char)c) != 0; }

bool IsHexRun(const char* text, size_t length, size_t start, size_t count) {
    if (start + count > length) return false;
    for (size_t i = start; i < start + count; ++i) {
        if (!IsHex(text[i])) return false;
    }
    return true;
}

unsigned int HexValue(const char* text, size_t count) {
    unsigned int value = 0;
    for (size_t i = 0; i < count; ++i) {
        char c = text[i];
        unsigned int digit = c <= '9' ? (unsigned int)(c - '0') : (unsigned int)((c | 0x20) - 'a' + 10);
        value = value << 4 | digit;
    }
    return value;
}

bool Refuse(Reader* reader, int line, const std::string& what) {
    reader->refusal.Line = line;
    reader->refusal.What = what;
    return false;
}

bool IsBlank(const Line& line) {
    for (size_t i = 0; i < line.length; ++i) {
        if (!IsSpace(line.text[i])) return false;
    }
    return true;
}

// The line's next whitespace-separated word from *at, or false at the end.
bool NextWord(const Line& line, size_t* at, size_t* start, size_t* length) {
    while (*at < line.length && IsSpace(line.text[*at])) ++*at;
    if (*at == line.length) return false;
    *start = *at;
    while (*at < line.length && !IsSpace(line.text[*at])) ++*at;
    *length = *at - *start;
    return true;
}

bool SameAddress(const LspciAddress& a, const LspciAddress& b) {
    return a.Domain == b.Domain && a.Bus == b.Bus && a.Device == b.Device && a.Function == b.Function;
}

// The function just ended must have its first four rows, and no function of
// domain 0 may come twice (another domain's functions are kept as they are).
bool CloseFunction(Reader* reader) {
    if (!reader->open) return true;
    reader->open = false;
    const LspciFunction& function = reader->functions->back();
    if (function.Address.Domain != 0) return true;
    for (unsigned row = 0; row < kRequiredRows; ++row) {
        if (!function.RowGiven[row]) {
            return Refuse(reader, function.Line, "the function has no data for offsets 00..3f");
        }
    }
    for (size_t i = 0; i + 1 < reader->functions->size(); ++i) {
        if (SameAddress((*reader->functions)[i].Address, function.Address)) {
            return Refuse(reader, function.Line, "function listed twice");
        }
    }
    return true;
}

// "[DDDD:]BB:DD.F" then a space or the end; *deviceAt is where the device
// number stands.
bool ReadAddress(const char* text, size_t length, LspciAddress* address, size_t* deviceAt) {
    size_t at = 0;
    unsigned int domain = 0;
    if (IsHexRun(text, length, 0, 4) && length > 4 && text[4] == ':' && IsHexRun(text, length, 5, 2) &&
        length > 7 && text[7] == ':') {
        domain = HexValue(text, 4);
        at = 5;
    }
    if (!(IsHexRun(text, length, at, 2) && length > at + 2 && text[at + 2] == ':' &&
          IsHexRun(text, length, at + 3, 2) && length > at + 5 && text[at + 5] == '.' && length > at + 6 &&
          text[at + 6] >= '0' && text[at + 6] <= '7')) {
        return false;
    }
    if (length > at + 7 && text[at + 7] != ' ') return false;
    address->Domain = domain;
    address->Bus = HexValue(text + at, 2);
    address->Device = HexValue(text + at + 3, 2);
    address->Function = (unsigned int)(text[at + 6] - '0');
    *deviceAt = at + 3;
    return true;
}

bool DeviceLine(Reader* reader, const Line& line, const LspciAddress& address, size_t deviceAt) {
    if (!CloseFunction(reader)) return false;
    if (address.Device > 0x1F) {
        return Refuse(reader, line.number,
                      "device number " + std::string(line.text + deviceAt, 2) + " is above 1f");
    }
    reader->functions->push_back(LspciFunction());
    LspciFunction& function = reader->functions->back();
    function.Address = address;
    function.Line = line.number;
    reader->open = true;
    return true;
}

// "OFF: xx xx ... xx": sixteen bytes at an offset 00..ff0 in steps of 10.
bool DataLine(Reader* reader, const Line& line, size_t colon) {
    if (!reader->open) return Refuse(reader, line.number, "data line outside a device");
    LspciFunction& function = reader->functions->back();
    unsigned int offset = HexValue(line.text, colon <= 3 ? colon : 0);
    if (colon > 3 || offset % 16 != 0 || offset > 0xFF0) {
        return Refuse(reader, line.number, "data offset must be 00..ff0 in steps of 10");
    }
    size_t starts[kWordsWanted];
    size_t lengths[kWordsWanted];
    size_t count = 0;
    size_t at = colon + 1;
    size_t start = 0;
    size_t length = 0;
    while (NextWord(line, &at, &start, &length)) {
        if (count < kWordsWanted) {
            starts[count] = start;
            lengths[count] = length;
        }
        ++count;
    }
    if (count != kWordsWanted) return Refuse(reader, line.number, "a data line needs 16 bytes");
    unsigned int row = offset / 16;
    if (function.RowGiven[row]) return Refuse(reader, line.number, "data offset given twice");
    for (size_t i = 0; i < kWordsWanted; ++i) {
        const char* word = line.text + starts[i];
        if (lengths[i] != 2 || !IsHex(word[0]) || !IsHex(word[1])) {
            size_t shown = lengths[i] > kMaxQuotedText ? (size_t)kMaxQuotedText : lengths[i];
            return Refuse(reader, line.number, "bad byte '" + std::string(word, shown) + "'");
        }
        function.Bytes[offset + i] = (unsigned char)HexValue(word, 2);
    }
    function.RowGiven[row] = 1;
    return true;
}

bool ReadLine(Reader* reader, Line line) {
    if (line.length > 0 && line.text[line.length - 1] == '\r') --line.length;
    if (IsBlank(line)) return CloseFunction(reader);
    size_t directive = sizeof kDirective - 1;
    if (line.length >= directive && memcmp(line.text, kDirective, directive) == 0) {
        if (reader->hooks->Directive == NULL) return true;
        std::string words(line.text + directive, line.length - directive);
        return reader->hooks->Directive(reader->hooks->Context, words, line.number, &reader->refusal);
    }

    LspciAddress address;
    size_t deviceAt = 0;
    if (ReadAddress(line.text, line.length, &address, &deviceAt))
        return DeviceLine(reader, line, address, deviceAt);

    const char* colon = static_cast<const char*>(memchr(line.text, ':', line.length));
    if (colon != NULL) {
        size_t at = (size_t)(colon - line.text);
        if (at > 0 && IsHexRun(line.text, line.length, 0, at) &&
            (at + 1 == line.length || line.text[at + 1] == ' ')) {
            return DataLine(reader, line, at);
        }
    }
    return true;  // the decoded text that lspci prints
}

bool ReadLines(Reader* reader, const std::string& text, int* lastLine) {
    size_t start = 0;
    while (start < text.size()) {
        const char* end = static_cast<const char*>(memchr(text.data() + start, '\n', text.size() - start));
        size_t length = end != NULL ? (size_t)(end - (text.data() + start)) : text.size() - start;
        Line line = {text.data() + start, length, ++*lastLine};
        if (!ReadLine(reader, line)) return false;
        start += length + 1;
    }
    return CloseFunction(reader);
}

}  // namespace

bool ReadLspciAddress(const char* text, size_t length, LspciAddress* address) {
    size_t deviceAt = 0;
    return ReadAddress(text, length, address, &deviceAt);
}

bool ReadLspciText(const std::string& text, const std::string& name, const LspciTextHooks& hooks,
                   std::vector<LspciFunction>* functions, std::string* error) {
    functions->clear();
    Reader reader = {&hooks, functions, false, LspciRefusal()};
    int lastLine = 0;
    bool ok = ReadLines(&reader, text, &lastLine);
    if (ok && hooks.Finish != NULL) ok = hooks.Finish(hooks.Context, *functions, &reader.refusal);
    if (ok && functions->empty()) ok = Refuse(&reader, lastLine, "the file holds no function");
    if (!ok) {
        functions->clear();
        *error = name + ":" + std::to_string(reader.refusal.Line) + ": " + reader.refusal.What;
    }
    return ok;
}
