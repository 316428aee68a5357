#include "diagnostics.h"

#include <stdarg.h>

namespace {

bool redirected = false;
FILE* diagnosticStream = NULL;  // when redirected; NULL drops

}  // namespace

void PrintDiagnostic(const char* format, ...) {
    FILE* stream = redirected ? diagnosticStream : stdout;
    if (stream == NULL) return;
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stream, format, arguments);
    va_end(arguments);
}

void SetDiagnosticStream(FILE* stream) {
    redirected = true;
    diagnosticStream = stream;
}
