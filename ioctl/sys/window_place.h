// Which pages the driver may map as the configuration window
// (window_place.cpp).
//
// Windows kernel code: include <ntddk.h> before this header.
#ifndef QUORVENAL_WINDOW_PLACE_H
#define QUORVENAL_WINDOW_PLACE_H

// Of the windows that would begin at bases[0..count) (at most 32), those
// (bit i) whose span from the base to the end of the page at base | place
// meets memory that a function or bridge on bus 0 decodes. One pass over
// bus 0 through the HAL, reads only.
ULONG WindowsMeetingDeviceMemory(const ULONG* bases, ULONG count, ULONG place);
// Whether the page holding the address is (even in part) RAM in the list.
BOOLEAN PageIsRam(const PHYSICAL_MEMORY_RANGE* ram, ULONG physicalAddress);
// Whether the page at base | place may be mapped as the window: it is not
// RAM (FALSE too when the RAM list cannot be had) and no device memory meets
// the span from base to it. PASSIVE_LEVEL.
BOOLEAN WindowPlaceIsClear(ULONG base, ULONG place);

#endif
