// The list-view control in report view, driven by the messages the program
// sends and by clicks and keys, with the notifications its parent receives.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "test_support.h"
#include "ui/list_view.h"
#include "ui/text_width.h"
#include "ui/user_input.h"
#include "ui/window_manager.h"

namespace qvtest {

using namespace standin::ui;

namespace {

const int kList = 1000;

int AddColumn(HWND list, const char* title, int position) {
    LVCOLUMNA column;
    memset(&column, 0, sizeof(column));
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx =
        static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(title))) + 15;
    column.pszText = const_cast<char*>(title);
    column.iSubItem = position;
    return static_cast<int>(
        SendMessageA(list, LVM_INSERTCOLUMNA, position, reinterpret_cast<LPARAM>(&column)));
}

LRESULT SetText(HWND list, int row, int column, const char* text) {
    LVITEMA item;
    memset(&item, 0, sizeof(item));
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    return SendMessageA(list, column == 0 ? LVM_INSERTITEMA : LVM_SETITEMA, 0,
                        reinterpret_cast<LPARAM>(&item));
}

std::string Cell(HWND list, int row, int column) {
    char text[64] = "?";
    LVITEMA item;
    memset(&item, 0, sizeof(item));
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

std::string ColumnTitle(HWND list, int index, int* subItem) {
    char text[64] = "";
    LVCOLUMNA column;
    memset(&column, 0, sizeof(column));
    column.mask = LVCF_TEXT | LVCF_SUBITEM;
    column.pszText = text;
    column.cchTextMax = sizeof(text);
    if (!SendMessageA(list, LVM_GETCOLUMNA, index, reinterpret_cast<LPARAM>(&column))) return "<none>";
    if (subItem) *subItem = column.iSubItem;
    return text;
}

LRESULT SetState(HWND list, int row, UINT state, UINT mask) {
    LVITEMA item;
    memset(&item, 0, sizeof(item));
    item.state = state;
    item.stateMask = mask;
    return SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

UINT State(HWND list, int row) {
    return static_cast<UINT>(SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_SELECTED | LVIS_FOCUSED));
}

int Mark(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETSELECTIONMARK, 0, 0)); }

void FillRows(HWND list, int rows) {
    AddColumn(list, "Name", 0);
    AddColumn(list, "Value", 1);
    for (int i = 0; i < rows; ++i) {
        std::string name = "row" + std::to_string(i);
        SetText(list, i, 0, name.c_str());
        SetText(list, i, 1, "v");
    }
}

// Runs `body` on list 1000 of the test dialog while it is up; returns what the dialog saw.
std::vector<Event> WithList(std::function<void(HWND)> body, bool refuseChanges = false) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    script.refuseChanges = refuseChanges;
    size_t before = 0;
    fe.steps.push_back([&](HWND d) {
        before = script.events.size();
        body(GetDlgItem(d, kList));
    });
    RunDialog(kMainDialog, &script);
    std::vector<Event> during(script.events.begin() + before, script.events.end());
    // Keep only the list's notifications.
    std::vector<Event> out;
    for (const Event& e : during) {
        if (e.message == WM_NOTIFY && static_cast<int>(e.wParam) == kList) out.push_back(e);
    }
    return out;
}

std::vector<Event> OnlyCode(const std::vector<Event>& events, UINT code) {
    std::vector<Event> out;
    for (const Event& e : events) {
        if (e.code == code) out.push_back(e);
    }
    return out;
}

}  // namespace

TEST(ListViewColumns, InsertAtPositionAndAppendPastTheEnd) {
    std::vector<std::string> titles;
    std::vector<int> subItems, indexes, widths;
    WithList([&](HWND list) {
        indexes.push_back(AddColumn(list, "Type", 0));
        indexes.push_back(AddColumn(list, "Bus#", 1));
        indexes.push_back(AddColumn(list, "Dev#", 2));
        indexes.push_back(AddColumn(list, "Func#", 3));
        indexes.push_back(AddColumn(list, "VID", 5));
        indexes.push_back(AddColumn(list, "DID", 6));
        indexes.push_back(AddColumn(list, "Class", 4));
        indexes.push_back(AddColumn(list, "Description", 7));
        for (int i = 0; i < 9; ++i) {
            int sub = -1;
            titles.push_back(ColumnTitle(list, i, &sub));
            subItems.push_back(sub);
            widths.push_back(static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, i, 0)));
        }
    });
    EXPECT_EQ(indexes, std::vector<int>({0, 1, 2, 3, 4, 5, 4, 7}));
    EXPECT_EQ(titles, std::vector<std::string>(
                          {"Type", "Bus#", "Dev#", "Func#", "Class", "VID", "DID", "Description", "<none>"}));
    EXPECT_EQ(subItems, std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, -1}));
    EXPECT_EQ(widths[0], 4 * 6 + 15);  // the fixed-pitch width model: 6 pixels a character
    EXPECT_EQ(widths[7], 11 * 6 + 15);
    EXPECT_EQ(widths[8], 0);
}

TEST(ListViewItems, RowsAreCreatedByColumnZeroAndCellsSetAfterwards) {
    std::vector<LRESULT> results;
    std::vector<std::string> cells;
    LPARAM data = 0;
    WithList([&](HWND list) {
        AddColumn(list, "A", 0);
        AddColumn(list, "B", 1);
        results.push_back(SetText(list, 0, 0, "first"));
        results.push_back(SetText(list, 5, 0, "appended"));  // past the end: appended as row 1
        results.push_back(SetText(list, 0, 1, "cell"));
        results.push_back(SetText(list, 7, 1, "no such row"));
        results.push_back(SetText(list, 0, 2, "no such column"));
        results.push_back(SetText(list, -1, 0, "negative"));
        LVITEMA item;
        memset(&item, 0, sizeof(item));
        item.mask = LVIF_TEXT;
        item.iSubItem = 1;
        item.pszText = const_cast<char*>("x");
        results.push_back(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        item.mask = LVIF_PARAM;
        item.iItem = 1;
        item.iSubItem = 0;
        item.lParam = 0x001C0302;
        results.push_back(SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        LVITEMA get;
        memset(&get, 0, sizeof(get));
        get.mask = LVIF_PARAM;
        get.iItem = 1;
        SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&get));
        data = get.lParam;
        cells = {Cell(list, 0, 0), Cell(list, 0, 1), Cell(list, 1, 0), Cell(list, 1, 1), Cell(list, 9, 0)};
        results.push_back(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    });
    EXPECT_EQ(results, std::vector<LRESULT>({0, 1, TRUE, FALSE, FALSE, -1, -1, TRUE, 2}));
    EXPECT_EQ(cells, std::vector<std::string>({"first", "cell", "appended", "", ""}));
    EXPECT_EQ(data, 0x001C0302);
}

TEST(ListViewStates, ProgrammaticSelectionNotifiesEveryChangeAndKeepsOneSelected) {
    int markAfterFirst = 0, markAfterSecond = 0;
    LRESULT oldMark = 0;
    std::vector<UINT> finalStates;
    std::vector<Event> events = WithList([&](HWND list) {
        FillRows(list, 3);
        SetState(list, 0, LVIS_SELECTED, LVIS_SELECTED);
        markAfterFirst = Mark(list);  // no mark before: selecting sets it
        oldMark = SendMessageA(list, LVM_SETSELECTIONMARK, 0, 1);
        SetState(list, 1, LVIS_SELECTED, LVIS_SELECTED);
        SetState(list, 1, LVIS_SELECTED, LVIS_SELECTED);  // no change, no notification
        SetState(list, 1, LVIS_FOCUSED, LVIS_FOCUSED);
        SetState(list, 2, LVIS_FOCUSED, LVIS_FOCUSED);
        markAfterSecond = Mark(list);
        finalStates = {State(list, 0), State(list, 1), State(list, 2)};
    });
    EXPECT_EQ(markAfterFirst, 0);
    EXPECT_EQ(oldMark, 0);
    EXPECT_EQ(markAfterSecond, 1);  // programmatic changes leave a set mark alone
    EXPECT_EQ(finalStates, std::vector<UINT>({0, LVIS_SELECTED, LVIS_FOCUSED}));
    std::vector<Event> changed = OnlyCode(events, LVN_ITEMCHANGED);
    ASSERT_EQ(changed.size(), 6u);
    struct Expect {
        int item;
        UINT oldState, newState;
    } expected[] = {{0, 0, LVIS_SELECTED},
                    {0, LVIS_SELECTED, 0},  // single selection: the other goes first
                    {1, 0, LVIS_SELECTED},
                    {1, LVIS_SELECTED, LVIS_SELECTED | LVIS_FOCUSED},
                    {1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED},  // focus moves: the old item loses it
                    {2, 0, LVIS_FOCUSED}};
    for (size_t i = 0; i < changed.size(); ++i) {
        EXPECT_EQ(changed[i].item, expected[i].item) << i;
        EXPECT_EQ(changed[i].oldState, expected[i].oldState) << i;
        EXPECT_EQ(changed[i].newState, expected[i].newState) << i;
    }
    // The mark was set before item 1 was selected: its notification sees it.
    EXPECT_EQ(changed[2].markAtNotification, 1);
    EXPECT_EQ(OnlyCode(events, LVN_ITEMCHANGING).size(), 6u);
}

TEST(ListViewStates, AParentCanRefuseAChange) {
    UINT state = 99;
    LRESULT result = 0;
    std::vector<Event> events = WithList(
        [&](HWND list) {
            FillRows(list, 2);
            result = SetState(list, 0, LVIS_SELECTED, LVIS_SELECTED);
            state = State(list, 0);
        },
        true);
    EXPECT_EQ(result, FALSE);
    EXPECT_EQ(state, 0u);
    EXPECT_TRUE(OnlyCode(events, LVN_ITEMCHANGED).empty());
}

TEST(ListViewMouse, AClickMovesFocusAndSelectionThenTheMarkThenNotifiesTheClick) {
    int markAfter = -5;
    HWND focusAfter = nullptr, list1000 = nullptr;
    std::vector<Event> events = WithList([&](HWND list) {
        list1000 = list;
        FillRows(list, 3);
        SetState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        SendMessageA(list, LVM_SETSELECTIONMARK, 0, 0);
        ClickListRow(list, 2);
        markAfter = Mark(list);
        focusAfter = GetFocus();
    });
    EXPECT_EQ(markAfter, 2);
    EXPECT_EQ(focusAfter, list1000);
    std::vector<Event> tail;
    for (const Event& e : events) {
        if (e.code == LVN_ITEMCHANGED || e.code == NM_CLICK) tail.push_back(e);
    }
    ASSERT_EQ(tail.size(), 5u);  // the set-up's change, then the click's three changes and NM_CLICK
    EXPECT_EQ(tail[1].item, 0);
    EXPECT_EQ(tail[1].oldState, static_cast<UINT>(LVIS_SELECTED | LVIS_FOCUSED));
    EXPECT_EQ(tail[1].newState, static_cast<UINT>(LVIS_SELECTED));
    EXPECT_EQ(tail[2].item, 0);
    EXPECT_EQ(tail[2].newState, 0u);
    EXPECT_EQ(tail[3].item, 2);
    EXPECT_EQ(tail[3].newState, static_cast<UINT>(LVIS_SELECTED | LVIS_FOCUSED));
    EXPECT_EQ(tail[3].markAtNotification, 0);  // the mark moves after the state change
    EXPECT_EQ(tail[4].code, static_cast<UINT>(NM_CLICK));
    EXPECT_EQ(tail[4].item, 2);
    EXPECT_EQ(tail[4].markAtNotification, 2);
}

TEST(ListViewMouse, ClicksBelowTheRowsDeselectAndClicksOnTheHeaderDoNothing) {
    std::vector<UINT> states;
    int mark = -5;
    std::vector<Event> events = WithList([&](HWND list) {
        FillRows(list, 2);
        ClickListRow(list, 1);
        ClickAt(list, 10, 3);   // the header line
        ClickListRow(list, 5);  // past the last row
        states = {State(list, 0), State(list, 1)};
        mark = Mark(list);
    });
    EXPECT_EQ(states, std::vector<UINT>({0, LVIS_FOCUSED}));  // the focus stays, the selection goes
    EXPECT_EQ(mark, 1);
    std::vector<Event> clicks = OnlyCode(events, NM_CLICK);
    ASSERT_EQ(clicks.size(), 2u);  // none for the header
    EXPECT_EQ(clicks[0].item, 1);
    EXPECT_EQ(clicks[1].item, -1);
}

TEST(ListViewKeyboard, ArrowsMoveTheSelectionAndTheMark) {
    std::vector<int> marks;
    std::vector<UINT> states;
    WithList([&](HWND list) {
        FillRows(list, 30);
        HWND dialog = GetParent(list);
        SetFocus(list);
        PressKey(dialog, VK_DOWN, false);  // no focused item yet: the first
        marks.push_back(Mark(list));
        PressKey(dialog, VK_DOWN, false);
        marks.push_back(Mark(list));
        PressKey(dialog, VK_NEXT, false);
        marks.push_back(Mark(list));
        PressKey(dialog, VK_END, false);
        marks.push_back(Mark(list));
        PressKey(dialog, VK_UP, false);
        marks.push_back(Mark(list));
        states = {State(list, 28), State(list, 29)};
        marks.push_back(static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0)) > 0 ? 1 : 0);
    });
    ASSERT_EQ(marks.size(), 6u);
    EXPECT_EQ(marks[0], 0);
    EXPECT_EQ(marks[1], 1);
    EXPECT_GT(marks[2], 1);
    EXPECT_EQ(marks[3], 29);
    EXPECT_EQ(marks[4], 28);
    EXPECT_EQ(states, std::vector<UINT>({LVIS_SELECTED | LVIS_FOCUSED, 0}));
    EXPECT_EQ(marks[5], 1);  // scrolled to keep the focused row in view
}

TEST(ListViewItems, DeleteAllForgetsFocusAndMark) {
    LRESULT count = -1, next = 0;
    int mark = 0;
    std::vector<Event> events = WithList([&](HWND list) {
        FillRows(list, 3);
        ClickListRow(list, 1);
        SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
        count = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
        mark = Mark(list);
        next = SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    });
    EXPECT_EQ(count, 0);
    EXPECT_EQ(mark, -1);
    EXPECT_EQ(next, -1);
    EXPECT_EQ(OnlyCode(events, LVN_DELETEALLITEMS).size(), 1u);
    // Parent answered 0: it wants one LVN_DELETEITEM per row.
    EXPECT_EQ(OnlyCode(events, LVN_DELETEITEM).size(), 3u);
}

TEST(ListViewColumns, AutosizeUsesHeaderOrContentsAndTheLastColumnFillsTheRest) {
    std::vector<int> widths;
    int clientWidth = 0, pageRows = 0;
    WithList([&](HWND list) {
        AddColumn(list, "Type", 0);
        AddColumn(list, "Bus#", 1);
        AddColumn(list, "Description", 2);
        SetText(list, 0, 0, "Serial bus controller");  // 21 characters
        SetText(list, 0, 1, "0");
        SendMessageA(list, LVM_SETCOLUMNWIDTH, 0, static_cast<LPARAM>(0xFFFE));
        SendMessageA(list, LVM_SETCOLUMNWIDTH, 1, LVSCW_AUTOSIZE_USEHEADER);
        SendMessageA(list, LVM_SETCOLUMNWIDTH, 2, LVSCW_AUTOSIZE_USEHEADER);
        for (int i = 0; i < 3; ++i)
            widths.push_back(static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, i, 0)));
        RECT rc;
        GetClientRect(list, &rc);
        clientWidth = rc.right;
        pageRows = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
        // More rows than a page: the scroll bar takes its width from the last column.
        for (int i = 1; i <= pageRows; ++i) SetText(list, i, 0, "x");
        SendMessageA(list, LVM_SETCOLUMNWIDTH, 2, LVSCW_AUTOSIZE_USEHEADER);
        widths.push_back(static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, 2, 0)));
        SendMessageA(list, LVM_SETCOLUMNWIDTH, 1, LVSCW_AUTOSIZE);
        widths.push_back(static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0)));
    });
    EXPECT_EQ(widths[0], 21 * 6 + 12);
    EXPECT_EQ(widths[1], 4 * 6 + 12);
    EXPECT_EQ(widths[2], clientWidth - widths[0] - widths[1]);
    EXPECT_EQ(widths[3], clientWidth - 17 - widths[0] - widths[1]);
    EXPECT_EQ(widths[4], 1 * 6 + 12);  // contents only: "0" (and "" on the other rows)
    EXPECT_EQ(pageRows, 70 * 13 / 8 / 13 - 3);
}

TEST(ListViewStyles, ExtendedStyleAndRedraw) {
    LRESULT before = -1, after = -1, masked = -1;
    bool redrawOff = false, redrawOn = false;
    WithList([&](HWND list) {
        before = SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, before | LVS_EX_FULLROWSELECT);
        after = SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES, LVS_EX_GRIDLINES | 0x100);
        masked = SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        SendMessageA(list, WM_SETREDRAW, FALSE, 0);
        redrawOff = !FindWindowRecord(list)->redraw;
        SendMessageA(list, WM_SETREDRAW, TRUE, 0);
        redrawOn = FindWindowRecord(list)->redraw;
    });
    EXPECT_EQ(before, 0);
    EXPECT_EQ(after, LVS_EX_FULLROWSELECT);
    EXPECT_EQ(masked, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    EXPECT_TRUE(redrawOff);
    EXPECT_TRUE(redrawOn);
}

TEST(ListViewScrolling, TheWheelScrollsThreeRowsWithinTheList) {
    std::vector<int> tops;
    WithList([&](HWND list) {
        FillRows(list, 12);
        int page = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
        SendMessageA(list, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), 0);
        tops.push_back(static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0)));
        for (int i = 0; i < 5; ++i)
            SendMessageA(list, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), 0);
        tops.push_back(static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0)) - (12 - page));
        SendMessageA(list, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
        SendMessageA(list, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
        SendMessageA(list, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
        SendMessageA(list, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
        tops.push_back(static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0)));
    });
    EXPECT_EQ(tops, std::vector<int>({3, 0, 0}));  // 3 rows down, stops at the last page, back to the top
}

// Page Down goes to the last row of the page shown, and from there a page less
// one row further, scrolling that row to the bottom; Page Up mirrors it.
TEST(ListViewKeyboard, PageKeysGoToThePageEdgeFirstThenAPageFurther) {
    int page = 0;
    std::vector<std::pair<int, int>> markAndTop;
    WithList([&](HWND list) {
        FillRows(list, 14);
        page = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
        HWND dialog = GetParent(list);
        SetFocus(list);
        auto note = [&]() {
            markAndTop.push_back({Mark(list), static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0))});
        };
        PressKey(dialog, VK_DOWN, false);  // row 0
        for (int key : {VK_NEXT, VK_NEXT, VK_NEXT, VK_NEXT, VK_PRIOR, VK_PRIOR, VK_PRIOR, VK_PRIOR}) {
            PressKey(dialog, key, false);
            note();
        }
    });
    ASSERT_EQ(page, 5) << "the test dialog's list shows five rows";
    const std::vector<std::pair<int, int>> expected = {
        {4, 0},            // to the bottom of the page, no scrolling
        {8, 4},            // a page less one row further, that row at the bottom
        {12, 8}, {13, 9},  // stops at the last row
        {9, 9},            // to the top of the page, no scrolling
        {5, 5},            // a page less one row back, that row at the top
        {1, 1},  {0, 0},   // stops at the first row
    };
    EXPECT_EQ(markAndTop, expected);
}

// Columns wider than the list scroll sideways: Left and Right by a step,
// WM_HSCROLL as the scroll bar sends it, LVM_SCROLL by pixels; never past
// either end, and hit tests follow the scroll position.
TEST(ListViewScrolling, WideColumnsScrollSidewaysWithinTheirRange) {
    std::vector<int> positions;
    int maxScroll = -1, visible = 0, content = 0;
    int hitBefore = -2, hitAfter = -2;
    WithList([&](HWND list) {
        FillRows(list, 2);
        SendMessageA(list, LVM_SETCOLUMNWIDTH, 0, 200);
        SendMessageA(list, LVM_SETCOLUMNWIDTH, 1, 300);
        visible = ListViewVisibleWidth(list);
        content = ListViewContentWidth(list);
        maxScroll = ListViewMaxScrollX(list);
        HWND dialog = GetParent(list);
        SetFocus(list);
        auto note = [&]() { positions.push_back(ListViewOf(list)->scrollX); };
        PressKey(dialog, VK_LEFT, false);
        note();  // already at the left end
        PressKey(dialog, VK_RIGHT, false);
        note();
        SendMessageA(list, WM_HSCROLL, MAKEWPARAM(SB_PAGERIGHT, 0), 0);
        note();
        SendMessageA(list, WM_HSCROLL, MAKEWPARAM(SB_RIGHT, 0), 0);
        note();
        PressKey(dialog, VK_RIGHT, false);
        note();  // at the right end
        LVHITTESTINFO info = {};
        info.pt = {40, kListHeaderHeight + 2};
        SendMessageA(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&info));
        hitAfter = info.iSubItem;
        SendMessageA(list, WM_HSCROLL, MAKEWPARAM(SB_LEFT, 0), 0);
        SendMessageA(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&info));
        hitBefore = info.iSubItem;
        note();
        SendMessageA(list, LVM_SCROLL, 45, 0);
        note();
        // Narrower columns bring the position back into the range.
        SendMessageA(list, LVM_SCROLL, 10000, 0);
        SendMessageA(list, LVM_SETCOLUMNWIDTH, 1, 20);
        note();
    });
    EXPECT_EQ(content, 500);
    EXPECT_EQ(maxScroll, content - visible);
    ASSERT_EQ(positions.size(), 8u);
    EXPECT_EQ(positions[0], 0);
    EXPECT_EQ(positions[1], kListScrollStep);
    EXPECT_EQ(positions[2], std::min(kListScrollStep + visible, maxScroll));
    EXPECT_EQ(positions[3], maxScroll);
    EXPECT_EQ(positions[4], maxScroll);
    EXPECT_EQ(positions[5], 0);
    EXPECT_EQ(positions[6], 45);
    EXPECT_EQ(positions[7], std::max(0, 220 - visible));
    EXPECT_EQ(hitBefore, 0);
    EXPECT_EQ(hitAfter, 1)
        << "scrolled by the range (167 pixels), 40 pixels in is past the first column's 200";
}

// A cell whose text is wider than its column widens the column as drawn, so
// that scrolling reaches its end: the program sizes a last column before its
// values are written.
TEST(ListViewScrolling, TextWiderThanItsColumnCountsInTheScrollRange) {
    int plain = 0, widened = 0;
    WithList([&](HWND list) {
        FillRows(list, 1);
        SendMessageA(list, LVM_SETCOLUMNWIDTH, 0, 60);
        SendMessageA(list, LVM_SETCOLUMNWIDTH, 1, 60);
        plain = ListViewContentWidth(list);
        SetText(list, 0, 1, std::string(50, 'x').c_str());
        widened = ListViewContentWidth(list);
    });
    EXPECT_EQ(plain, 120);
    EXPECT_EQ(widened, 60 + 50 * kBaseUnitX + 12);
}

}  // namespace qvtest
