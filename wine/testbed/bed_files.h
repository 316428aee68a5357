// Where the test-bed parts in the Wine prefix meet the scripts that set the
// prefix up: the machine file the driver host serves, and the log into which
// the parts in the driver host write what they did and what went wrong.
#ifndef QUORVENAL_TESTBED_BED_FILES_H
#define QUORVENAL_TESTBED_BED_FILES_H

#define kBedMachineFile "C:\\quorvenal-bed\\machine.lspci"
#define kBedLogFile "C:\\quorvenal-bed\\driver-host.log"

#endif
