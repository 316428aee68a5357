#include "text.h"

#include <stdarg.h>

namespace {

struct Sink {
    char* out;
    ULONG capacity;
    ULONG used;
    void Put(char c) {
        if (used + 1 < capacity) out[used++] = c;
    }
};

void PutNumber(Sink* sink, ULONG value, ULONG base) {
    char digits[12];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0);
    while (count > 0) sink->Put(digits[--count]);
}

}  // namespace

void TextFormat(char* out, ULONG capacity, const char* format, ...) {
    if (capacity == 0) return;
    Sink sink = {out, capacity, 0};
    va_list arguments;
    va_start(arguments, format);
    for (const char* p = format; *p; ++p) {
        if (*p != '%' || p[1] == 0) {
            sink.Put(*p);
            continue;
        }
        ++p;
        if (*p == 's') {
            for (const char* s = va_arg(arguments, const char*); *s; ++s) sink.Put(*s);
        } else if (*p == 'u') {
            PutNumber(&sink, va_arg(arguments, ULONG), 10);
        } else if (*p == 'x') {
            PutNumber(&sink, va_arg(arguments, ULONG), 16);
        } else {
            sink.Put(*p);
        }
    }
    va_end(arguments);
    out[sink.used] = 0;
}

bool TextSameName(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? (char)(*a + 32) : *a;
        char y = *b >= 'A' && *b <= 'Z' ? (char)(*b + 32) : *b;
        if (x != y) return false;
        if (x == 0) return true;
    }
}

bool TextEqual(const char* a, const char* b) {
    for (; *a == *b; ++a, ++b) {
        if (*a == 0) return true;
    }
    return false;
}
