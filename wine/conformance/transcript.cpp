#include "transcript.h"

#include <stdio.h>

namespace {

int violations = 0;

}  // namespace

void Report(const char* step, const Outcome& outcome, const Expect& expect, const char* detail) {
    if (outcome.ok) {
        printf("%s\tok%s%s", step, detail[0] ? " " : "", detail);
    } else {
        printf("%s\tfailed error=%lu%s%s", step, (unsigned long)outcome.error, detail[0] ? " " : "", detail);
    }
    bool asExpected =
        (outcome.ok != FALSE) == (expect.ok != FALSE) && (outcome.ok || outcome.error == expect.error);
    if (!asExpected) {
        ++violations;
        if (expect.ok) {
            printf("\tUNEXPECTED: wanted success");
        } else {
            printf("\tUNEXPECTED: wanted error %lu", (unsigned long)expect.error);
        }
    }
    printf("\n");
    fflush(stdout);
}

void Note(const char* step, const char* detail) {
    printf("%s\t%s\n", step, detail);
    fflush(stdout);
}

void Violation(const char* step, const char* reason) {
    ++violations;
    printf("%s\tUNEXPECTED: %s\n", step, reason);
    fflush(stdout);
}

int ViolationCount() { return violations; }

DWORD Fingerprint(const void* bytes, DWORD length) {
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    DWORD hash = 2166136261u;
    for (DWORD i = 0; i < length; ++i) {
        hash = (hash ^ p[i]) * 16777619u;
    }
    return hash;
}
