// Machine files: the text that `lspci -xxxx` prints (and `lspci -F` reads),
// read by the program's own reader (app/lspci_text.h), plus directive lines
// of our own that pciutils passes over as comments:
//
//   # quorvenal ecam-base 0xE0000000     physical base of the window, or "none"
//   # quorvenal ecam-last-bus 3f         the last bus the window decodes (default ff)
//   # quorvenal bus 05                   a bus that exists with no function on it
//   # quorvenal read-only 00:1f.3        a function whose registers ignore writes
//   # quorvenal bar-size 00:19.0 0 0x20000   decode size of BAR 0..5 (6 = ROM)
//   # quorvenal memory 0x0 0xC0000000    RAM, reading 0 until written
//   # quorvenal bytes 0x10000000 86 80   bytes stored in plain memory (RAM only inside RAM)
//
// The reader hands each directive to this file where it stands; those that
// name a function or lay out memory are applied once the functions are in.
// Functions of PCI domains other than 0000 are counted and left out: neither
// the port pair nor the one memory-mapped window reaches them.
#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/lspci_text.h"
#include "machine/machine.h"

namespace standin {

namespace {

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

bool Refuse(LspciRefusal* refusal, int line, const std::string& what) {
    refusal->Line = line;
    refusal->What = what;
    return false;
}

// What the directives ask for, and the machine they build.
struct Builder {
    std::unique_ptr<Machine> machine = std::make_unique<Machine>();

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
};

bool Directive(void* context, const std::string& text, int line, LspciRefusal* refusal) {
    Builder& builder = *static_cast<Builder*>(context);
    Machine& machine = *builder.machine;
    std::vector<std::string> words = SplitWords(text);
    if (words.empty()) return Refuse(refusal, line, "empty directive");
    const std::string& verb = words[0];
    FunctionAddress address{};
    uint64_t a = 0;
    uint64_t b = 0;
    if (verb == "ecam-base" && words.size() == 2) {
        if (words[1] == "none") {
            machine.SetEcamBase(Machine::kNoEcam);
            return true;
        }
        if (!ParseHexNumber(words[1], &a) || a % (1u << 20) != 0) {
            return Refuse(refusal, line, "ecam-base needs a hexadecimal address aligned to 1 MiB, or none");
        }
        machine.SetEcamBase(a);
        return true;
    }
    if (verb == "ecam-last-bus" && words.size() == 2) {
        if (!ParseHexNumber(words[1], &a) || a > 0xFF)
            return Refuse(refusal, line, "ecam-last-bus needs 00..ff");
        machine.SetEcamLastBus(static_cast<unsigned>(a));
        return true;
    }
    if (verb == "bus" && words.size() == 2) {
        if (!ParseHexNumber(words[1], &a) || a > 0xFF) return Refuse(refusal, line, "bus needs 00..ff");
        machine.AddBus(static_cast<unsigned>(a));
        return true;
    }
    if (verb == "read-only" && words.size() == 2) {
        if (!ParseFunctionAddress(words[1], &address))
            return Refuse(refusal, line, "read-only needs BB:DD.F");
        builder.readOnly.push_back({address, line});
        return true;
    }
    if (verb == "bar-size" && words.size() == 4) {
        if (!ParseFunctionAddress(words[1], &address)) return Refuse(refusal, line, "bar-size needs BB:DD.F");
        if (!ParseHexNumber(words[2], &a) || a > 6)
            return Refuse(refusal, line, "bar-size index must be 0..6");
        if (!ParseHexNumber(words[3], &b)) return Refuse(refusal, line, "bar-size needs a hexadecimal size");
        builder.barSizes.push_back({address, static_cast<unsigned>(a), b, line});
        return true;
    }
    if (verb == "memory" && words.size() == 3) {
        if (!ParseHexNumber(words[1], &a) || !ParseHexNumber(words[2], &b)) {
            return Refuse(refusal, line, "memory needs a hexadecimal base and size");
        }
        builder.memory.push_back({a, b, line});
        return true;
    }
    if (verb == "bytes" && words.size() >= 3) {
        if (!ParseHexNumber(words[1], &a)) return Refuse(refusal, line, "bytes needs a hexadecimal address");
        Builder::Bytes entry{a, {}, line};
        for (size_t i = 2; i < words.size(); ++i) {
            if (words[i].size() != 2 || !IsHexRun(words[i], 0, 2)) {
                return Refuse(refusal, line, "bad byte '" + words[i] + "'");
            }
            entry.bytes.push_back(static_cast<uint8_t>(HexValue(words[i], 0, 2)));
        }
        builder.bytes.push_back(entry);
        return true;
    }
    return Refuse(refusal, line, "unknown directive '" + text + "'");
}

// Adds a function of domain 0 with the bytes up to its last row given; one
// of another domain is counted.
bool AddFunction(Machine& machine, const LspciFunction& function, LspciRefusal* refusal) {
    if (function.Address.Domain != 0) {
        machine.NoteSkippedFunction();
        return true;
    }
    unsigned length = 0;
    for (unsigned row = 0; row < kLspciRows; ++row) {
        if (function.RowGiven[row]) length = (row + 1) * 16;
    }
    FunctionAddress address{function.Address.Bus, function.Address.Device, function.Address.Function};
    std::string why;
    if (!machine.AddFunction(address, function.Bytes, length, &why))
        return Refuse(refusal, function.Line, why);
    return true;
}

bool Finish(void* context, const std::vector<LspciFunction>& functions, LspciRefusal* refusal) {
    Builder& builder = *static_cast<Builder*>(context);
    Machine& machine = *builder.machine;
    for (const LspciFunction& function : functions) {
        if (!AddFunction(machine, function, refusal)) return false;
    }
    std::string why;
    for (const Builder::Memory& entry : builder.memory) {
        if (!machine.AddMemory(entry.base, entry.size, &why)) return Refuse(refusal, entry.line, why);
    }
    for (const Builder::Bytes& entry : builder.bytes) {
        if (!machine.StoreMemory(entry.address, entry.bytes, &why)) return Refuse(refusal, entry.line, why);
    }
    for (const Builder::ReadOnly& entry : builder.readOnly) {
        if (!machine.SetReadOnly(entry.address)) {
            return Refuse(refusal, entry.line, "read-only names a function the file does not hold");
        }
    }
    for (const Builder::BarSize& entry : builder.barSizes) {
        if (!machine.SetBarSize(entry.address, entry.index, entry.size, &why)) {
            return Refuse(refusal, entry.line, why);
        }
    }
    return true;
}

}  // namespace

bool ParseFunctionAddress(const std::string& text, FunctionAddress* address) {
    LspciAddress parsed;
    if (text.size() != 7 || !ReadLspciAddress(text.data(), text.size(), &parsed)) return false;
    if (parsed.Device > 0x1F) return false;
    *address = FunctionAddress{parsed.Bus, parsed.Device, parsed.Function};
    return true;
}

std::unique_ptr<Machine> LoadMachineText(const std::string& text, const std::string& name,
                                         std::string* error) {
    Builder builder;
    LspciTextHooks hooks = {Directive, Finish, &builder};
    std::vector<LspciFunction> functions;
    if (!ReadLspciText(text, name, hooks, &functions, error)) return nullptr;
    return std::move(builder.machine);
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
