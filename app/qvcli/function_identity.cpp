#include "function_identity.h"

#include <stdio.h>

namespace {

const unsigned kNoSubsystem = 0;

// Where the subsystem identifiers lie in the layout the function reads with,
// or kNoSubsystem.
unsigned SubsystemOffset(const SpaceImage& current) {
    switch (current.Bytes[0x0E] & 0x7F) {
        case 0: return 0x2C;
        case 2: return 0x40;
        default: return kNoSubsystem;
    }
}

}  // namespace

bool SameChip(const SpaceImage& saved, const SpaceImage& current) {
    return SpaceWord(saved, 0x00) == SpaceWord(current, 0x00) &&
           SpaceWord(saved, 0x02) == SpaceWord(current, 0x02);
}

bool SameFunction(const SpaceImage& saved, const SpaceImage& current, char* text) {
    int used = 0;
    text[0] = '\0';
    if (saved.Bytes[0x08] != current.Bytes[0x08]) {
        used = snprintf(text, kIdentityTextBytes, "revision %02x in the file, %02x here", saved.Bytes[0x08],
                        current.Bytes[0x08]);
    }
    unsigned at = SubsystemOffset(current);
    if (at != kNoSubsystem && saved.RowGiven[at / 16] &&
        (SpaceWord(saved, at) != SpaceWord(current, at) ||
         SpaceWord(saved, at + 2) != SpaceWord(current, at + 2))) {
        snprintf(text + used, kIdentityTextBytes - used, "%ssubsystem %04x:%04x in the file, %04x:%04x here",
                 used != 0 ? "; " : "", (unsigned)SpaceWord(saved, at), (unsigned)SpaceWord(saved, at + 2),
                 (unsigned)SpaceWord(current, at), (unsigned)SpaceWord(current, at + 2));
    }
    return text[0] == '\0';
}
