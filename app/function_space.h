// Reading one function as the register view and the slots need it.
#ifndef QUORVENAL_FUNCTION_SPACE_H
#define QUORVENAL_FUNCTION_SPACE_H

#include "driver_request.h"

// Reads the header and, for a function whose capabilities classify it as PCI
// Express, the extended space. Both records are zero-filled first, so for any
// other function *extended stays zero. Returns true when everything needed was
// read; false when a request was not answered (already reported), no function
// answered, or the extended read found no memory-mapped base.
bool ReadFunctionSpace(QvU32 bus, QvU32 device, QvU32 function, ConfigRequest* header,
                       ExtConfigRequest* extended, bool* express);

#endif
