// Dialog templates in their binary form: the extended layout (DLGTEMPLATEEX,
// DLGITEMTEMPLATEEX) that DIALOGEX compiles to, and the classic layout.
#ifndef STANDIN_UI_DIALOG_TEMPLATE_H
#define STANDIN_UI_DIALOG_TEMPLATE_H

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace standin {
namespace ui {

struct DialogItem {
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::string className;  // "Button", "Edit", "Static", ... or the template's own name
    std::string text;
    bool textIsOrdinal = false;
    WORD textOrdinal = 0;
    std::vector<unsigned char> creationData;
};

struct DialogTemplate {
    bool extended = false;
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string menu;  // empty, or "#n" for an ordinal
    std::string windowClass;
    std::string title;
    bool hasFont = false;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::string typeface;
    std::vector<DialogItem> items;
};

// Parses a template of `size` bytes. Returns false, with *error set, when the
// bytes do not form a whole template.
bool ParseDialogTemplate(const void* data, size_t size, DialogTemplate* out, std::string* error);

}  // namespace ui
}  // namespace standin

#endif
