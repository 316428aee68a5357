// The driver host's first vectored exception handler: a port instruction of
// the driver (which a user-mode process may not execute) on the address and
// data registers of configuration mechanism #1 (0xCF8 and 0xCFC, 4 bytes)
// is carried out on the simulated machine and execution goes on after it.
// Any other port access is logged and left to Wine, which ends the process.
#ifndef QUORVENAL_TESTBED_PORT_HANDLER_H
#define QUORVENAL_TESTBED_PORT_HANDLER_H

bool InstallPortHandler();

#endif
