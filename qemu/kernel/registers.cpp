// The kernel's device-memory accessors as 32-bit Windows exports them: one
// access of the given width, the value through EAX/AX/AL, which is what the
// chipsets that accept memory-mapped configuration only through EAX need.
#include <ntddk.h>

#include "registers.h"

extern "C" {

USHORT NTAPI READ_REGISTER_USHORT(volatile USHORT* Register) {
    USHORT value;
    __asm__ __volatile__("movw (%1), %0" : "=a"(value) : "r"(Register) : "memory");
    return value;
}

VOID NTAPI WRITE_REGISTER_USHORT(volatile USHORT* Register, USHORT Value) {
    __asm__ __volatile__("movw %0, (%1)" : : "a"(Value), "r"(Register) : "memory");
}

ULONG NTAPI READ_REGISTER_ULONG(volatile ULONG* Register) {
    ULONG value;
    __asm__ __volatile__("movl (%1), %0" : "=a"(value) : "r"(Register) : "memory");
    return value;
}

VOID NTAPI WRITE_REGISTER_ULONG(volatile ULONG* Register, ULONG Value) {
    __asm__ __volatile__("movl %0, (%1)" : : "a"(Value), "r"(Register) : "memory");
}

}  // extern "C"
