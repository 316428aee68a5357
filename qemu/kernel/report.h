// Check results, written to the serial port one line each:
//   CHECK PASS <name>
//   CHECK FAIL <name>: <what was seen>
// and informational lines "QV: ...".
#ifndef QVBARE_REPORT_H
#define QVBARE_REPORT_H

#include <ntddk.h>

// Records one check; the detail is printed only on failure. Returns `ok`.
bool Check(bool ok, const char* name, const char* detailFormat, ...) __attribute__((format(printf, 3, 4)));
void Note(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints "SYNC <what>" and waits for the host to answer with one byte on
// the serial port, while it takes its own view of the machine.
void SynchroniseWithHost(const char* what);

ULONG ChecksRun();
ULONG ChecksFailed();

#endif
