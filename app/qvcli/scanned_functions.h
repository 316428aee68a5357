// The functions the dialog's bus scan lists, in its order, as records.
#ifndef QVCLI_SCANNED_FUNCTIONS_H
#define QVCLI_SCANNED_FUNCTIONS_H

#include "pci_address.h"

struct ScannedFunction {
    PciAddress Address;
    QvU32 Vendor;
    QvU32 DeviceId;
    QvU32 ClassCode;  // base << 16 | sub << 8 | prog-if
    bool Express;     // what the dialog marks "PCI Express"
};

struct ScannedList {
    ScannedFunction* Items;
    unsigned Count;
    unsigned Capacity;
    bool OutOfMemory;
};

// Runs the scan. Returns false when a request to the driver failed or memory
// ran out; *list then holds what was found before.
bool ScanFunctions(ScannedList* list);
void FreeScannedList(ScannedList* list);

#endif
