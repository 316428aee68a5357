#include "bridge_kind.h"

namespace {

const QvU8 kBridgeClass = 0x06;
const QvU8 kHostBridgeSubclass = 0x00;
const QvU8 kPciBridgeHeader = 1;
const QvU8 kCardBusHeader = 2;

}  // namespace

BridgeKind BridgeKindOf(const QvU8* header) {
    QvU8 base = header[0x0B];
    QvU8 sub = header[0x0A];
    QvU8 layout = header[0x0E] & 0x7F;
    if (base == kBridgeClass && sub == kHostBridgeSubclass) return kHostBridge;
    if (base == kBridgeClass || layout == kPciBridgeHeader || layout == kCardBusHeader) return kBridge;
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
