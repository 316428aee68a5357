// The per-character width table of the shell font (see docs/standin-ui.md).
#include "text_width.h"

namespace standin {
namespace ui {

int CharacterWidth(unsigned char c) {
    // Every printable character is one average character wide: one cell of
    // the terminal front end, so what fits a column in pixels fits it in cells.
    return c < 0x20 ? 0 : kBaseUnitX;
}

int TextWidth(const std::string& text) {
    int width = 0;
    for (unsigned char c : text) width += CharacterWidth(c);
    return width;
}

}  // namespace ui
}  // namespace standin
