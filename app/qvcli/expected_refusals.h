// The bits of a function's space that hardware refuses to take from a
// write, so that a restore does not count them as failures: the
// identifiers (vendor, device, revision, subsystem), the class code, the
// header type, the identifier and next-pointer bytes of every capability,
// the header doubleword of every extended capability, the status bits
// that clear when written with 1 (bits 8 and 11..15 of the status register
// and of a bridge's secondary status, and the error-reporting capability's
// error status registers) and that capability's header log.
#ifndef QVCLI_EXPECTED_REFUSALS_H
#define QVCLI_EXPECTED_REFUSALS_H

#include "space_image.h"

// Fills ignore (kSpaceBytes masks): a set bit is not compared. The layout
// follows the header type the function reads back with; the capability
// lists are walked both in what was written and in what reads back (a file
// may have been edited), the extended lists only when withExtended.
void ExpectedRefusals(const SpaceImage& written, const SpaceImage& readBack, bool withExtended, QvU8* ignore);

// Clears, in a 256-byte header about to be written, the status bits that a 1
// would clear (status, and a bridge's secondary status), so that the write
// leaves what the function reports there as it is.
void LeaveStatusAlone(QvU8* header);

#endif
