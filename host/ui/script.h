// The headless front end's script: one user action a line, `#` starts a comment.
//   click ID | select ROW | key NAME | close | minimize | restore | dump
//   hw reset|remove|restore B:D.F | hw write B:D.F OFFSET SIZE VALUE
#ifndef STANDIN_UI_SCRIPT_H
#define STANDIN_UI_SCRIPT_H

#include <cstdint>
#include <string>
#include <vector>

#include "machine/machine.h"

namespace standin {
namespace ui {

struct ScriptAction {
    enum Kind { Click, Select, Key, Close, Minimize, Restore, Dump, HwReset, HwWrite, HwRemove, HwRestore };
    Kind kind = Dump;
    int line = 0;                         // line number in the script, from 1
    std::string text;                     // the line as written, without its comment
    int id = 0;                           // click
    int row = 0;                          // select
    int virtualKey = 0;                   // key
    bool shift = false;                   // key shift-tab
    FunctionAddress address = {0, 0, 0};  // hw
    unsigned offset = 0;                  // hw write
    unsigned size = 0;
    uint32_t value = 0;
};

// Parses a whole script. On the first bad line returns false with *error
// "NAME:LINE: what is wrong" and nothing in *actions.
bool ParseScript(const std::string& text, const std::string& name, std::vector<ScriptAction>* actions,
                 std::string* error);

}  // namespace ui
}  // namespace standin

#endif
