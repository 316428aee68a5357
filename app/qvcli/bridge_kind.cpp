#include "bridge_kind.h"

#include "../../ioctl/sys/pci_registers.h"

namespace {

const QvU8 kBridgeClass = 0x06;
const QvU8 kHostBridgeSubclass = 0x00;

}  // namespace

BridgeKind BridgeKindOf(const QvU8* header) {
    QvU8 base = header[kPciBaseClass];
    QvU8 sub = header[kPciSubclass];
    unsigned layout = PciHeaderLayout(header);
    if (base == kBridgeClass && sub == kHostBridgeSubclass) return kHostBridge;
    if (base == kBridgeClass || layout == kPciLayoutBridge || layout == kPciLayoutCardBus) return kBridge;
    return kNotABridge;
}

const char* BridgeKindText(BridgeKind kind) {
    switch (kind) {
        case kHostBridge: return "a host bridge";
        case kBridge: return "a bridge";
        case kNotABridge:
        default: return NULL;
    }
}
