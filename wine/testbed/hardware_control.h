// The pipe between the test-bed program's script driver and the simulated
// hardware in the driver host (see hardware_control.cpp).
#ifndef QUORVENAL_TESTBED_HARDWARE_CONTROL_H
#define QUORVENAL_TESTBED_HARDWARE_CONTROL_H

#define kHardwarePipeName "\\\\.\\pipe\\quorvenal-hardware"

// Starts the server thread of the pipe (in the driver host).
bool StartHardwareControl();

#endif
