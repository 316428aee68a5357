// The per-character width table of the shell font (see docs/standin-ui.md).
#include "text_width.h"

#include <cstring>

namespace standin {
namespace ui {

int CharacterWidth(unsigned char c) {
    if (c < 0x20) return 0;
    if (strchr("il.,:;'|!", c)) return 2;
    if (strchr(" frtjI()[]{}/\\-`\"", c)) return 3;
    if (strchr("mw", c)) return 8;
    if (strchr("MW%", c)) return 9;
    if (c >= 'a' && c <= 'z') return 5;
    if (c >= '0' && c <= '9') return 5;
    if (c >= 'A' && c <= 'Z') return 6;
    return 6;
}

int TextWidth(const std::string& text) {
    int width = 0;
    for (unsigned char c : text) width += CharacterWidth(c);
    return width;
}

}  // namespace ui
}  // namespace standin
