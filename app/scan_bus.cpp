// The bus scan: every bus, device and function number is probed through the
// driver, and each function that answers gets one row of the device list.
#include "main_dialog.h"

#include <stdio.h>

#include "bus_walk.h"
#include "class_code.h"
#include "driver_request.h"
#include "../ioctl/sys/pci_registers.h"

namespace {

enum {
    kCellTextBytes = 256,  // the longest cell text is 49 characters
};

// Device list columns, by sub-item.
enum {
    kColumnType = 0,
    kColumnBus = 1,
    kColumnDevice = 2,
    kColumnFunction = 3,
    kColumnClass = 4,
    kColumnVendor = 5,
    kColumnDeviceId = 6,
    kColumnDescription = 7,
};

// Columns are sized one by one in this order, "Description" last.
const int kColumnSizingOrder[] = {0, 1, 2, 3, 5, 6, 4, 7};

// Appends one row for the function whose header the request holds.
void AddDeviceRow(CListCtrl& list, const ConfigRequest& request, char* text) {
    int row = (int)list.SendMessage(LVM_GETITEMCOUNT, 0, 0);

    unsigned int classCode = PciClassCode(request.Data);
    DescribeClassCode(classCode, text);
    SetListText(list, row, kColumnType, text);

    BusDevFn address = PackBusDevFn(request.Bus, request.Device, request.Function);
    list.SetItem(row, 0, LVIF_PARAM, nullptr, 0, 0, 0, (LPARAM)address);

    sprintf(text, "%d", (int)request.Bus);
    SetListText(list, row, kColumnBus, text);
    sprintf(text, "%d", (int)request.Device);
    SetListText(list, row, kColumnDevice, text);
    sprintf(text, "%d", (int)request.Function);
    SetListText(list, row, kColumnFunction, text);

    sprintf(text, "%04X", PciVendorId(request.Data));
    SetListText(list, row, kColumnVendor, text);
    sprintf(text, "%04X", PciDeviceId(request.Data));
    SetListText(list, row, kColumnDeviceId, text);

    sprintf(text, "%06x", classCode);
    SetListText(list, row, kColumnClass, text);

    if (ClassifyCapabilities(request.Data) == kCapPciExpress) {
        SetListText(list, row, kColumnDescription, "PCI Express");
    }
}

struct RowContext {
    CListCtrl* list;
    char text[kCellTextBytes];
};

void AddVisitedRow(const ConfigRequest& header, void* context) {
    RowContext* rows = static_cast<RowContext*>(context);
    AddDeviceRow(*rows->list, header, rows->text);
}

}  // namespace

void MainDialog::OnRescanBus() { ScanBus(); }

// Every function that answers gets a row (see WalkBus for which are probed).
void MainDialog::ScanBus() {
    RowContext rows;
    rows.list = &DeviceList;

    DeviceList.SendMessage(LVM_DELETEALLITEMS, 0, 0);
    if (!WalkBus(AddVisitedRow, &rows)) {
        return;  // the rows so far stay; nothing is sized or selected
    }

    for (int column : kColumnSizingOrder) {
        DeviceList.SendMessage(LVM_SETCOLUMNWIDTH, column, (LPARAM)(unsigned short)LVSCW_AUTOSIZE_USEHEADER);
    }

    // The mark comes first: the selection change below raises LVN_ITEMCHANGED,
    // and the register view takes the row to show from the mark.
    DeviceList.SendMessage(LVM_SETSELECTIONMARK, 0, 0);
    DeviceList.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    DeviceList.SetItemState(0, LVIS_FOCUSED, LVIS_FOCUSED);
}
