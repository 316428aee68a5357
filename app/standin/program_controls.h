// The dialog's controls that a scripted run drives and reports: the device
// list, the register list and the slot boxes in slot order. One table for the
// stand-in's process entry and the Wine bed's script driver.
#ifndef QUORVENAL_PROGRAM_CONTROLS_H
#define QUORVENAL_PROGRAM_CONTROLS_H

#include "../resource.h"
#include "ui/dialog_controls.h"

inline constexpr int kProgramSlotEdits[] = {IDC_SLOT_EDIT1, IDC_SLOT_EDIT2, IDC_SLOT_EDIT3, IDC_SLOT_EDIT4,
                                            IDC_SLOT_EDIT5};

inline constexpr standin::ui::DialogControls kProgramControls = {
    IDC_DEVICE_LIST, IDC_REGISTER_LIST, kProgramSlotEdits,
    static_cast<int>(sizeof kProgramSlotEdits / sizeof kProgramSlotEdits[0])};

#endif
