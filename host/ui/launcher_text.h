// What the launcher prints about what it was given: tokens with their control
// characters escaped and cut to a readable length, so that a refusal never
// sends terminal escape sequences or megabytes of text to the terminal.
#ifndef STANDIN_UI_LAUNCHER_TEXT_H
#define STANDIN_UI_LAUNCHER_TEXT_H

#include <cstddef>
#include <string>

namespace standin {
namespace ui {

// Longest run of non-blank characters a message shows whole; a longer one is
// cut to this many and "..." added.
const size_t kLongestShownToken = 80;

// `text` with bytes below 0x20, 0x7F and backslash written as \xNN (tab as \t,
// line feed as \n, carriage return as \r, backslash as \\), and every run of
// non-blank characters longer than kLongestShownToken cut.
std::string Printable(const std::string& text);

}  // namespace ui
}  // namespace standin

#endif
