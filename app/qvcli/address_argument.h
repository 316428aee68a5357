// A function address given on the command line: bus:device.function in
// hexadecimal, of domain 0000, the only one the driver reaches.
#ifndef QVCLI_ADDRESS_ARGUMENT_H
#define QVCLI_ADDRESS_ARGUMENT_H

#include <stdio.h>

#include "pci_address.h"

// Reads text into *address; says on err what is wrong with it otherwise.
bool ReadAddressArgument(const char* text, PciAddress* address, FILE* err);

#endif
