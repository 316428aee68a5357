// What a restore would change in one function: every register where the
// value it would write differs from what the function reads now. The
// registers of the header's first 64 bytes are those of the register view's
// layout for the header type, with their names; beyond them each doubleword
// counts as one register, unnamed. Bits hardware refuses to take (see
// expected_refusals.h) are not compared: a restore does not count them
// either.
#ifndef QVCLI_REGISTER_CHANGES_H
#define QVCLI_REGISTER_CHANGES_H

#include <stdio.h>

#include "space_image.h"

// Compares the rows given in both target and current and prints, under
// "bb:dd.f: registers that would change (now, file):", one line for each
// register that differs: "  03c Interrupt Line: now 0b, file 05", or
// "  108: now 00000000, file 00112233". Prints "bb:dd.f: nothing would
// change" when none does. Returns how many registers differ.
unsigned PrintRegisterChanges(const SpaceImage& target, const SpaceImage& current, FILE* out);

#endif
