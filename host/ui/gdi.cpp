// Device contexts, icon drawing, system metrics and common-controls start-up.
#include "gdi.h"

#include <commctrl.h>

#include <cstring>
#include <map>

#include "window_manager.h"

namespace standin {
namespace ui {
namespace {

struct GdiState {
    std::map<HDC, HWND> contexts;
    uintptr_t nextDc = 0x20010;
    std::vector<DrawnIcon> drawn;
    int commonControls = 0;
};

GdiState& Gdi() {
    static GdiState state;
    return state;
}

HDC NewContext(HWND hwnd) {
    HDC dc = reinterpret_cast<HDC>(Gdi().nextDc);
    Gdi().nextDc += 4;
    Gdi().contexts[dc] = hwnd;
    return dc;
}

}  // namespace

const std::vector<DrawnIcon>& DrawnIcons() { return Gdi().drawn; }
void ClearDrawnIcons() { Gdi().drawn.clear(); }
int CommonControlsInitialised() { return Gdi().commonControls; }

}  // namespace ui
}  // namespace standin

using namespace standin::ui;

extern "C" {

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
    Window* w = FindWindowRecord(hwnd);
    if (!w || !paint) return nullptr;
    memset(paint, 0, sizeof(*paint));
    paint->hdc = NewContext(hwnd);
    paint->fErase = TRUE;
    GetClientRect(hwnd, &paint->rcPaint);
    w->needsPaint = false;
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND, const PAINTSTRUCT* paint) {
    if (!paint) return FALSE;
    Gdi().contexts.erase(paint->hdc);
    return TRUE;
}

HDC WINAPI GetDC(HWND hwnd) {
    if (hwnd && !FindWindowRecord(hwnd)) return nullptr;
    return NewContext(hwnd);
}

int WINAPI ReleaseDC(HWND, HDC dc) { return Gdi().contexts.erase(dc) ? 1 : 0; }

BOOL WINAPI DrawIcon(HDC dc, int x, int y, HICON icon) {
    auto it = Gdi().contexts.find(dc);
    if (it == Gdi().contexts.end() || !icon) return FALSE;
    Gdi().drawn.push_back({it->second, x, y, icon});
    return TRUE;
}

int WINAPI GetSystemMetrics(int index) {
    switch (index) {
        case SM_CXSCREEN: return 1024;
        case SM_CYSCREEN: return 768;
        case SM_CXVSCROLL: return 17;
        case SM_CYHSCROLL: return 17;
        case SM_CYCAPTION: return 22;
        case SM_CXBORDER:
        case SM_CYBORDER: return 1;
        case SM_CXICON:
        case SM_CYICON: return 32;
        case SM_CXSMICON:
        case SM_CYSMICON: return 16;
        case SM_CXMINIMIZED:
        case SM_CYMINIMIZED: return 36;
        default: return 0;
    }
}

DWORD WINAPI GetSysColor(int index) { return index == COLOR_WINDOW ? 0x00FFFFFF : 0x00F0F0F0; }

void WINAPI InitCommonControls(void) { Gdi().commonControls++; }

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
    if (!init || init->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
    Gdi().commonControls++;
    return TRUE;
}

}  // extern "C"
