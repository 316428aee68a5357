// MainDialog: construction, control binding, initialisation, the minimised
// icon, the message map and the two report-list helpers.
#include "main_dialog.h"

#include <string.h>

BEGIN_MESSAGE_MAP(MainDialog, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_RESCAN_BUS, &MainDialog::OnRescanBus)
ON_BN_CLICKED(IDC_SAVE1, &MainDialog::OnSave1)
ON_BN_CLICKED(IDC_SAVE2, &MainDialog::OnSave2)
ON_BN_CLICKED(IDC_SAVE3, &MainDialog::OnSave3)
ON_BN_CLICKED(IDC_SAVE4, &MainDialog::OnSave4)
ON_BN_CLICKED(IDC_SAVE5, &MainDialog::OnSave5)
ON_BN_CLICKED(IDC_RELOAD1, &MainDialog::OnReload1)
ON_BN_CLICKED(IDC_RELOAD2, &MainDialog::OnReload2)
ON_BN_CLICKED(IDC_RELOAD3, &MainDialog::OnReload3)
ON_BN_CLICKED(IDC_RELOAD4, &MainDialog::OnReload4)
ON_BN_CLICKED(IDC_RELOAD5, &MainDialog::OnReload5)
ON_NOTIFY(LVN_ITEMCHANGED, IDC_DEVICE_LIST, &MainDialog::OnDeviceListItemChanged)
ON_NOTIFY(NM_CLICK, IDC_DEVICE_LIST, &MainDialog::OnDeviceListClick)
END_MESSAGE_MAP()

MainDialog::MainDialog(CWnd* parent) : CDialog(IDD, parent) {
    LPCSTR icon = MAKEINTRESOURCEA(IDR_MAINFRAME);
    m_hIcon = ::LoadIconA(AfxFindResourceHandle(icon, RT_GROUP_ICON), icon);
}

MainDialog::~MainDialog() = default;

void MainDialog::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_DEVICE_LIST, DeviceList);
    DDX_Control(dx, IDC_REGISTER_LIST, RegisterList);
    DDX_Control(dx, IDC_SLOT_EDIT1, SlotAddressEdit[0]);
    DDX_Control(dx, IDC_SLOT_EDIT2, SlotAddressEdit[1]);
    DDX_Control(dx, IDC_SLOT_EDIT3, SlotAddressEdit[2]);
    DDX_Control(dx, IDC_SLOT_EDIT4, SlotAddressEdit[3]);
    DDX_Control(dx, IDC_SLOT_EDIT5, SlotAddressEdit[4]);
}

BOOL MainDialog::OnInitDialog() {
    // A template without one of the bound controls has already ended the
    // dialog; nothing below may run on unbound controls.
    if (!CDialog::OnInitDialog()) return FALSE;

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    // A click anywhere in a device row selects the row; the register list
    // keeps the default, where only the first column highlights.
    DWORD extended = static_cast<DWORD>(DeviceList.SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    DeviceList.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                           static_cast<LPARAM>(extended | LVS_EX_FULLROWSELECT));

    // Each column's sub-item is the position asked for, so "VID" and "DID"
    // keep sub-items 5 and 6 although "Class" is placed before them later.
    AddListColumn(DeviceList, "Type", 0);
    AddListColumn(DeviceList, "Bus#", 1);
    AddListColumn(DeviceList, "Dev#", 2);
    AddListColumn(DeviceList, "Func#", 3);
    AddListColumn(DeviceList, "VID", 5);
    AddListColumn(DeviceList, "DID", 6);
    AddListColumn(DeviceList, "Class", 4);
    AddListColumn(DeviceList, "Description", 7);

    AddListColumn(RegisterList, "Register", 0);
    AddListColumn(RegisterList, "Value", 1);

    for (int slot = 0; slot < kSlotCount; ++slot) {
        SavedAddress[slot] = kEmptySlotAddress;
        memset(SavedHeader[slot], 0, sizeof SavedHeader[slot]);
        memset(SavedExtended[slot], 0, sizeof SavedExtended[slot]);
    }

    ScanBus();

    // The dialog manager gives the focus to the first tab stop, "Exit".
    return TRUE;
}

void MainDialog::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

    int iconWidth = ::GetSystemMetrics(SM_CXICON);
    int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(&client);
    int x = (client.right - client.left - iconWidth + 1) / 2;
    int y = (client.bottom - client.top - iconHeight + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR MainDialog::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void SetListText(CListCtrl& list, int row, int column, const char* text) {
    LVITEM item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<LPSTR>(text);  // the control copies the text
    if (column == 0) {
        list.SendMessage(LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item));
    } else {
        list.SendMessage(LVM_SETITEM, 0, reinterpret_cast<LPARAM>(&item));
    }
}

void AddListColumn(CListCtrl& list, const char* title, int position) {
    int width = static_cast<int>(list.SendMessage(LVM_GETSTRINGWIDTH, 0, reinterpret_cast<LPARAM>(title)));
    LVCOLUMN column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width + 15;
    column.pszText = const_cast<LPSTR>(title);
    column.iSubItem = position;
    list.SendMessage(LVM_INSERTCOLUMN, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&column));
}
