// Reading one function's whole space through the driver into an image, as
// the dialog's slots read it: the header, and the extended space when the
// header's capabilities make it a PCI Express function.
#ifndef QVCLI_HARDWARE_SPACE_H
#define QVCLI_HARDWARE_SPACE_H

#include "../function_space.h"
#include "space_image.h"

// The image's header rows are given after kSpaceComplete and
// kSpaceNoExtended; its extended rows after kSpaceComplete of a PCI Express
// function.
FunctionSpaceOutcome ReadHardwareSpace(const PciAddress& address, SpaceImage* image);

#endif
