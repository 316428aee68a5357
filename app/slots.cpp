// The five configuration slots: a function's whole configuration space saved
// in memory and later written back to the same function, which is then
// selected in the device list and shown as it now reads.
#include "main_dialog.h"

#include <stdio.h>
#include <string.h>

#include "class_code.h"
#include "function_space.h"

namespace {

enum { kSlotTextBytes = 32 };  // "%X:%X:%X" of three 32-bit numbers fits

}  // namespace

// Reads the function (both spaces for a PCI Express function) into the slot.
// The slot is emptied first, so every failure leaves it empty.
int MainDialog::SaveDevice(unsigned int slot, unsigned int bus, unsigned int device, unsigned int function) {
    SavedAddress[slot] = kEmptySlotAddress;
    memset(SavedHeader[slot], 0, sizeof SavedHeader[slot]);
    memset(SavedExtended[slot], 0, sizeof SavedExtended[slot]);

    ConfigRequest request;
    ExtConfigRequest extended;
    bool express = false;
    if (!ReadFunctionSpace(bus, device, function, &request, &extended, &express)) return kDriverOpFailed;

    // A function that is not PCI Express leaves the extended bytes zero.
    memcpy(SavedHeader[slot], request.Data, sizeof SavedHeader[slot]);
    memcpy(SavedExtended[slot], extended.ExtData, sizeof SavedExtended[slot]);
    SavedAddress[slot] = PackBusDevFn(request.Bus, request.Device, request.Function);
    return kDriverOpDone;
}

// Writes the slot back: the header first, then, when the header as saved
// classifies as PCI Express, the extended space. Nothing is undone when the
// extended write fails after the header was written.
int MainDialog::ReloadDevice(unsigned int slot, unsigned int bus, unsigned int device,
                             unsigned int function) {
    ConfigRequest request;
    ExtConfigRequest extended;
    memset(&request, 0, sizeof request);
    memset(&extended, 0, sizeof extended);

    request.Bus = bus;
    request.Device = device;
    request.Function = function;
    memcpy(request.Data, SavedHeader[slot], sizeof request.Data);
    bool express = ClassifyCapabilities(SavedHeader[slot]) == kCapPciExpress;

    if (!SendDriverRequest(IOCTL_WRITE_CONFIG, &request, sizeof request)) return kDriverOpFailed;
    if (!FunctionAnswered(request)) return kDriverOpFailed;
    if (!express) return kDriverOpDone;

    extended.Bus = bus;
    extended.Device = device;
    extended.Function = function;
    memcpy(extended.ExtData, SavedExtended[slot], sizeof extended.ExtData);
    if (!SendDriverRequest(IOCTL_WRITE_EXT_CONFIG, &extended, sizeof extended)) return kDriverOpFailed;
    if (extended.Result != kResultExtDone) return kDriverOpFailed;
    return kDriverOpDone;
}

void MainDialog::SaveSlot(unsigned int slot) {
    if (slot >= kSlotCount) return;
    int mark = (int)DeviceList.SendMessage(LVM_GETSELECTIONMARK, 0, 0);
    if (mark == -1) return;

    BusDevFn address = (BusDevFn)DeviceList.GetItemData(mark);
    unsigned int bus = BusOf(address);
    unsigned int device = DeviceOf(address);
    unsigned int function = FunctionOf(address);

    if (SaveDevice(slot, bus, device, function) != kDriverOpDone) {
        // The slot is empty now; an address left in its box would claim
        // otherwise. The box is emptied before the message is shown.
        SlotAddressEdit[slot].SetWindowTextA("");
        AfxMessageBox("SaveDevice:ERROR", MB_OK);
        return;
    }

    char text[kSlotTextBytes];
    sprintf(text, "%X:%X:%X", bus, device, function);
    SlotAddressEdit[slot].SetWindowTextA(text);
}

void MainDialog::ReloadSlot(unsigned int slot) {
    if (slot >= kSlotCount) return;
    BusDevFn address = SavedAddress[slot];
    if (address == kEmptySlotAddress) return;

    unsigned int bus = BusOf(address);
    unsigned int device = DeviceOf(address);
    unsigned int function = FunctionOf(address);
    if (ReloadDevice(slot, bus, device, function) != kDriverOpDone) {
        AfxMessageBox("ReloadDevice:Error", MB_OK);
        return;
    }

    // Move the selection to the written-back function. Each state change
    // raises LVN_ITEMCHANGED, so the register view may already show the newly
    // selected row before the explicit display below. The mark goes with the
    // selection: the save buttons act on the marked row, and when the
    // function is no longer listed no row is selected, so none may stay marked.
    int mark = (int)DeviceList.SendMessage(LVM_GETSELECTIONMARK, 0, 0);
    if (mark != -1) {
        DeviceList.SetItemState(mark, 0, LVIS_FOCUSED);
        DeviceList.SetItemState(mark, 0, LVIS_SELECTED);
        DeviceList.SendMessage(LVM_SETSELECTIONMARK, 0, -1);
    }
    for (int item = 0; item < (int)DeviceList.SendMessage(LVM_GETITEMCOUNT, 0, 0); ++item) {
        if ((BusDevFn)DeviceList.GetItemData(item) == address) {
            DeviceList.SendMessage(LVM_SETSELECTIONMARK, 0, item);
            DeviceList.SetItemState(item, LVIS_FOCUSED, LVIS_FOCUSED);
            DeviceList.SetItemState(item, LVIS_SELECTED, LVIS_SELECTED);
            break;
        }
    }
    // The register view takes note of the mark as the search left it. With the
    // function's row selected, the selection change has done so already; with
    // no row holding it, the view learns that no row is marked, so the next
    // row selected is read and shown even when it is the row shown before the
    // reload (the view shows the reloaded function now, not that row).
    ShowSelectedDevice();

    // Shown in any case, so the list ends with the state after the write-back
    // even when the function was already on display or is no longer listed.
    ShowRegisterNames(-1);
    ShowDeviceRegisters(bus, device, function);
}

void MainDialog::OnSave1() { SaveSlot(0); }
void MainDialog::OnSave2() { SaveSlot(1); }
void MainDialog::OnSave3() { SaveSlot(2); }
void MainDialog::OnSave4() { SaveSlot(3); }
void MainDialog::OnSave5() { SaveSlot(4); }
void MainDialog::OnReload1() { ReloadSlot(0); }
void MainDialog::OnReload2() { ReloadSlot(1); }
void MainDialog::OnReload3() { ReloadSlot(2); }
void MainDialog::OnReload4() { ReloadSlot(3); }
void MainDialog::OnReload5() { ReloadSlot(4); }
