// Fuzz target: the headless front end's script parser. Any text either
// parses into actions or is refused with "NAME:LINE: what" and no actions;
// every action keeps its line number and text, in order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<standin::ui::ScriptAction> actions;
    std::string error;
    bool parsed = standin::ui::ParseScript(text, "fuzz", &actions, &error);
    if (!parsed) {
        if (!actions.empty() || error.rfind("fuzz:", 0) != 0) {
            std::fprintf(stderr, "refusal with actions or without its place: %s\n", error.c_str());
            std::abort();
        }
        return 0;
    }
    int previous = 0;
    for (const standin::ui::ScriptAction& action : actions) {
        if (action.line <= previous || action.text.empty()) {
            std::fprintf(stderr, "action out of order or without text at line %d\n", action.line);
            std::abort();
        }
        previous = action.line;
        if ((action.kind == standin::ui::ScriptAction::HwWrite) && (action.size < 1 || action.size > 4)) {
            std::fprintf(stderr, "hw write of %u bytes accepted\n", action.size);
            std::abort();
        }
    }
    return 0;
}
