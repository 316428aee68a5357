// Formatting into a fixed buffer: %s, %u, %x (32-bit), %%. Always terminated.
#ifndef QVBARE_TEXT_H
#define QVBARE_TEXT_H

#include <ntddk.h>

void TextFormat(char* out, ULONG capacity, const char* format, ...);

// Case-insensitive comparison of two NUL-terminated ASCII names.
bool TextSameName(const char* a, const char* b);
// Exact comparison.
bool TextEqual(const char* a, const char* b);

#endif
