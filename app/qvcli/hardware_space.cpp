#include "hardware_space.h"

#include <string.h>

FunctionSpaceOutcome ReadHardwareSpace(const PciAddress& address, SpaceImage* image) {
    memset(image, 0, sizeof *image);
    image->Address = address;

    ConfigRequest header;
    ExtConfigRequest extended;
    bool express = false;
    FunctionSpaceOutcome outcome =
        ReadFunctionSpaceOutcome(address.Bus, address.Device, address.Function, &header, &extended, &express);
    if (outcome != kSpaceComplete && outcome != kSpaceNoExtended) return outcome;

    memcpy(image->Bytes, header.Data, kConfigHeaderBytes);
    memset(image->RowGiven, 1, kHeaderRows);
    if (outcome == kSpaceComplete && express) {
        memcpy(image->Bytes + kConfigHeaderBytes, extended.ExtData, kExtConfigBytes);
        memset(image->RowGiven + kHeaderRows, 1, kSpaceRows - kHeaderRows);
    }
    return outcome;
}
