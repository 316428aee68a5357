// Readers of the compiled resource formats the tests check: the .res file the
// resource compiler writes, extended dialog templates, icon groups and
// version information. Each reader refuses malformed data with a message.
#ifndef QUORVENAL_TESTS_UI_RES_DECODE_H
#define QUORVENAL_TESTS_UI_RES_DECODE_H

#include <cstdint>
#include <string>
#include <vector>

namespace restest {

// A resource type or name: an ordinal, or a string when ordinal is -1.
struct ResId {
    int ordinal = -1;
    std::string name;
};

struct Resource {
    ResId type;
    ResId name;
    uint16_t language = 0;
    std::vector<uint8_t> data;
};

// Reads every resource of a .res file; false and *error on malformed data.
bool ReadResFile(const std::string& path, std::vector<Resource>* out, std::string* error);
bool ParseResBytes(const std::vector<uint8_t>& bytes, std::vector<Resource>* out,
                   std::string* error);

// The resource of ordinal type and ordinal name, or null.
const Resource* FindRes(const std::vector<Resource>& all, int type, int name);

struct DialogItem {
    uint32_t helpId = 0;
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    int32_t id = 0;
    ResId windowClass;  // predefined classes are ordinals (0x80 button, 0x81 edit, ...)
    ResId title;
    uint16_t extraCount = 0;
};

struct DialogTemplate {
    uint16_t version = 0;
    uint16_t signature = 0;
    uint32_t helpId = 0;
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    ResId menu;         // ordinal 0 when there is none
    ResId windowClass;  // ordinal 0 when there is none
    std::string title;
    uint16_t pointSize = 0;
    uint16_t weight = 0;
    uint8_t italic = 0;
    uint8_t charset = 0;
    std::string typeface;
    std::vector<DialogItem> items;
};

// Decodes an extended dialog template (DLGTEMPLATEEX and its items).
bool ParseDialogEx(const std::vector<uint8_t>& data, DialogTemplate* out, std::string* error);

// One entry of a group icon directory.
struct GroupIconEntry {
    int width = 0;  // 0 in the directory means 256
    int height = 0;
    int colorCount = 0;
    int planes = 0;
    int bitCount = 0;
    uint32_t bytesInRes = 0;
    int iconId = 0;
};
bool ParseGroupIcon(const std::vector<uint8_t>& data, std::vector<GroupIconEntry>* out,
                    std::string* error);

// A node of version information: key, value (text for text nodes) and children.
struct VersionNode {
    std::string key;
    uint16_t type = 0;  // 1 text, 0 binary
    std::vector<uint8_t> value;
    std::string text;
    std::vector<VersionNode> children;
};
bool ParseVersionInfo(const std::vector<uint8_t>& data, VersionNode* root, std::string* error);
// The child of `node` with key `key`, or null.
const VersionNode* Child(const VersionNode& node, const std::string& key);

// Little-endian readers over a byte vector.
uint16_t Word(const std::vector<uint8_t>& data, size_t offset);
uint32_t Dword(const std::vector<uint8_t>& data, size_t offset);

}  // namespace restest

#endif
