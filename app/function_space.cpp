#include "function_space.h"

#include <string.h>

#include "class_code.h"

FunctionSpaceOutcome ReadFunctionSpaceOutcome(QvU32 bus, QvU32 device, QvU32 function, ConfigRequest* header,
                                              ExtConfigRequest* extended, bool* express) {
    memset(header, 0, sizeof *header);
    memset(extended, 0, sizeof *extended);
    *express = false;

    header->Bus = bus;
    header->Device = device;
    header->Function = function;
    if (!SendDriverRequest(IOCTL_READ_CONFIG, header, sizeof *header)) return kSpaceRequestFailed;
    if (!FunctionAnswered(*header)) return kSpaceAbsent;

    *express = ClassifyCapabilities(header->Data) == kCapPciExpress;
    if (*express) {
        extended->Bus = bus;
        extended->Device = device;
        extended->Function = function;
        if (!SendDriverRequest(IOCTL_READ_EXT_CONFIG, extended, sizeof *extended)) return kSpaceRequestFailed;
        if (extended->Result != kResultExtDone) return kSpaceNoExtended;
    }
    return kSpaceComplete;
}

bool ReadFunctionSpace(QvU32 bus, QvU32 device, QvU32 function, ConfigRequest* header,
                       ExtConfigRequest* extended, bool* express) {
    return ReadFunctionSpaceOutcome(bus, device, function, header, extended, express) == kSpaceComplete;
}
