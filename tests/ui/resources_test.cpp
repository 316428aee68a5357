// The program's resources as the program finds them: dialog template 102
// control by control, the nine images of icon 128 and the version
// information, read through FindResourceA/LoadResource/LockResource.
#include <gtest/gtest.h>

#include <strings.h>

#include <string>
#include <vector>

#include <windows.h>

#include "ui/dialog_template.h"

namespace qvtest {

namespace {

// The bytes of one resource of the program, empty when it has none.
std::vector<unsigned char> ResourceBytes(int name, LPCSTR type) {
    HMODULE module = GetModuleHandleA(NULL);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(name), type);
    if (found == NULL) return {};
    const unsigned char* data = static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
    if (data == NULL) return {};
    return std::vector<unsigned char>(data, data + SizeofResource(module, found));
}

unsigned Word(const std::vector<unsigned char>& data, size_t offset) {
    return data[offset] | (data[offset + 1] << 8);
}
unsigned Dword(const std::vector<unsigned char>& data, size_t offset) {
    return Word(data, offset) | (Word(data, offset + 2) << 16);
}

struct ExpectedControl {
    int id;
    const char* kind;  // window class
    const char* text;
    int x, y, cx, cy;
    DWORD style;
};

// Template order, which is also the tab order.
const ExpectedControl kControls[] = {
    {1, "Button", "Exit", 371, 137, 50, 21, 0x50010001},
    {2, "Button", "Uninstall driver", 317, 138, 50, 21, 0x50000000},
    {1000, "SysListView32", "", 7, 7, 414, 128, 0x5081880D},
    {1001, "Button", "Rescan bus", 261, 137, 50, 26, 0x50010000},
    {1002, "SysListView32", "", 7, 136, 249, 177, 0x50810905},
    {1008, "Button", "1", 363, 184, 57, 24, 0x50010000},
    {1009, "Button", "2", 363, 210, 57, 24, 0x50010000},
    {1010, "Button", "3", 363, 236, 57, 24, 0x50010000},
    {1011, "Button", "4", 363, 263, 57, 24, 0x50010000},
    {1012, "Button", "5", 363, 289, 57, 24, 0x50010000},
    {1013, "Button", "1", 266, 184, 34, 24, 0x50010000},
    {1014, "Button", "2", 266, 210, 34, 24, 0x50010000},
    {1015, "Button", "3", 266, 236, 34, 24, 0x50010000},
    {1016, "Button", "4", 266, 263, 34, 24, 0x50010000},
    {1017, "Button", "5", 266, 289, 34, 24, 0x50010000},
    {1004, "Edit", "", 315, 189, 35, 14, 0x50800880},
    {1018, "Edit", "", 315, 215, 35, 14, 0x50800880},
    {1019, "Edit", "", 315, 242, 35, 14, 0x50800880},
    {1020, "Edit", "", 315, 268, 35, 14, 0x50800880},
    {1021, "Edit", "", 315, 295, 35, 14, 0x50800880},
    {-1, "Button", "Save config", 260, 171, 47, 142, 0x50000007},
    {-1, "Button", "Saved device", 307, 171, 53, 142, 0x50000007},
    {-1, "Button", "Reload config", 361, 171, 60, 142, 0x50000007},
};

standin::ui::DialogTemplate MainDialogTemplate() {
    std::vector<unsigned char> bytes = ResourceBytes(102, RT_DIALOG);
    standin::ui::DialogTemplate t;
    std::string error;
    EXPECT_FALSE(bytes.empty()) << "no dialog template 102";
    EXPECT_TRUE(standin::ui::ParseDialogTemplate(bytes.data(), bytes.size(), &t, &error)) << error;
    return t;
}

// A node of version information: key, value bytes and children.
struct VersionNode {
    std::string key;
    std::vector<unsigned char> value;
    std::string text;
    std::vector<VersionNode> children;
};

// Reads the node at `begin`; every length is checked against `end`.
bool ReadVersionNode(const std::vector<unsigned char>& data, size_t begin, size_t end, VersionNode* node) {
    if (begin + 6 > end) return false;
    size_t length = Word(data, begin), valueLength = Word(data, begin + 2), type = Word(data, begin + 4);
    if (length < 6 || begin + length > end) return false;
    end = begin + length;
    size_t at = begin + 6;
    for (; at + 2 <= end && Word(data, at) != 0; at += 2) node->key.push_back(static_cast<char>(data[at]));
    at = (at + 2 + 3) & ~static_cast<size_t>(3);
    size_t valueBytes = type == 1 ? valueLength * 2 : valueLength;
    if (at + valueBytes > end) return false;
    node->value.assign(data.begin() + at, data.begin() + at + valueBytes);
    for (size_t i = 0; type == 1 && i + 2 <= valueBytes && Word(node->value, i) != 0; i += 2)
        node->text.push_back(static_cast<char>(node->value[i]));
    at = (at + valueBytes + 3) & ~static_cast<size_t>(3);
    while (at + 6 <= end) {
        VersionNode child;
        if (!ReadVersionNode(data, at, end, &child)) return false;
        at = (at + Word(data, at) + 3) & ~static_cast<size_t>(3);
        node->children.push_back(child);
    }
    return true;
}

const VersionNode* Child(const VersionNode& node, const std::string& key) {
    for (const VersionNode& child : node.children)
        if (child.key == key) return &child;
    return nullptr;
}

}  // namespace

TEST(ProgramResources, DialogIsTheExtendedTemplateOfTheMainWindow) {
    standin::ui::DialogTemplate t = MainDialogTemplate();
    EXPECT_TRUE(t.extended);
    EXPECT_EQ(t.style, 0x90CF0048u);
    EXPECT_EQ(t.exStyle, 0x40000u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 428);
    EXPECT_EQ(t.cy, 320);
    EXPECT_EQ(t.title, "quorvenal");
    EXPECT_EQ(t.menu, "") << "no menu";
    EXPECT_EQ(t.windowClass, "") << "no window class of its own";
    EXPECT_TRUE(t.hasFont);
    EXPECT_EQ(t.typeface, "MS Shell Dlg");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.weight, 0);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.charset, 1);
}

TEST(ProgramResources, DialogControlsFollowTheLayoutInTemplateOrder) {
    standin::ui::DialogTemplate t = MainDialogTemplate();
    const size_t count = sizeof kControls / sizeof kControls[0];
    ASSERT_EQ(t.items.size(), count);
    for (size_t i = 0; i < count; ++i) {
        const ExpectedControl& want = kControls[i];
        const standin::ui::DialogItem& got = t.items[i];
        SCOPED_TRACE("control #" + std::to_string(i) + " (id " + std::to_string(want.id) + ")");
        EXPECT_EQ(static_cast<int>(got.id), want.id);
        // Window class names compare without case; the resource compiler
        // stores names it does not know in upper case.
        EXPECT_EQ(strcasecmp(got.className.c_str(), want.kind), 0) << got.className;
        EXPECT_FALSE(got.textIsOrdinal);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.style, want.style) << std::hex << got.style;
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_TRUE(got.creationData.empty());
    }
}

TEST(ProgramResources, IconHoldsNineImagesInThreeSizesAndThreeDepths) {
    std::vector<unsigned char> group = ResourceBytes(128, RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u) << "no group icon 128";
    ASSERT_EQ(Word(group, 2), 1u) << "an icon directory";
    const size_t count = Word(group, 4);
    ASSERT_EQ(count, 9u);
    ASSERT_EQ(group.size(), 6 + 14 * count);

    int seen[3][3] = {};
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = 6 + 14 * i;
        int width = group[entry], height = group[entry + 1], colours = group[entry + 2];
        int bits = Word(group, entry + 6);
        unsigned bytes = Dword(group, entry + 8);
        int iconId = Word(group, entry + 12);
        SCOPED_TRACE("image " + std::to_string(i));
        int size = width == 48 ? 0 : width == 32 ? 1 : width == 16 ? 2 : -1;
        int depth = bits == 4 ? 0 : bits == 8 ? 1 : bits == 32 ? 2 : -1;
        ASSERT_GE(size, 0) << "width " << width;
        ASSERT_GE(depth, 0) << "depth " << bits;
        EXPECT_EQ(height, width);
        EXPECT_EQ(colours, bits == 4 ? 16 : 0);
        ++seen[size][depth];

        // The image: a bitmap of that size and depth (height counts the
        // colour rows and the transparency mask), palette, rows, mask.
        std::vector<unsigned char> image = ResourceBytes(iconId, RT_ICON);
        ASSERT_EQ(image.size(), bytes);
        ASSERT_GE(image.size(), 40u);
        EXPECT_EQ(Dword(image, 0), 40u);
        EXPECT_EQ(static_cast<int>(Dword(image, 4)), width);
        EXPECT_EQ(static_cast<int>(Dword(image, 8)), 2 * width);
        EXPECT_EQ(static_cast<int>(Word(image, 14)), bits);
        size_t palette = bits <= 8 ? (4u << bits) : 0;
        size_t colourRow = ((width * bits + 31) / 32) * 4, maskRow = ((width + 31) / 32) * 4;
        EXPECT_EQ(image.size(), 40 + palette + (colourRow + maskRow) * width);
    }
    for (int s = 0; s < 3; ++s)
        for (int d = 0; d < 3; ++d) EXPECT_EQ(seen[s][d], 1) << "size " << s << ", depth " << d;
}

TEST(ProgramResources, VersionIsOneZeroZeroOneOfQuorvenalExe) {
    std::vector<unsigned char> bytes = ResourceBytes(1, RT_VERSION);
    ASSERT_FALSE(bytes.empty()) << "no version resource";
    VersionNode root;
    ASSERT_TRUE(ReadVersionNode(bytes, 0, bytes.size(), &root));
    EXPECT_EQ(root.key, "VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), 52u);
    EXPECT_EQ(Dword(root.value, 0), 0xFEEF04BDu);
    EXPECT_EQ(Dword(root.value, 8), 0x00010000u) << "file version 1.0";
    EXPECT_EQ(Dword(root.value, 12), 0x00000001u) << "file version .0.1";
    EXPECT_EQ(Dword(root.value, 16), 0x00010000u) << "product version 1.0";
    EXPECT_EQ(Dword(root.value, 20), 0x00000001u) << "product version .0.1";
    EXPECT_EQ(Dword(root.value, 36), 0x00000001u) << "an application";

    const VersionNode* strings = Child(root, "StringFileInfo");
    ASSERT_NE(strings, nullptr);
    ASSERT_EQ(strings->children.size(), 1u);
    const VersionNode& table = strings->children[0];
    for (const char* key : {"InternalName", "OriginalFilename"}) {
        ASSERT_NE(Child(table, key), nullptr) << key;
        EXPECT_EQ(Child(table, key)->text, "quorvenal.exe") << key;
    }
    for (const char* key : {"FileVersion", "ProductVersion"}) {
        ASSERT_NE(Child(table, key), nullptr) << key;
        EXPECT_EQ(Child(table, key)->text, "1.0.0.1") << key;
    }
}

namespace {

// One element of a manifest: its name and the text of its start tag.
struct ManifestElement {
    std::string name;
    std::string tag;
};

// The start tags of an XML text in document order (declarations, comments
// and end tags passed over).
std::vector<ManifestElement> StartTags(const std::string& xml) {
    std::vector<ManifestElement> elements;
    for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
        if (at + 1 >= xml.size() || xml[at + 1] == '?' || xml[at + 1] == '/' || xml[at + 1] == '!') {
            continue;
        }
        size_t end = xml.find('>', at);
        if (end == std::string::npos) break;
        std::string tag = xml.substr(at, end - at + 1);
        size_t nameEnd = tag.find_first_of(" \t\r\n/>", 1);
        elements.push_back({tag.substr(1, nameEnd - 1), tag});
    }
    return elements;
}

}  // namespace

TEST(ProgramResources, ManifestAsksForAdministratorRightsAndNothingElse) {
    std::vector<unsigned char> bytes = ResourceBytes(1, RT_MANIFEST);
    ASSERT_FALSE(bytes.empty()) << "no manifest resource 1";
    EXPECT_TRUE(ResourceBytes(2, RT_MANIFEST).empty());
    EXPECT_TRUE(ResourceBytes(3, RT_MANIFEST).empty());
    std::string xml(bytes.begin(), bytes.end());
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u) << "the declaration comes first";

    std::vector<ManifestElement> elements = StartTags(xml);
    std::vector<std::string> names;
    for (const ManifestElement& e : elements) names.push_back(e.name);
    // No assembly identity, no dependency (the common controls' version stays
    // the system's), no compatibility section: only the trust information.
    EXPECT_EQ(names, (std::vector<std::string>{"assembly", "trustInfo", "security", "requestedPrivileges",
                                               "requestedExecutionLevel"}));
    ASSERT_EQ(elements.size(), 5u);
    EXPECT_NE(elements[0].tag.find("xmlns=\"urn:schemas-microsoft-com:asm.v1\""), std::string::npos);
    EXPECT_NE(elements[0].tag.find("manifestVersion=\"1.0\""), std::string::npos);
    // The form Windows XP SP2 and later accept.
    EXPECT_NE(elements[1].tag.find("xmlns=\"urn:schemas-microsoft-com:asm.v3\""), std::string::npos);
    EXPECT_NE(elements[4].tag.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(elements[4].tag.find("uiAccess=\"false\""), std::string::npos);
}

}  // namespace qvtest
