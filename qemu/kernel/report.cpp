#include "report.h"

#include "serial.h"

namespace {
ULONG gRun;
ULONG gFailed;
}  // namespace

bool Check(bool ok, const char* name, const char* detailFormat, ...) {
    ++gRun;
    if (ok) {
        SerialPrint("CHECK PASS %s\n", name);
        return true;
    }
    ++gFailed;
    SerialPrint("CHECK FAIL %s: ", name);
    va_list arguments;
    va_start(arguments, detailFormat);
    SerialPrintV(detailFormat, arguments);
    va_end(arguments);
    SerialPrint("\n");
    return false;
}

void Note(const char* format, ...) {
    SerialPrint("QV: ");
    va_list arguments;
    va_start(arguments, format);
    SerialPrintV(format, arguments);
    va_end(arguments);
    SerialPrint("\n");
}

void SynchroniseWithHost(const char* what) {
    SerialPrint("SYNC %s\n", what);
    if (SerialReceive(400000000u) < 0) Note("no answer from the host; going on");
}

ULONG ChecksRun() { return gRun; }
ULONG ChecksFailed() { return gFailed; }
