// The bus scan: every bus, device and function number is probed through the
// driver, and each function that answers gets one row of the device list.
#include "main_dialog.h"

#include <stdio.h>
#include <string.h>

#include "class_code.h"
#include "driver_request.h"

namespace {

enum {
    kBusCount = 256,
    kDeviceCount = 32,
    kFunctionCount = 8,
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

const unsigned short kNobodyHome = 0xFFFF;

unsigned int HeaderWord(const ConfigRequest& request, unsigned int offset) {
    return request.Data[offset] | (request.Data[offset + 1] << 8);
}

unsigned int ClassCodeOf(const ConfigRequest& request) {
    return (request.Data[0x0B] << 16) | (request.Data[0x0A] << 8) | request.Data[0x09];
}

// Appends one row for the function whose header the request holds.
void AddDeviceRow(CListCtrl& list, const ConfigRequest& request, char* text) {
    int row = (int)list.SendMessage(LVM_GETITEMCOUNT, 0, 0);

    unsigned int classCode = ClassCodeOf(request);
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

    sprintf(text, "%04X", HeaderWord(request, 0x00));
    SetListText(list, row, kColumnVendor, text);
    sprintf(text, "%04X", HeaderWord(request, 0x02));
    SetListText(list, row, kColumnDeviceId, text);

    sprintf(text, "%06x", classCode);
    SetListText(list, row, kColumnClass, text);

    if (ClassifyCapabilities(request.Data) == kCapPciExpress) {
        SetListText(list, row, kColumnDescription, "PCI Express");
    }
}

}  // namespace

void MainDialog::OnRescanBus() {
    ScanBus();
}

// Function numbers of a multi-function device need not be contiguous (0, 2, 3
// is common), so once function 0 has answered every function number 1..7 is
// probed, and one that does not answer is passed over. A device whose
// function 0 does not answer is left at once; the multi-function bit of the
// header type is not consulted.
void MainDialog::ScanBus() {
    ConfigRequest request;
    char text[kCellTextBytes];

    DeviceList.SendMessage(LVM_DELETEALLITEMS, 0, 0);

    for (QvU32 bus = 0; bus < kBusCount; ++bus) {
        for (QvU32 device = 0; device < kDeviceCount; ++device) {
            for (QvU32 function = 0; function < kFunctionCount; ++function) {
                memset(&request, 0, sizeof request);
                request.Bus = bus;
                request.Device = device;
                request.Function = function;
                if (!SendDriverRequest(IOCTL_READ_CONFIG, &request, sizeof request)) {
                    return;  // the rows so far stay; nothing is sized or selected
                }
                if (!FunctionAnswered(request)) {
                    if (request.Result == kResultNoFunction && HeaderWord(request, 0x00) != kNobodyHome) {
                        printf("Error\n");
                    }
                    if (function == 0) break;
                    continue;
                }
                AddDeviceRow(DeviceList, request, text);
            }
        }
    }

    for (int column : kColumnSizingOrder) {
        DeviceList.SendMessage(LVM_SETCOLUMNWIDTH, column,
                               (LPARAM)(unsigned short)LVSCW_AUTOSIZE_USEHEADER);
    }

    // The mark comes first: the selection change below raises LVN_ITEMCHANGED,
    // and the register view takes the row to show from the mark.
    DeviceList.SendMessage(LVM_SETSELECTIONMARK, 0, 0);
    DeviceList.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    DeviceList.SetItemState(0, LVIS_FOCUSED, LVIS_FOCUSED);
}
