// The conformance transcript: one line per step, "step<TAB>observation", and
// a mark on every observation that breaks the rule the step checks. The same
// program run against two implementations of Windows must print the same
// lines; a marked line fails the run on its own.
#ifndef QUORVENAL_CONFORMANCE_TRANSCRIPT_H
#define QUORVENAL_CONFORMANCE_TRANSCRIPT_H

#include <windows.h>

// What a call returned, as a client sees it.
struct Outcome {
    BOOL ok;
    DWORD error;     // GetLastError after a failure, 0 after a success
    DWORD returned;  // bytes the call reported (device control only)
};

// Expected outcome of a step: success, or failure with this error.
struct Expect {
    BOOL ok;
    DWORD error;
};

inline Expect ExpectOk() { return Expect{TRUE, 0}; }
inline Expect ExpectError(DWORD error) { return Expect{FALSE, error}; }

// Prints "step<TAB>ok ..." or "step<TAB>failed error=N ..." followed by the
// detail text, and marks the line when the outcome is not the expected one.
void Report(const char* step, const Outcome& outcome, const Expect& expect, const char* detail);
// Prints a line of plain observations (no rule attached).
void Note(const char* step, const char* detail);
// Marks a step whose observation contradicts a rule, with the reason.
void Violation(const char* step, const char* reason);

// Number of marked lines so far.
int ViolationCount();

// FNV-1a of a byte range, to show contents compactly.
DWORD Fingerprint(const void* bytes, DWORD length);

#endif
