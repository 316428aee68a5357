// Machine files: the text that `lspci -xxxx` prints (and `lspci -F` reads),
// plus directive lines of our own that pciutils passes over as comments:
//
//   # quorvenal ecam-base 0xE0000000     physical base of the window, or "none"
//   # quorvenal ecam-last-bus 3f         the last bus the window decodes (default ff)
//   # quorvenal bus 05                   a bus that exists with no function on it
//   # quorvenal read-only 00:1f.3        a function whose registers ignore writes
//   # quorvenal bar-size 00:19.0 0 0x20000   decode size of BAR 0..5 (6 = ROM)
//   # quorvenal memory 0x0 0xC0000000    RAM, reading 0 until written
//   # quorvenal bytes 0x10000000 86 80   bytes stored in plain memory (RAM only inside RAM)
//
// Functions of PCI domains other than 0000 are counted and left out: neither
// the port pair nor the one memory-mapped window reaches them.
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "machine/machine.h"

namespace standin {

namespace {

const char kDirective[] = "# quorvenal ";

bool ParseHexNumber(const std::string& text, uint64_t* value) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
    }
    if (digits.empty() || digits.size() > 16) return false;
    uint64_t result = 0;
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        result = result << 4 | static_cast<uint64_t>(std::stoi(std::string(1, c), nullptr, 16));
    }
    *value = result;
    return true;
}

bool IsHexRun(const std::string& text, size_t start, size_t count) {
    if (start + count > text.size()) return false;
    for (size_t i = start; i < start + count; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

unsigned HexValue(const std::string& text, size_t start, size_t count) {
    return static_cast<unsigned>(std::stoul(text.substr(start, count), nullptr, 16));
}

std::vector<std::string> SplitWords(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

bool IsBlank(const std::string& line) {
    for (char c : line) {
        if (!std::isspace(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// A device line: "[DDDD:]BB:DD.F" then a space or the end of the line.
// Returns false if the line is not one; *bad is set when it looks like one
// but cannot be (device number above 1f).
bool ParseDeviceLine(const std::string& line, unsigned* domain, FunctionAddress* address, std::string* bad) {
    size_t at = 0;
    unsigned domainValue = 0;
    if (IsHexRun(line, 0, 4) && line.size() > 4 && line[4] == ':' && IsHexRun(line, 5, 2) &&
        line.size() > 7 && line[7] == ':') {
        domainValue = HexValue(line, 0, 4);
        at = 5;
    }
    if (!(IsHexRun(line, at, 2) && line.size() > at + 2 && line[at + 2] == ':' && IsHexRun(line, at + 3, 2) &&
          line.size() > at + 5 && line[at + 5] == '.' && line.size() > at + 6 && line[at + 6] >= '0' &&
          line[at + 6] <= '7')) {
        return false;
    }
    if (line.size() > at + 7 && line[at + 7] != ' ') return false;
    address->bus = HexValue(line, at, 2);
    address->device = HexValue(line, at + 3, 2);
    address->function = static_cast<unsigned>(line[at + 6] - '0');
    *domain = domainValue;
    if (address->device > 0x1F) *bad = "device number " + line.substr(at + 3, 2) + " is above 1f";
    return true;
}

struct PendingDevice {
    bool open = false;
    bool otherDomain = false;
    int line = 0;
    FunctionAddress address{};
    uint8_t bytes[Machine::kConfigSpaceBytes];
    bool given[Machine::kConfigSpaceBytes / 16];
};

struct Parser {
    std::string name;
    std::unique_ptr<Machine> machine = std::make_unique<Machine>();
    PendingDevice device;
    std::string error;

    struct ReadOnly {
        FunctionAddress address;
        int line;
    };
    struct BarSize {
        FunctionAddress address;
        unsigned index;
        uint64_t size;
        int line;
    };
    struct Memory {
        uint64_t base;
        uint64_t size;
        int line;
    };
    struct Bytes {
        uint64_t address;
        std::vector<uint8_t> bytes;
        int line;
    };
    std::vector<ReadOnly> readOnly;
    std::vector<BarSize> barSizes;
    std::vector<Memory> memory;
    std::vector<Bytes> bytes;

    bool Fail(int line, const std::string& what) {
        error = name + ":" + std::to_string(line) + ": " + what;
        return false;
    }

    bool CloseDevice() {
        if (!device.open) return true;
        device.open = false;
        if (device.otherDomain) {
            machine->NoteSkippedFunction();
            return true;
        }
        for (unsigned row = 0; row < 4; ++row) {
            if (!device.given[row]) {
                return Fail(device.line, "the function has no data for offsets 00..3f");
            }
        }
        unsigned length = 0;
        for (unsigned row = 0; row < Machine::kConfigSpaceBytes / 16; ++row) {
            if (device.given[row]) length = (row + 1) * 16;
        }
        std::string why;
        if (!machine->AddFunction(device.address, device.bytes, length, &why)) {
            return Fail(device.line, why);
        }
        return true;
    }

    bool DataLine(const std::string& line, int lineNumber) {
        size_t colon = line.find(':');
        if (!device.open) return Fail(lineNumber, "data line outside a device");
        uint64_t offset = 0;
        if (!ParseHexNumber(line.substr(0, colon), &offset) || colon > 3 || offset % 16 != 0 ||
            offset > 0xFF0) {
            return Fail(lineNumber, "data offset must be 00..ff0 in steps of 10");
        }
        std::vector<std::string> words = SplitWords(line.substr(colon + 1));
        if (words.size() != 16) return Fail(lineNumber, "a data line needs 16 bytes");
        if (device.given[offset / 16]) return Fail(lineNumber, "data offset given twice");
        for (size_t i = 0; i < 16; ++i) {
            if (words[i].size() != 2 || !IsHexRun(words[i], 0, 2)) {
                return Fail(lineNumber, "bad byte '" + words[i] + "'");
            }
            device.bytes[offset + i] = static_cast<uint8_t>(HexValue(words[i], 0, 2));
        }
        device.given[offset / 16] = true;
        return true;
    }

    bool Directive(const std::string& text, int line) {
        std::vector<std::string> words = SplitWords(text);
        if (words.empty()) return Fail(line, "empty directive");
        const std::string& verb = words[0];
        FunctionAddress address{};
        uint64_t a = 0;
        uint64_t b = 0;
        if (verb == "ecam-base" && words.size() == 2) {
            if (words[1] == "none") {
                machine->SetEcamBase(Machine::kNoEcam);
                return true;
            }
            if (!ParseHexNumber(words[1], &a) || a % (1u << 20) != 0) {
                return Fail(line, "ecam-base needs a hexadecimal address aligned to 1 MiB, or none");
            }
            machine->SetEcamBase(a);
            return true;
        }
        if (verb == "ecam-last-bus" && words.size() == 2) {
            if (!ParseHexNumber(words[1], &a) || a > 0xFF) return Fail(line, "ecam-last-bus needs 00..ff");
            machine->SetEcamLastBus(static_cast<unsigned>(a));
            return true;
        }
        if (verb == "bus" && words.size() == 2) {
            if (!ParseHexNumber(words[1], &a) || a > 0xFF) return Fail(line, "bus needs 00..ff");
            machine->AddBus(static_cast<unsigned>(a));
            return true;
        }
        if (verb == "read-only" && words.size() == 2) {
            if (!ParseFunctionAddress(words[1], &address)) return Fail(line, "read-only needs BB:DD.F");
            readOnly.push_back({address, line});
            return true;
        }
        if (verb == "bar-size" && words.size() == 4) {
            if (!ParseFunctionAddress(words[1], &address)) return Fail(line, "bar-size needs BB:DD.F");
            if (!ParseHexNumber(words[2], &a) || a > 6) return Fail(line, "bar-size index must be 0..6");
            if (!ParseHexNumber(words[3], &b)) return Fail(line, "bar-size needs a hexadecimal size");
            barSizes.push_back({address, static_cast<unsigned>(a), b, line});
            return true;
        }
        if (verb == "memory" && words.size() == 3) {
            if (!ParseHexNumber(words[1], &a) || !ParseHexNumber(words[2], &b)) {
                return Fail(line, "memory needs a hexadecimal base and size");
            }
            memory.push_back({a, b, line});
            return true;
        }
        if (verb == "bytes" && words.size() >= 3) {
            if (!ParseHexNumber(words[1], &a)) return Fail(line, "bytes needs a hexadecimal address");
            Bytes entry{a, {}, line};
            for (size_t i = 2; i < words.size(); ++i) {
                if (words[i].size() != 2 || !IsHexRun(words[i], 0, 2)) {
                    return Fail(line, "bad byte '" + words[i] + "'");
                }
                entry.bytes.push_back(static_cast<uint8_t>(HexValue(words[i], 0, 2)));
            }
            bytes.push_back(entry);
            return true;
        }
        return Fail(line, "unknown directive '" + text + "'");
    }

    bool Line(const std::string& raw, int lineNumber) {
        std::string line = raw;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (IsBlank(line)) return CloseDevice();
        if (line.compare(0, std::strlen(kDirective), kDirective) == 0) {
            return Directive(line.substr(std::strlen(kDirective)), lineNumber);
        }
        unsigned domain = 0;
        FunctionAddress address{};
        std::string bad;
        if (ParseDeviceLine(line, &domain, &address, &bad)) {
            if (!CloseDevice()) return false;
            if (!bad.empty()) return Fail(lineNumber, bad);
            device.open = true;
            device.otherDomain = domain != 0;
            device.line = lineNumber;
            device.address = address;
            std::memset(device.bytes, 0, sizeof device.bytes);
            std::memset(device.given, 0, sizeof device.given);
            return true;
        }
        size_t colon = line.find(':');
        if (colon != std::string::npos && colon > 0 && IsHexRun(line, 0, colon) &&
            (colon + 1 == line.size() || line[colon + 1] == ' ')) {
            return DataLine(line, lineNumber);
        }
        return true;  // decoded text that lspci prints: not ours to read
    }

    bool Finish(int lastLine) {
        if (!CloseDevice()) return false;
        std::string why;
        for (const Memory& entry : memory) {
            if (!machine->AddMemory(entry.base, entry.size, &why)) return Fail(entry.line, why);
        }
        for (const Bytes& entry : bytes) {
            if (!machine->StoreMemory(entry.address, entry.bytes, &why)) return Fail(entry.line, why);
        }
        for (const ReadOnly& entry : readOnly) {
            if (!machine->SetReadOnly(entry.address)) {
                return Fail(entry.line, "read-only names a function the file does not hold");
            }
        }
        for (const BarSize& entry : barSizes) {
            if (!machine->SetBarSize(entry.address, entry.index, entry.size, &why)) {
                return Fail(entry.line, why);
            }
        }
        if (machine->Functions().empty() && machine->SkippedFunctions() == 0) {
            return Fail(lastLine, "the file holds no function");
        }
        return true;
    }
};

}  // namespace

bool ParseFunctionAddress(const std::string& text, FunctionAddress* address) {
    unsigned domain = 0;
    FunctionAddress parsed{};
    std::string bad;
    if (!ParseDeviceLine(text, &domain, &parsed, &bad) || !bad.empty() || domain != 0) return false;
    if (text.size() != 7) return false;
    *address = parsed;
    return true;
}

std::unique_ptr<Machine> LoadMachineText(const std::string& text, const std::string& name,
                                         std::string* error) {
    Parser parser;
    parser.name = name;
    std::istringstream in(text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!parser.Line(line, lineNumber)) {
            *error = parser.error;
            return nullptr;
        }
    }
    if (!parser.Finish(lineNumber)) {
        *error = parser.error;
        return nullptr;
    }
    return std::move(parser.machine);
}

std::unique_ptr<Machine> LoadMachineFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ":0: cannot open the file";
        return nullptr;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    return LoadMachineText(contents.str(), path, error);
}

}  // namespace standin
