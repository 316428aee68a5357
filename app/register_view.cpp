// The register view: the selected function's header decoded by header type,
// the device-specific dump 0x40..0xFF and, for a PCI Express function, the
// extended space 0x100..0xFFF. Every display reads the function anew.
#include "main_dialog.h"

#include <string.h>

#include "class_code.h"
#include "function_space.h"
#include "../ioctl/sys/pci_registers.h"
#include "register_layout.h"

// The device-list index the register view last acted on; -1 when there was
// no selection mark. Only ShowSelectedDevice sets it: a rescan leaves it as
// it is, and a reload that finds no row for its function has it learn that
// no row is marked.
int LastShownIndex = -1;

namespace {

enum {
    kNameColumn = 0,
    kValueColumn = 1,
    kDumpRowBytes = 0x10,
    kDeviceSpecificStart = 0x40,
    kHeaderEnd = 0x100,
    kExtendedEnd = 0x1000,
};

// Writes dump rows for offsets [first, end), reading the byte at offset X
// from bytes[X - first]; returns the next free row.
int AddDumpRows(CListCtrl& list, int row, unsigned int first, unsigned int end, const unsigned char* bytes) {
    char text[kRegisterTextBytes];
    for (unsigned int offset = first; offset < end; offset += kDumpRowBytes) {
        FormatDumpLabel(offset, text);
        SetListText(list, row, kNameColumn, text);
        FormatDumpValue(bytes + (offset - first), text);
        SetListText(list, row, kValueColumn, text);
        ++row;
    }
    return row;
}

}  // namespace

void MainDialog::ShowRegisterNames(int headerType) {
    RegisterList.SendMessage(LVM_DELETEALLITEMS, 0, 0);

    RegisterLayout layout = LayoutForHeaderType(headerType);
    if (layout.count > 0) {
        for (int row = 0; row < kCommonRegisterRows; ++row) {
            SetListText(RegisterList, row, kNameColumn, kCommonRegisters[row].name);
        }
        for (int i = 0; i < layout.count; ++i) {
            SetListText(RegisterList, kCommonRegisterRows + i, kNameColumn, layout.rows[i].name);
        }
    }

    RegisterList.SendMessage(LVM_SETCOLUMNWIDTH, kNameColumn,
                             (LPARAM)(unsigned short)LVSCW_AUTOSIZE_USEHEADER);
    RegisterList.SendMessage(LVM_SETCOLUMNWIDTH, kValueColumn,
                             (LPARAM)(unsigned short)LVSCW_AUTOSIZE_USEHEADER);
}

int MainDialog::ShowDeviceRegisters(unsigned int bus, unsigned int device, unsigned int function) {
    ConfigRequest request;
    ExtConfigRequest extended;
    bool express = false;
    if (!ReadFunctionSpace(bus, device, function, &request, &extended, &express)) return kDriverOpFailed;

    // Every failure has returned above, so redraw is never left off.
    RegisterList.SendMessage(WM_SETREDRAW, FALSE, 0);

    int headerType = (int)PciHeaderLayout(request.Data);
    ShowRegisterNames(headerType);

    char text[kRegisterTextBytes];
    // The common values are written for every header type; with a type that
    // has no layout their rows do not exist and the list drops them.
    for (int row = 0; row < kCommonRegisterRows; ++row) {
        FormatRegisterValue(kCommonRegisters[row], request.Data, text);
        SetListText(RegisterList, row, kValueColumn, text);
    }
    RegisterLayout layout = LayoutForHeaderType(headerType);
    for (int i = 0; i < layout.count; ++i) {
        FormatRegisterValue(layout.rows[i], request.Data, text);
        SetListText(RegisterList, kCommonRegisterRows + i, kValueColumn, text);
    }

    int row = FirstDumpRow(headerType);
    row =
        AddDumpRows(RegisterList, row, kDeviceSpecificStart, kHeaderEnd, request.Data + kDeviceSpecificStart);
    if (express) {
        AddDumpRows(RegisterList, row, kHeaderEnd, kExtendedEnd, extended.ExtData);
    }

    RegisterList.SendMessage(WM_SETREDRAW, TRUE, 0);
    return kDriverOpDone;
}

// Shows the function at the selection mark, unless it is the one shown last.
// The decision rests on the mark alone: deselecting the shown item, or
// clicking it again, reads nothing.
void MainDialog::ShowSelectedDevice() {
    int mark = (int)DeviceList.SendMessage(LVM_GETSELECTIONMARK, 0, 0);
    if (mark == LastShownIndex) return;
    LastShownIndex = mark;
    if (mark == -1) return;

    ShowRegisterNames(-1);
    BusDevFn address = (BusDevFn)DeviceList.GetItemData(mark);
    ShowDeviceRegisters(BusOf(address), DeviceOf(address), FunctionOf(address));
}

void MainDialog::OnDeviceListItemChanged(NMHDR* header, LRESULT* result) {
    const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if ((change->uNewState ^ change->uOldState) & LVIS_SELECTED) {
        // A row that has just become selected is the row to show. The list
        // moves its selection mark to a row selected from the keyboard only
        // after this notification, so without this the arrow keys would show
        // the registers of the row selected before while Save took the new one.
        if ((change->uNewState & LVIS_SELECTED) != 0 && change->iItem >= 0) {
            DeviceList.SendMessage(LVM_SETSELECTIONMARK, 0, change->iItem);
        }
        ShowSelectedDevice();
    }
    *result = 0;
}

void MainDialog::OnDeviceListClick(NMHDR*, LRESULT* result) {
    ShowSelectedDevice();
    *result = 0;
}
