// The driver host's log (kBedLogFile), one line an event, and the test bed's
// stop: a fault that would stop real Windows (a bug check) is written to the
// log and ends the driver host at once, so that the driver's clients see it
// fail instead of going on with a broken driver.
#ifndef QUORVENAL_TESTBED_BED_LOG_H
#define QUORVENAL_TESTBED_BED_LOG_H

void BedLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void BedStop(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif
