// The program's one window: device list, register list, rescan/exit/uninstall
// buttons and the five save/reload slots.
#ifndef QUORVENAL_MAIN_DIALOG_H
#define QUORVENAL_MAIN_DIALOG_H

#include "../framework/afx.h"
#include "../ioctl/sys/quorvenal_ioctl.h"
#include "bus_dev_fn.h"
#include "resource.h"

enum { kSlotCount = 5 };

class MainDialog : public CDialog {
public:
    explicit MainDialog(CWnd* parent = nullptr);
    ~MainDialog() override;

    enum { IDD = IDD_QUORVENAL_DIALOG };

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;

    // Message handlers.
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnRescanBus();
    void OnSave1();
    void OnSave2();
    void OnSave3();
    void OnSave4();
    void OnSave5();
    void OnReload1();
    void OnReload2();
    void OnReload3();
    void OnReload4();
    void OnReload5();
    void OnDeviceListItemChanged(NMHDR* header, LRESULT* result);
    void OnDeviceListClick(NMHDR* header, LRESULT* result);

    // Device discovery.
    void ScanBus();

    // The operations that talk to the driver return kDriverOpDone or
    // kDriverOpFailed.
    enum { kDriverOpDone = 0, kDriverOpFailed = 1 };

    // Register view.
    void ShowRegisterNames(int headerType);
    int ShowDeviceRegisters(unsigned int bus, unsigned int device, unsigned int function);
    void ShowSelectedDevice();

    // Slots.
    int SaveDevice(unsigned int slot, unsigned int bus, unsigned int device, unsigned int function);
    int ReloadDevice(unsigned int slot, unsigned int bus, unsigned int device, unsigned int function);
    void SaveSlot(unsigned int slot);
    void ReloadSlot(unsigned int slot);

    HICON m_hIcon;
    unsigned char SavedHeader[kSlotCount][kConfigHeaderBytes];
    unsigned char SavedExtended[kSlotCount][kExtConfigBytes];
    BusDevFn SavedAddress[kSlotCount];
    CListCtrl DeviceList;
    CListCtrl RegisterList;
    CEdit SlotAddressEdit[kSlotCount];

    DECLARE_MESSAGE_MAP()
};

// Report-list helpers: write one cell (column 0 inserts the row), add a column.
void SetListText(CListCtrl& list, int row, int column, const char* text);
void AddListColumn(CListCtrl& list, const char* title, int position);

#endif
