// READ_REGISTER_* / WRITE_REGISTER_*, exported to the driver.
#ifndef QVBARE_REGISTERS_H
#define QVBARE_REGISTERS_H

#include <ntddk.h>

extern "C" {
USHORT NTAPI READ_REGISTER_USHORT(volatile USHORT* Register);
VOID NTAPI WRITE_REGISTER_USHORT(volatile USHORT* Register, USHORT Value);
ULONG NTAPI READ_REGISTER_ULONG(volatile ULONG* Register);
VOID NTAPI WRITE_REGISTER_ULONG(volatile ULONG* Register, ULONG Value);
}

#endif
