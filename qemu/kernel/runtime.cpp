// The C library routines the compiler and the driver may call. Compiled with
// -fno-tree-loop-distribute-patterns so that these loops stay loops.
#include <ntddk.h>

extern "C" {

void* memset(void* destination, int value, size_t count) {
    UCHAR* d = (UCHAR*)destination;
    for (size_t i = 0; i < count; ++i) d[i] = (UCHAR)value;
    return destination;
}

void* memcpy(void* destination, const void* source, size_t count) {
    UCHAR* d = (UCHAR*)destination;
    const UCHAR* s = (const UCHAR*)source;
    for (size_t i = 0; i < count; ++i) d[i] = s[i];
    return destination;
}

void* memmove(void* destination, const void* source, size_t count) {
    UCHAR* d = (UCHAR*)destination;
    const UCHAR* s = (const UCHAR*)source;
    if (d < s) {
        for (size_t i = 0; i < count; ++i) d[i] = s[i];
    } else {
        for (size_t i = count; i > 0; --i) d[i - 1] = s[i - 1];
    }
    return destination;
}

int memcmp(const void* left, const void* right, size_t count) {
    const UCHAR* a = (const UCHAR*)left;
    const UCHAR* b = (const UCHAR*)right;
    for (size_t i = 0; i < count; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

// Pure virtual calls and guard variables do not occur in this kernel; should
// the compiler ask for them, the link fails rather than the kernel.
}
