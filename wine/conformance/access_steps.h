// What a handle's access lets a client do with the driver. Handles opened for
// reading only and for writing only both open and read; the writing one
// writes. What the two write codes do on the reading handle is observed, not
// ruled on ("handle access:" lines): the driver refuses them (error 5) only
// where the system hands it, at the open, the access it granted. Windows and
// the stand-in do; Wine hands it none.
#ifndef QUORVENAL_CONFORMANCE_ACCESS_STEPS_H
#define QUORVENAL_CONFORMANCE_ACCESS_STEPS_H

#include "request_steps.h"

void StepHandleAccess(const ScanFindings& findings);

#endif
