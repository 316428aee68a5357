// The compiled resource file as windres writes it: parsing, lookup, icons,
// and dialog templates in both layouts.
#include <gtest/gtest.h>

#include <windows.h>

#include "test_support.h"
#include "ui/dialog_template.h"
#include "ui/resources.h"

namespace qvtest {

using namespace standin::ui;

namespace {

const ResourceEntry* FindEntry(const std::vector<ResourceEntry>& entries, WORD type, WORD name) {
    for (const ResourceEntry& e : entries) {
        if (!e.type.isString && !e.name.isString && e.type.ordinal == type && e.name.ordinal == name)
            return &e;
    }
    return nullptr;
}

DialogTemplate TemplateOf(int id) {
    RegisterTestResources();
    HRSRC found = FindResourceA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), RT_DIALOG);
    EXPECT_NE(found, nullptr);
    DialogTemplate t;
    std::string error;
    EXPECT_TRUE(ParseDialogTemplate(LockResource(LoadResource(nullptr, found)),
                                    SizeofResource(nullptr, found), &t, &error))
        << error;
    return t;
}

}  // namespace

TEST(ResourceFile, ParsesEveryEntryWindresWrote) {
    std::vector<unsigned char> bytes = TestResourceFile();
    ASSERT_FALSE(bytes.empty());
    std::vector<ResourceEntry> entries;
    std::string error;
    ASSERT_TRUE(ParseResourceFile(bytes.data(), bytes.size(), &entries, &error)) << error;
    EXPECT_NE(FindEntry(entries, 5, kMainDialog), nullptr);
    EXPECT_NE(FindEntry(entries, 5, kBrokenDialog), nullptr);
    EXPECT_NE(FindEntry(entries, 5, kClassicDialog), nullptr);
    const ResourceEntry* group = FindEntry(entries, 14, kIcon);
    ASSERT_NE(group, nullptr);
    // A group icon directory: reserved 0, type 1, then its image count.
    ASSERT_GE(group->data.size(), 6u);
    EXPECT_EQ(group->data[2], 1);
    int images = group->data[4];
    int icons = 0;
    for (const ResourceEntry& e : entries) icons += (!e.type.isString && e.type.ordinal == 3) ? 1 : 0;
    EXPECT_EQ(icons, images);
}

TEST(ResourceFile, RefusesTruncatedOrInconsistentFiles) {
    std::vector<unsigned char> bytes = TestResourceFile();
    std::vector<ResourceEntry> entries;
    std::string error;
    // Cut in the middle of the second entry's header.
    EXPECT_FALSE(ParseResourceFile(bytes.data(), 40, &entries, &error));
    EXPECT_NE(error.find("at byte 32"), std::string::npos) << error;
    // A data size that runs past the end.
    std::vector<unsigned char> bad = bytes;
    bad[32] = 0xFF;
    bad[33] = 0xFF;
    bad[34] = 0xFF;
    error.clear();
    EXPECT_FALSE(ParseResourceFile(bad.data(), bad.size(), &entries, &error));
    EXPECT_NE(error.find("past the end"), std::string::npos) << error;
    // A header size below the fixed fields.
    bad = bytes;
    bad[36] = 8;
    bad[37] = bad[38] = bad[39] = 0;
    EXPECT_FALSE(ParseResourceFile(bad.data(), bad.size(), &entries, &error));
}

TEST(ResourceLookup, FindsByOrdinalAndByNumberString) {
    RegisterTestResources();
    HMODULE module = GetModuleHandleA(nullptr);
    ASSERT_NE(module, nullptr);
    HRSRC byOrdinal = FindResourceA(module, MAKEINTRESOURCEA(kMainDialog), RT_DIALOG);
    HRSRC byString = FindResourceA(module, "#400", RT_DIALOG);
    ASSERT_NE(byOrdinal, nullptr);
    EXPECT_EQ(byOrdinal, byString);
    EXPECT_GT(SizeofResource(module, byOrdinal), 100u);
    const unsigned char* data =
        static_cast<const unsigned char*>(LockResource(LoadResource(module, byOrdinal)));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[0] | (data[1] << 8), 1);       // extended template version
    EXPECT_EQ(data[2] | (data[3] << 8), 0xFFFF);  // and signature
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(999), RT_DIALOG), nullptr);
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(kMainDialog), RT_ICON), nullptr);
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(kMainDialog), RT_GROUP_ICON), nullptr);
}

TEST(ResourceLookup, LoadIconPicksTheStandardSizeWithMostColours) {
    RegisterTestResources();
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kIcon));
    ASSERT_NE(icon, nullptr);
    const IconInfo* info = FindIcon(icon);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(info->height, GetSystemMetrics(SM_CYICON));
    EXPECT_EQ(info->bitCount, 32);
    EXPECT_EQ(info->group, "#410");
    // Loading again gives the same shared icon; a missing group gives none.
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kIcon)), icon);
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(411)), nullptr);
    EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), nullptr);
}

TEST(DialogTemplate, ExtendedTemplateKeepsEveryFieldInOrder) {
    DialogTemplate t = TemplateOf(kMainDialog);
    EXPECT_TRUE(t.extended);
    EXPECT_EQ(t.style, static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                          DS_SETFONT | DS_FIXEDSYS));
    EXPECT_EQ(t.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
    EXPECT_EQ(t.cx, 240);
    EXPECT_EQ(t.cy, 200);
    EXPECT_EQ(t.title, "stand-in test");
    EXPECT_EQ(t.typeface, "MS Shell Dlg");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.charset, 1);
    ASSERT_EQ(t.items.size(), 15u);
    EXPECT_EQ(t.items[0].id, static_cast<DWORD>(IDOK));
    EXPECT_STRCASEEQ(t.items[0].className.c_str(), "Button");
    EXPECT_EQ(t.items[0].text, "Exit");
    EXPECT_STRCASEEQ(t.items[2].className.c_str(), "SysListView32");  // windres writes class names upper-case
    EXPECT_EQ(t.items[2].id, 1000u);
    EXPECT_EQ(t.items[2].x, 5);
    EXPECT_EQ(t.items[2].cy, 70);
    EXPECT_STRCASEEQ(t.items[8].className.c_str(), "Edit");  // windres writes class names upper-case
    EXPECT_EQ(t.items[13].id, 0xFFFFFFFFu);                  // -1 as a 32-bit id
    EXPECT_EQ(t.items[13].style & BS_TYPEMASK, static_cast<DWORD>(BS_GROUPBOX));
    EXPECT_STRCASEEQ(t.items[14].className.c_str(), "Static");  // windres writes class names upper-case
}

TEST(DialogTemplate, ClassicTemplateAndBadBytes) {
    DialogTemplate t = TemplateOf(kClassicDialog);
    EXPECT_FALSE(t.extended);
    EXPECT_EQ(t.x, 10);
    EXPECT_EQ(t.y, 20);
    EXPECT_EQ(t.title, "classic");
    ASSERT_EQ(t.items.size(), 2u);
    EXPECT_STRCASEEQ(t.items[0].className.c_str(), "Button");
    EXPECT_EQ(t.items[0].style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_STRCASEEQ(t.items[1].className.c_str(), "Edit");  // windres writes class names upper-case
    EXPECT_EQ(t.items[1].id, 7u);

    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(kMainDialog), RT_DIALOG);
    const void* data = LockResource(LoadResource(nullptr, found));
    DialogTemplate cut;
    std::string error;
    EXPECT_FALSE(ParseDialogTemplate(data, SizeofResource(nullptr, found) - 10, &cut, &error));
    EXPECT_NE(error.find("item 15 of 15"), std::string::npos) << error;
    EXPECT_FALSE(ParseDialogTemplate(data, 12, &cut, &error));
}

}  // namespace qvtest
