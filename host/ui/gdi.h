// Painting in the stand-in: device contexts name the window they paint, and
// what is drawn is recorded so that front ends and tests can see it.
#ifndef STANDIN_UI_GDI_H
#define STANDIN_UI_GDI_H

#include <windows.h>

#include <vector>

namespace standin {
namespace ui {

struct DrawnIcon {
    HWND window;  // the window whose device context was drawn on
    int x;
    int y;
    HICON icon;
};

// Icons drawn since the last ClearDrawnIcons, oldest first.
const std::vector<DrawnIcon>& DrawnIcons();
void ClearDrawnIcons();

// Number of InitCommonControls/InitCommonControlsEx calls so far.
int CommonControlsInitialised();

}  // namespace ui
}  // namespace standin

#endif
