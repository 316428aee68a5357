// The driver's 16-bit accesses to memory-mapped configuration. Some
// northbridges accept them only through the AX register, so the value must
// pass through AX whatever the compiler would pick.
//  - 32-bit Windows: the kernel's READ_REGISTER_USHORT/WRITE_REGISTER_USHORT,
//    which mingw-w64's i686 DDK imports from ntoskrnl.exe (its x86 routines
//    move the value through AX).
//  - 64-bit Windows: those accessors are inline plain accesses there (the x64
//    kernel exports none), so the access is written out with AX named.
//  - The stand-in: its own accessors, which check the mapping.
// Include after <ntddk.h>.
#ifndef QUORVENAL_WINDOW_ACCESS_H
#define QUORVENAL_WINDOW_ACCESS_H

#if defined(_WIN64)

inline USHORT WindowRead16(PUSHORT place) {
    USHORT value;
    __asm__ __volatile__("movw %1, %0" : "=a"(value) : "m"(*(volatile USHORT*)place) : "memory");
    return value;
}

// The store is followed by a locked operation, as the kernel's inline
// WRITE_REGISTER_USHORT does, so that it is not held back in a buffer.
inline VOID WindowWrite16(PUSHORT place, USHORT value) {
    __asm__ __volatile__("movw %1, %0\n\tlock orl $0, (%%rsp)"
                         : "=m"(*(volatile USHORT*)place)
                         : "a"(value)
                         : "memory");
}

#else

inline USHORT WindowRead16(PUSHORT place) { return READ_REGISTER_USHORT(place); }
inline VOID WindowWrite16(PUSHORT place, USHORT value) { WRITE_REGISTER_USHORT(place, value); }

#endif

#endif
