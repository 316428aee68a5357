// The test kernel's record layouts (qemu/include/nt_layout.inc) against the
// DDK headers QUORVENAL.sys is built with: compiled, not run, by the 32-bit
// mingw-w64 compiler. A field out of place fails the compile.
#include <ntddk.h>
#include <ntifs.h>

#include <stddef.h>

#define NT_LAYOUT(Type, Field, Offset) static_assert(offsetof(Type, Field) == (Offset), #Type "." #Field);
#define NT_SIZE(Type, Size) static_assert(sizeof(Type) == (Size), "sizeof " #Type);
#include "nt_layout.inc"
