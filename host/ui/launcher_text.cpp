// Escaping and cutting of the launcher's messages.
#include "launcher_text.h"

#include <cstdio>

namespace standin {
namespace ui {
namespace {

std::string Escaped(char c) {
    switch (c) {
        case '\t': return "\\t";
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '\\': return "\\\\";
        default: break;
    }
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) return std::string(1, c);
    char text[8];
    snprintf(text, sizeof text, "\\x%02X", byte);
    return text;
}

}  // namespace

std::string Printable(const std::string& text) {
    std::string out;
    size_t run = 0;  // shown characters of the current non-blank run
    bool cut = false;
    for (char c : text) {
        if (c == ' ') {
            out += c;
            run = 0;
            cut = false;
            continue;
        }
        if (cut) continue;
        std::string shown = Escaped(c);
        if (run + shown.size() > kLongestShownToken) {
            out += "...";
            cut = true;
            continue;
        }
        out += shown;
        run += shown.size();
    }
    return out;
}

}  // namespace ui
}  // namespace standin
