// The bus scan's walk over every bus, device and function number: each
// function that answers is handed to a visitor, in bus, device, function
// order. The dialog's device list and the console program's list and dump
// are built from the same walk, so they list the same functions.
#ifndef QUORVENAL_BUS_WALK_H
#define QUORVENAL_BUS_WALK_H

#include "driver_request.h"

// Called with the header of a function that answered.
typedef void (*FunctionVisitor)(const ConfigRequest& header, void* context);

// Returns false when a request was not answered (its diagnostic printed):
// the walk ends there, the functions visited so far stay visited.
bool WalkBus(FunctionVisitor visit, void* context);

#endif
