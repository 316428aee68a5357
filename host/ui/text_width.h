// Width in pixels of a text in the dialogs' shell font (8 points): the
// stand-in's font is fixed-pitch, 6 pixels a character.
#ifndef STANDIN_UI_TEXT_WIDTH_H
#define STANDIN_UI_TEXT_WIDTH_H

#include <string>

namespace standin {
namespace ui {

int CharacterWidth(unsigned char c);
int TextWidth(const std::string& text);

// Dialog base units of the shell font: 4 horizontal dialog units are 6
// pixels, 8 vertical units are 13 pixels. One terminal cell each.
const int kBaseUnitX = 6;
const int kBaseUnitY = 13;

}  // namespace ui
}  // namespace standin

#endif
