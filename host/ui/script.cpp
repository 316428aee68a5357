// Parsing of headless scripts, every line checked before anything runs.
#include "script.h"

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace standin {
namespace ui {
namespace {

bool ParseInteger(const std::string& token, int base, long long min, long long max, long long* out) {
    if (token.empty()) return false;
    std::string digits = token;
    if (base == 16 && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits[0] == '+' || (digits[0] == '-' && base == 16)) return false;
    errno = 0;
    char* end = nullptr;
    long long value = strtoll(digits.c_str(), &end, base);
    if (errno || *end || value < min || value > max) return false;
    *out = value;
    return true;
}

struct KeyName {
    const char* name;
    int key;
    bool shift;
};

const KeyName kKeys[] = {
    {"enter", VK_RETURN, false}, {"escape", VK_ESCAPE, false}, {"tab", VK_TAB, false},
    {"shift-tab", VK_TAB, true}, {"up", VK_UP, false},         {"down", VK_DOWN, false},
    {"left", VK_LEFT, false},    {"right", VK_RIGHT, false},   {"space", VK_SPACE, false},
    {"pageup", VK_PRIOR, false}, {"pagedown", VK_NEXT, false}, {"home", VK_HOME, false},
    {"end", VK_END, false},
};

// Why a line is not an action, or "" when it is one.
std::string ParseLine(const std::vector<std::string>& t, ScriptAction* a) {
    const std::string& verb = t[0];
    auto arity = [&](size_t n) { return t.size() == n + 1; };
    long long value;
    if (verb == "click") {
        if (!arity(1)) return "click takes one control id";
        if (!ParseInteger(t[1], 10, -32768, 65535, &value)) return "bad control id \"" + t[1] + "\"";
        a->kind = ScriptAction::Click;
        a->id = static_cast<int>(value);
    } else if (verb == "select") {
        if (!arity(1)) return "select takes one row number";
        if (!ParseInteger(t[1], 10, 0, 0x7FFFFFFF, &value)) return "bad row number \"" + t[1] + "\"";
        a->kind = ScriptAction::Select;
        a->row = static_cast<int>(value);
    } else if (verb == "key") {
        if (!arity(1)) return "key takes one key name";
        for (const KeyName& k : kKeys) {
            if (t[1] == k.name) {
                a->kind = ScriptAction::Key;
                a->virtualKey = k.key;
                a->shift = k.shift;
                return "";
            }
        }
        return "unknown key \"" + t[1] +
               "\" (enter, escape, tab, shift-tab, up, down, left, right, space, "
               "pageup, pagedown, home, end)";
    } else if (verb == "close" || verb == "minimize" || verb == "restore" || verb == "dump") {
        if (!arity(0)) return verb + " takes no arguments";
        a->kind = verb == "close"      ? ScriptAction::Close
                  : verb == "minimize" ? ScriptAction::Minimize
                  : verb == "restore"  ? ScriptAction::Restore
                                       : ScriptAction::Dump;
    } else if (verb == "hw") {
        if (t.size() < 3) return "hw takes an action and a function address";
        const std::string& what = t[1];
        if (!ParseFunctionAddress(t[2], &a->address))
            return "bad function address \"" + t[2] + "\" (B:D.F in hexadecimal)";
        if (what == "reset" || what == "remove" || what == "restore") {
            if (t.size() != 3) return "hw " + what + " takes one function address";
            a->kind = what == "reset"    ? ScriptAction::HwReset
                      : what == "remove" ? ScriptAction::HwRemove
                                         : ScriptAction::HwRestore;
        } else if (what == "write") {
            if (t.size() != 6) return "hw write takes B:D.F OFFSET SIZE VALUE";
            long long offset, size, v;
            if (!ParseInteger(t[3], 16, 0, 0xFFF, &offset)) return "bad offset \"" + t[3] + "\" (0 to FFF)";
            if (!ParseInteger(t[4], 16, 1, 4, &size) || size == 3)
                return "bad size \"" + t[4] + "\" (1, 2 or 4)";
            if (offset + size > 0x1000) return "the write runs past the end of configuration space";
            long long max = size == 4 ? 0xFFFFFFFFll : (1ll << (8 * size)) - 1;
            if (!ParseInteger(t[5], 16, 0, max, &v))
                return "bad value \"" + t[5] + "\" for a " + t[4] + "-byte write";
            a->kind = ScriptAction::HwWrite;
            a->offset = static_cast<unsigned>(offset);
            a->size = static_cast<unsigned>(size);
            a->value = static_cast<uint32_t>(v);
        } else {
            return "unknown hw action \"" + what + "\" (reset, write, remove, restore)";
        }
    } else {
        return "unknown action \"" + verb + "\"";
    }
    return "";
}

}  // namespace

bool ParseScript(const std::string& text, const std::string& name, std::vector<ScriptAction>* actions,
                 std::string* error) {
    std::vector<ScriptAction> out;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::vector<std::string> tokens;
        std::string word;
        while (words >> word) tokens.push_back(word);
        if (tokens.empty()) continue;
        ScriptAction action;
        action.line = number;
        size_t first = line.find_first_not_of(" \t");
        size_t last = line.find_last_not_of(" \t");
        action.text = line.substr(first, last - first + 1);
        std::string why = ParseLine(tokens, &action);
        if (!why.empty()) {
            if (error) *error = name + ":" + std::to_string(number) + ": " + why;
            return false;
        }
        out.push_back(action);
    }
    if (actions) *actions = std::move(out);
    return true;
}

}  // namespace ui
}  // namespace standin
