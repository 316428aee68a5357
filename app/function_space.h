// Reading one function as the register view and the slots need it.
#ifndef QUORVENAL_FUNCTION_SPACE_H
#define QUORVENAL_FUNCTION_SPACE_H

#include "driver_request.h"

// How a read of one function's space ended.
enum FunctionSpaceOutcome {
    kSpaceComplete = 0,       // everything needed was read
    kSpaceRequestFailed = 1,  // a request was not answered (already reported)
    kSpaceAbsent = 2,         // no function answered
    kSpaceNoExtended = 3,     // the header was read; the extended read found no memory-mapped base
};

// Reads the header and, for a function whose capabilities classify it as PCI
// Express, the extended space. Both records are zero-filled first, so for any
// other function *extended stays zero.
FunctionSpaceOutcome ReadFunctionSpaceOutcome(QvU32 bus, QvU32 device, QvU32 function, ConfigRequest* header,
                                              ExtConfigRequest* extended, bool* express);

// The same, true when everything needed was read.
bool ReadFunctionSpace(QvU32 bus, QvU32 device, QvU32 function, ConfigRequest* header,
                       ExtConfigRequest* extended, bool* express);

#endif
