// Which functions a restore writes only when the user names them: host
// bridges (the memory controller and the processor's own functions among
// them) and bridges. A bridge is every function of the bridge class and
// every function with a bridge's header: a PCI-to-PCI bridge or root port
// may sit above the disk the system runs from, and configuration space does
// not say which one does, so none is written unasked.
#ifndef QVCLI_BRIDGE_KIND_H
#define QVCLI_BRIDGE_KIND_H

#include "space_image.h"

enum BridgeKind : QvU8 {
    kNotABridge = 0,
    kHostBridge = 1,  // class 06 00
    kBridge = 2,      // any other class 06, or header type 1 or 2
};

// The kind of the function whose 256-byte header this is.
BridgeKind BridgeKindOf(const QvU8* header);

// "a host bridge" or "a bridge"; NULL for kNotABridge.
const char* BridgeKindText(BridgeKind kind);

#endif
