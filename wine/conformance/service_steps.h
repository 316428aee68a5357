// The service control manager as any client drives it: each step makes one
// call, prints one transcript line and returns what it saw.
#ifndef QUORVENAL_CONFORMANCE_SERVICE_STEPS_H
#define QUORVENAL_CONFORMANCE_SERVICE_STEPS_H

#include <windows.h>

#include "transcript.h"

// The driver's image path: the current directory, a backslash and the file
// name. False (and a transcript line) when the directory cannot be read or
// the path does not fit.
bool DriverImagePath(const char* fileName, char* path, DWORD size);

SC_HANDLE StepOpenManager(const char* step);
Outcome StepCreateService(const char* step, SC_HANDLE manager, const char* name, const char* path,
                          const Expect& expect);
Outcome StepStartService(const char* step, SC_HANDLE manager, const char* name, const Expect& expect);
Outcome StepStopService(const char* step, SC_HANDLE manager, const char* name, const Expect& expect);
Outcome StepDeleteService(const char* step, SC_HANDLE manager, const char* name, const Expect& expect);
Outcome StepOpenService(const char* step, SC_HANDLE manager, const char* name, const Expect& expect);

// Stop and delete, ignoring the outcome: clears a service left by an earlier
// run. Prints nothing.
void RemoveQuietly(SC_HANDLE manager, const char* name);

#endif
