// The functions the dialog's bus scan lists, in its order, as records.
#ifndef QVCLI_SCANNED_FUNCTIONS_H
#define QVCLI_SCANNED_FUNCTIONS_H

#include <vector>

#include "pci_address.h"

struct ScannedFunction {
    PciAddress Address;
    QvU32 Vendor;
    QvU32 DeviceId;
    QvU32 ClassCode;  // base << 16 | sub << 8 | prog-if
    bool Express;     // what the dialog marks "PCI Express"
};

// Runs the scan into *functions. Returns false when a request to the driver
// failed; *functions then holds what was found before.
bool ScanFunctions(std::vector<ScannedFunction>* functions);

#endif
