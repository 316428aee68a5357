// The program's resources in the stand-in: a compiled resource file (the
// sequence of resource headers that `windres -O res` writes) registered at
// start-up and served through FindResourceA, LoadResource, LockResource,
// SizeofResource and LoadIconA.
#ifndef STANDIN_UI_RESOURCES_H
#define STANDIN_UI_RESOURCES_H

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace standin {

// Adds every resource of a compiled .res file to the program's module. The
// bytes are copied. A malformed file adds nothing and is reported on stderr.
void RegisterResourceFile(const unsigned char* data, size_t size);

namespace ui {

// A resource type or name: an ordinal, or an upper-case string.
struct ResourceId {
    bool isString = false;
    WORD ordinal = 0;
    std::string name;
};

struct ResourceEntry {
    ResourceId type;
    ResourceId name;
    WORD language = 0;
    std::vector<unsigned char> data;
};

// Parses a .res image. On failure returns false and sets *error to what is
// wrong and at which byte offset.
bool ParseResourceFile(const unsigned char* data, size_t size, std::vector<ResourceEntry>* entries,
                       std::string* error);

// An icon picked from a group icon resource by LoadIconA.
struct IconInfo {
    std::string group;  // "#128" for an ordinal, else the name; "IDI_APPLICATION" for the stock icon
    WORD iconId = 0;    // RT_ICON ordinal of the chosen image (0 for the stock icon)
    int width = 0;
    int height = 0;
    int bitCount = 0;
};
const IconInfo* FindIcon(HICON icon);

// Bytes from `p` to the end of the registered resource holding it; 0 when
// `p` lies in none.
size_t ResourceBytesFrom(const void* p);

// Forgets every registered resource (tests).
void ClearResources();

}  // namespace ui
}  // namespace standin

#endif
