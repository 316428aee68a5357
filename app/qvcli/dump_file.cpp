#include "dump_file.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char kDirective[] = "# quorvenal ";
enum { kMaxWordText = 64, kWordsWanted = 16 };

struct Line {
    const char* text;
    size_t length;
    int number;
};

struct Parser {
    const char* name;
    SpaceList* functions;
    SpaceImage* open;  // the function whose data lines come now, or NULL
    char* error;
};

bool IsSpace(char c) { return isspace((unsigned char)c) != 0; }
bool IsHex(char c) { return isxdigit((unsigned char)c) != 0; }

bool IsHexRun(const Line& line, size_t start, size_t count) {
    if (start + count > line.length) return false;
    for (size_t i = start; i < start + count; ++i) {
        if (!IsHex(line.text[i])) return false;
    }
    return true;
}

QvU32 HexValue(const char* text, size_t count) {
    QvU32 value = 0;
    for (size_t i = 0; i < count; ++i) {
        char c = text[i];
        QvU32 digit = c <= '9' ? (QvU32)(c - '0') : (QvU32)((c | 0x20) - 'a' + 10);
        value = value << 4 | digit;
    }
    return value;
}

bool Fail(Parser* parser, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));
bool Fail(Parser* parser, int line, const char* format, ...) {
    int used = snprintf(parser->error, kDumpErrorBytes, "%s:%d: ", parser->name, line);
    if (used < 0 || used >= kDumpErrorBytes) return false;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(parser->error + used, kDumpErrorBytes - used, format, arguments);
    va_end(arguments);
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

// The function just ended must have its first four rows, and no function of
// domain 0 may come twice (another domain's functions are kept as they are).
bool CloseFunction(Parser* parser) {
    SpaceImage* function = parser->open;
    if (function == NULL) return true;
    parser->open = NULL;
    if (function->Address.Domain != 0) return true;
    for (unsigned row = 0; row < 4; ++row) {
        if (!function->RowGiven[row]) {
            return Fail(parser, function->Line, "the function has no data for offsets 00..3f");
        }
    }
    for (unsigned i = 0; i + 1 < parser->functions->Count; ++i) {
        if (SamePciAddress(parser->functions->Items[i].Address, function->Address)) {
            return Fail(parser, function->Line, "function listed twice");
        }
    }
    return true;
}

// "[DDDD:]BB:DD.F" then a space or the end of the line. Returns false if the
// line is not a device line; *deviceAt is where its device number stands.
bool ReadDeviceLine(const Line& line, PciAddress* address, size_t* deviceAt) {
    size_t at = 0;
    QvU32 domain = 0;
    if (IsHexRun(line, 0, 4) && line.length > 4 && line.text[4] == ':' && IsHexRun(line, 5, 2) &&
        line.length > 7 && line.text[7] == ':') {
        domain = HexValue(line.text, 4);
        at = 5;
    }
    if (!(IsHexRun(line, at, 2) && line.length > at + 2 && line.text[at + 2] == ':' &&
          IsHexRun(line, at + 3, 2) && line.length > at + 5 && line.text[at + 5] == '.' &&
          line.length > at + 6 && line.text[at + 6] >= '0' && line.text[at + 6] <= '7')) {
        return false;
    }
    if (line.length > at + 7 && line.text[at + 7] != ' ') return false;
    address->Domain = domain;
    address->Bus = HexValue(line.text + at, 2);
    address->Device = HexValue(line.text + at + 3, 2);
    address->Function = (QvU32)(line.text[at + 6] - '0');
    *deviceAt = at + 3;
    return true;
}

bool DeviceLine(Parser* parser, const Line& line, const PciAddress& address, size_t deviceAt) {
    if (!CloseFunction(parser)) return false;
    if (address.Device > 0x1F) {
        return Fail(parser, line.number, "device number %.2s is above 1f", line.text + deviceAt);
    }
    SpaceImage* function = AppendSpace(parser->functions);
    if (function == NULL) return Fail(parser, line.number, "out of memory");
    function->Address = address;
    function->Line = line.number;
    parser->open = function;
    return true;
}

// "OFF: xx xx ... xx": sixteen bytes at an offset 00..ff0 in steps of 10.
bool DataLine(Parser* parser, const Line& line, size_t colon) {
    SpaceImage* function = parser->open;
    if (function == NULL) return Fail(parser, line.number, "data line outside a device");
    QvU32 offset = HexValue(line.text, colon <= 3 ? colon : 0);
    if (colon > 3 || offset % 16 != 0 || offset > 0xFF0) {
        return Fail(parser, line.number, "data offset must be 00..ff0 in steps of 10");
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
    if (count != kWordsWanted) return Fail(parser, line.number, "a data line needs 16 bytes");
    unsigned row = offset / 16;
    if (function->RowGiven[row]) return Fail(parser, line.number, "data offset given twice");
    for (size_t i = 0; i < kWordsWanted; ++i) {
        const char* word = line.text + starts[i];
        if (lengths[i] != 2 || !IsHex(word[0]) || !IsHex(word[1])) {
            int shown = lengths[i] > kMaxWordText ? (int)kMaxWordText : (int)lengths[i];
            return Fail(parser, line.number, "bad byte '%.*s'", shown, word);
        }
        function->Bytes[offset + i] = (QvU8)HexValue(word, 2);
    }
    function->RowGiven[row] = 1;
    return true;
}

bool ReadLine(Parser* parser, Line line) {
    if (line.length > 0 && line.text[line.length - 1] == '\r') --line.length;
    if (IsBlank(line)) return CloseFunction(parser);
    size_t directive = sizeof kDirective - 1;
    if (line.length >= directive && memcmp(line.text, kDirective, directive) == 0) return true;

    PciAddress address;
    size_t deviceAt = 0;
    if (ReadDeviceLine(line, &address, &deviceAt)) return DeviceLine(parser, line, address, deviceAt);

    const char* colon = static_cast<const char*>(memchr(line.text, ':', line.length));
    if (colon != NULL) {
        size_t at = (size_t)(colon - line.text);
        if (at > 0 && IsHexRun(line, 0, at) && (at + 1 == line.length || line.text[at + 1] == ' ')) {
            return DataLine(parser, line, at);
        }
    }
    return true;  // the decoded text that lspci prints
}

}  // namespace

bool ParseDumpText(const char* text, size_t length, const char* name, SpaceList* functions, char* error) {
    Parser parser = {name, functions, NULL, error};
    unsigned before = functions->Count;
    int number = 0;
    size_t start = 0;
    bool ok = true;
    while (ok && start < length) {
        const char* end = static_cast<const char*>(memchr(text + start, '\n', length - start));
        size_t lineLength = end != NULL ? (size_t)(end - (text + start)) : length - start;
        Line line = {text + start, lineLength, ++number};
        ok = ReadLine(&parser, line);
        start += lineLength + 1;
    }
    if (ok) ok = CloseFunction(&parser);
    if (ok && functions->Count == before) ok = Fail(&parser, number, "the file holds no function");
    if (!ok) functions->Count = before;
    return ok;
}

bool ReadDumpFile(const char* path, SpaceList* functions, char* error) {
    FILE* file = fopen(path, "rb");
    if (file == NULL) {
        snprintf(error, kDumpErrorBytes, "%s:0: cannot open the file", path);
        return false;
    }
    size_t capacity = 65536;
    size_t length = 0;
    char* text = static_cast<char*>(malloc(capacity));
    bool readOk = text != NULL;
    while (readOk) {
        if (length == capacity) {
            char* bigger = static_cast<char*>(realloc(text, capacity * 2));
            if (bigger == NULL) {
                readOk = false;
                break;
            }
            text = bigger;
            capacity *= 2;
        }
        size_t got = fread(text + length, 1, capacity - length, file);
        length += got;
        if (got == 0) {
            readOk = !ferror(file);
            break;
        }
    }
    fclose(file);
    if (!readOk) {
        free(text);
        snprintf(error, kDumpErrorBytes, "%s:0: cannot read the file", path);
        return false;
    }
    bool ok = ParseDumpText(text, length, path, functions, error);
    free(text);
    return ok;
}
