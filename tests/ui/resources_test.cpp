// The program's compiled resources: dialog template 102 control by control,
// the nine images of icon 128 and the version information.
#include <gtest/gtest.h>

#include <strings.h>

#include "res_decode.h"

using namespace restest;

namespace {

const int kRtIcon = 3;
const int kRtDialog = 5;
const int kRtGroupIcon = 14;
const int kRtVersion = 16;

class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(ReadResFile(QUORVENAL_RES_FILE, &resources_, &error)) << error;
    }
    std::vector<Resource> resources_;
};

struct ExpectedControl {
    int id;
    const char* kind;  // "Button", "Edit" or "SysListView32"
    const char* text;
    int x, y, cx, cy;
    uint32_t style;
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

// A template's class is either a predefined ordinal or a name; names of
// window classes compare without case, as the window manager looks them up.
std::string ClassName(const ResId& id) {
    if (id.ordinal == 0x80) return "Button";
    if (id.ordinal == 0x81) return "Edit";
    if (id.ordinal == 0x82) return "Static";
    if (id.ordinal >= 0) return "#" + std::to_string(id.ordinal);
    return id.name;
}

std::string TitleText(const ResId& id) {
    return id.ordinal == -1 ? id.name : (id.ordinal == 0 ? "" : "#" + std::to_string(id.ordinal));
}

}  // namespace

TEST_F(ProgramResources, DialogHeaderIsTheExtendedTemplateOfTheMainWindow) {
    const Resource* dialog = FindRes(resources_, kRtDialog, 102);
    ASSERT_NE(dialog, nullptr) << "no dialog template 102";
    DialogTemplate t;
    std::string error;
    ASSERT_TRUE(ParseDialogEx(dialog->data, &t, &error)) << error;

    EXPECT_EQ(t.style, 0x90CF0048u);
    EXPECT_EQ(t.exStyle, 0x40000u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 428);
    EXPECT_EQ(t.cy, 320);
    EXPECT_EQ(t.title, "quorvenal");
    EXPECT_EQ(t.menu.ordinal, 0) << "no menu";
    EXPECT_EQ(t.windowClass.ordinal, 0) << "no class of its own";
    EXPECT_EQ(t.typeface, "MS Shell Dlg");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.weight, 0);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.charset, 1);
}

TEST_F(ProgramResources, DialogControlsMatchTheLayoutInTemplateOrder) {
    const Resource* dialog = FindRes(resources_, kRtDialog, 102);
    ASSERT_NE(dialog, nullptr);
    DialogTemplate t;
    std::string error;
    ASSERT_TRUE(ParseDialogEx(dialog->data, &t, &error)) << error;

    const size_t expectedCount = sizeof kControls / sizeof kControls[0];
    ASSERT_EQ(t.items.size(), expectedCount);
    for (size_t i = 0; i < expectedCount; ++i) {
        const ExpectedControl& want = kControls[i];
        const DialogItem& got = t.items[i];
        SCOPED_TRACE("control #" + std::to_string(i) + " (id " + std::to_string(want.id) + ")");
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(strcasecmp(ClassName(got.windowClass).c_str(), want.kind), 0)
            << "class " << ClassName(got.windowClass);
        EXPECT_EQ(TitleText(got.title), want.text);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.style, want.style) << std::hex << got.style;
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.extraCount, 0);
    }
}

TEST_F(ProgramResources, IconGroupHoldsNineImagesInThreeSizesAndThreeDepths) {
    const Resource* group = FindRes(resources_, kRtGroupIcon, 128);
    ASSERT_NE(group, nullptr) << "no group icon 128";
    std::vector<GroupIconEntry> entries;
    std::string error;
    ASSERT_TRUE(ParseGroupIcon(group->data, &entries, &error)) << error;
    ASSERT_EQ(entries.size(), 9u);

    int seen[3][3] = {};
    for (const GroupIconEntry& entry : entries) {
        SCOPED_TRACE("icon " + std::to_string(entry.iconId));
        int sizeIndex = entry.width == 48 ? 0 : entry.width == 32 ? 1 : entry.width == 16 ? 2 : -1;
        int depthIndex = entry.bitCount == 4 ? 0 : entry.bitCount == 8 ? 1 : entry.bitCount == 32 ? 2 : -1;
        ASSERT_GE(sizeIndex, 0) << "width " << entry.width;
        ASSERT_GE(depthIndex, 0) << "depth " << entry.bitCount;
        EXPECT_EQ(entry.height, entry.width);
        EXPECT_EQ(entry.colorCount, entry.bitCount == 4 ? 16 : 0);
        ++seen[sizeIndex][depthIndex];

        // The image itself: a device-independent bitmap of that size and
        // depth, colour rows followed by the transparency mask.
        const Resource* image = FindRes(resources_, kRtIcon, entry.iconId);
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(image->data.size(), entry.bytesInRes);
        ASSERT_GE(image->data.size(), 40u);
        EXPECT_EQ(Dword(image->data, 0), 40u);
        EXPECT_EQ(static_cast<int>(Dword(image->data, 4)), entry.width);
        EXPECT_EQ(static_cast<int>(Dword(image->data, 8)), 2 * entry.width);
        EXPECT_EQ(Word(image->data, 14), entry.bitCount);
        size_t paletteBytes = entry.bitCount <= 8 ? (4u << entry.bitCount) : 0;
        size_t colourRow = ((entry.width * entry.bitCount + 31) / 32) * 4;
        size_t maskRow = ((entry.width + 31) / 32) * 4;
        EXPECT_EQ(image->data.size(), 40 + paletteBytes + (colourRow + maskRow) * entry.width);
    }
    for (int s = 0; s < 3; ++s)
        for (int d = 0; d < 3; ++d) EXPECT_EQ(seen[s][d], 1) << "size " << s << " depth " << d;
}

TEST_F(ProgramResources, VersionIsOneZeroZeroOneForQuorvenalExe) {
    const Resource* version = FindRes(resources_, kRtVersion, 1);
    ASSERT_NE(version, nullptr) << "no version resource";
    VersionNode root;
    std::string error;
    ASSERT_TRUE(ParseVersionInfo(version->data, &root, &error)) << error;
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
    ASSERT_NE(Child(table, "InternalName"), nullptr);
    EXPECT_EQ(Child(table, "InternalName")->text, "quorvenal.exe");
    ASSERT_NE(Child(table, "OriginalFilename"), nullptr);
    EXPECT_EQ(Child(table, "OriginalFilename")->text, "quorvenal.exe");
    ASSERT_NE(Child(table, "FileVersion"), nullptr);
    EXPECT_EQ(Child(table, "FileVersion")->text, "1.0.0.1");
    ASSERT_NE(Child(table, "ProductVersion"), nullptr);
    EXPECT_EQ(Child(table, "ProductVersion")->text, "1.0.0.1");
}

// The readers themselves refuse broken input instead of reading past it.
TEST(ResourceReaders, RefuseTruncatedAndOversizedRecords) {
    std::vector<Resource> out;
    std::string error;
    std::vector<uint8_t> bytes = {0x10, 0, 0, 0, 0x20, 0, 0, 0};  // header cut short
    EXPECT_FALSE(ParseResBytes(bytes, &out, &error));
    EXPECT_FALSE(error.empty());

    DialogTemplate t;
    std::vector<uint8_t> plain = {0x00, 0x00, 0x00, 0x90};  // an old-style template
    EXPECT_FALSE(ParseDialogEx(plain, &t, &error));
    std::vector<uint8_t> cut = {0x01, 0x00, 0xFF, 0xFF, 0, 0};
    EXPECT_FALSE(ParseDialogEx(cut, &t, &error));

    VersionNode node;
    std::vector<uint8_t> longNode = {0x40, 0x00, 0x00, 0x00, 0x00, 0x00};  // claims 64 bytes
    EXPECT_FALSE(ParseVersionInfo(longNode, &node, &error));
}
