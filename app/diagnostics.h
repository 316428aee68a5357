// The program's diagnostic lines ("OpenService failed!  Error = 1060 ", ...).
// They go to standard output, where the dialog program has always written
// them; a console program that keeps standard output for its results sends
// them elsewhere or drops them.
#ifndef QUORVENAL_DIAGNOSTICS_H
#define QUORVENAL_DIAGNOSTICS_H

#include <stdio.h>

// printf to the diagnostic stream.
void PrintDiagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

// From now on diagnostics go to stream; NULL drops them.
void SetDiagnosticStream(FILE* stream);

#endif
