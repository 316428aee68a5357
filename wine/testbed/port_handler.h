// The driver host's first vectored exception handler, for the privileged
// instructions of the driver (which a user-mode process may not execute):
//  - a port instruction on the address and data registers of configuration
//    mechanism #1 (0xCF8 and 0xCFC, 4 bytes) is carried out on the simulated
//    machine;
//  - on x64, a move to or from CR8 reads or sets the thread's interrupt
//    request level (irql.h): the x64 kernel keeps the IRQL there, and the
//    DDK's KeRaiseIrql/KeLowerIrql are such moves;
// and execution goes on after the instruction. Any other port access or
// control register is logged and left to Wine, which ends the process.
#ifndef QUORVENAL_TESTBED_PORT_HANDLER_H
#define QUORVENAL_TESTBED_PORT_HANDLER_H

bool InstallPortHandler();

#endif
