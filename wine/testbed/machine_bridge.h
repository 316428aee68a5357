// The simulated machine as the test-bed hal.dll reaches it: plain C calls,
// so that the parts built against the real Windows headers (the exports, the
// exception handler, the served kernel routines) and the parts built against
// the stand-in's headers (the machine, the stand-in kernel's HAL reads and
// mappings) meet without sharing a header.
#ifndef QUORVENAL_TESTBED_MACHINE_BRIDGE_H
#define QUORVENAL_TESTBED_MACHINE_BRIDGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Makes the machine of the lspci-format file at `path` the current one; a
// null or empty path keeps the built-in default machine. On failure writes
// why into `error` (of `size` bytes) and returns 0.
int BedLoadMachine(const char* path, char* error, size_t size);

// The stand-in HAL's read of a function's header bytes (PCI configuration
// only): the same answers the stand-in gives the driver.
unsigned long BedHalRead(unsigned long busDataType, unsigned long bus, unsigned long slot, void* buffer,
                         unsigned long offset, unsigned long length);

// The 32-bit port pair of configuration mechanism #1.
uint32_t BedPortRead32(uint16_t port);
void BedPortWrite32(uint16_t port, uint32_t value);

// The stand-in kernel's I/O-space mappings over the machine's physical
// address space: null where nothing is.
void* BedMapIoSpace(uint64_t physical, size_t length);
void BedUnmapIoSpace(void* address, size_t length);

// The machine's RAM ranges (its memory directives), sorted and with
// touching ranges joined: fills up to `capacity` pairs and returns how many
// there are.
size_t BedRamRanges(uint64_t* bases, uint64_t* sizes, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif
