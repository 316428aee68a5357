// The processor set-up that lets the test kernel see the driver's own port
// instructions: a GDT with ring-3 segments and a task state segment whose I/O
// permission bitmap refuses ports 0xCF8..0xCFF, an IDT for the exceptions,
// and the checks run in ring 3. Each access to those ports then raises a
// general-protection fault; the handler performs the access in ring 0,
// counts it as the driver's when the instruction lies in the driver's image,
// and goes on after it. Any other exception stops the run with its place.
#ifndef QVBARE_CPU_H
#define QVBARE_CPU_H

#include <ntddk.h>

// Sets up the tables (in ring 0); then `continuation` runs in ring 3.
[[noreturn]] void CpuRunInRing3(void (*continuation)());

// Whether port accesses to 0xCF8..0xCFF go through the fault handler (on
// from the start). Off, they run at the processor's own speed, uncounted.
void CpuTrapConfigPorts(bool on);

// Port instructions at 0xCF8..0xCFF emulated so far, and how many of them
// lay in the driver's image.
ULONG CpuPortTraps();
ULONG CpuDriverPortTraps();

#endif
