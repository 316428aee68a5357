// The C library routines the test kernel's compiler may call. Compiled with
// -fno-tree-loop-distribute-patterns so that these loops stay loops. memcpy
// and memset move doublewords with the string instructions: the I/O manager
// copies every request record with them, and a byte loop there would be
// counted against the driver in the timed scan.
#include <ntddk.h>

extern "C" {

void* memset(void* destination, int value, size_t count) {
    ULONG pattern = (UCHAR)value * 0x01010101u;
    void* d = destination;
    size_t dwords = count / 4;
    size_t bytes = count % 4;
    __asm__ __volatile__("cld; rep stosl" : "+D"(d), "+c"(dwords) : "a"(pattern) : "memory");
    __asm__ __volatile__("rep stosb" : "+D"(d), "+c"(bytes) : "a"(pattern) : "memory");
    return destination;
}

void* memcpy(void* destination, const void* source, size_t count) {
    void* d = destination;
    const void* s = source;
    size_t dwords = count / 4;
    size_t bytes = count % 4;
    __asm__ __volatile__("cld; rep movsl" : "+D"(d), "+S"(s), "+c"(dwords) : : "memory");
    __asm__ __volatile__("rep movsb" : "+D"(d), "+S"(s), "+c"(bytes) : : "memory");
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
