// Whether the function at an address is the one a file's image was saved
// from: the same chip (vendor and device identifiers), and the same function
// of it (revision and, where the header layout has them, the subsystem
// identifiers, which tell one board's function from another board's with
// the same chips).
#ifndef QVCLI_FUNCTION_IDENTITY_H
#define QVCLI_FUNCTION_IDENTITY_H

#include "space_image.h"

enum { kIdentityTextBytes = 128 };

bool SameChip(const SpaceImage& saved, const SpaceImage& current);

// Compares the revision and the subsystem identifiers (at 0x2c of a type 0
// header, at 0x40 of a type 2 header when the file gives that row). Returns
// true when they agree; otherwise writes what differs into text
// (kIdentityTextBytes), e.g. "revision 14 in the file, 13 here; subsystem
// 1179:ff00 in the file, 17aa:2131 here".
bool SameFunction(const SpaceImage& saved, const SpaceImage& current, char* text);

#endif
