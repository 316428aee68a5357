// Forced into every source of the test-bed driver: the 32-bit port
// operations become calls into the simulated machine (hardware_shim.cpp)
// instead of the processor's in/out instructions, and CR8 accesses calls into
// the stand-in's IRQL, both of which Wine's driver host cannot execute. Their
// intrinsic definitions are switched off on the command line, so they are
// declared here.
#ifndef QUORVENAL_TESTBED_PORT_IO_H
#define QUORVENAL_TESTBED_PORT_IO_H

#ifdef __cplusplus
extern "C" {
#endif
unsigned long __indword(unsigned short port);
void __outdword(unsigned short port, unsigned long value);
// CR8 holds the IRQL on x86-64: the DDK's KeRaiseIrql/KeLowerIrql read and
// write it (irql_registers.cpp).
unsigned long long __readcr8(void);
void __writecr8(unsigned long long value);
#ifdef __cplusplus
}
#endif

#endif
