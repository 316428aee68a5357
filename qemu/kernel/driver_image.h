// QUORVENAL.sys as the test kernel runs it: the file handed in as a Multiboot
// module, loaded byte for byte by the PE loader into memory set aside for it,
// and called only through its entry point and the routines it puts in the
// driver object. Where the checks need to see inside the driver (its
// EcamBase, which routines it installed), they use the addresses of its
// symbols, read by the host from the debug file built beside the driver and
// given on the command line as sym.NAME=<rva>.
#ifndef QVBARE_DRIVER_IMAGE_H
#define QVBARE_DRIVER_IMAGE_H

#include <ntddk.h>

#include "pe_image.h"

// The file as handed in; nothing is loaded yet.
void DriverFileSet(const UCHAR* bytes, ULONG size);
const UCHAR* DriverFile();
ULONG DriverFileSize();

// Maps a fresh copy of the file, as the system does for each load of the
// service; false (with the loader's reason) when it cannot be loaded.
bool DriverImageLoad();
const PeImage& DriverImage();

// Overwrites the image's discardable sections, as the system frees them after
// DriverEntry returns; returns the bytes discarded.
ULONG DriverImageDiscardInit();

// Takes the sym.NAME=<hex rva> words of the command line.
void DriverSymbolsParse(const char* commandLine);
// The loaded address of a symbol, or null when it was not given.
PVOID DriverSymbol(const char* name);

// The driver's EcamBase, read where its symbol says (0 when unknown).
ULONG DriverEcamBase();

// Calls into the driver through its entry point and the routines it
// installed, checking each call kept the stdcall convention.
NTSTATUS CallDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
VOID CallDriverUnload(PDRIVER_OBJECT driver);
NTSTATUS CallDispatch(PDRIVER_DISPATCH routine, PDEVICE_OBJECT device, PIRP irp);
// A routine the driver hands the kernel to call back (a broadcast routine).
ULONG_PTR CallDriverCallback(PKIPI_BROADCAST_WORKER routine, ULONG_PTR argument);

// Calls that broke the convention since the start, and what the last one did
// (bit 0: arguments not removed; bit 1: EBX/ESI/EDI changed; bit 2: EBP).
ULONG DriverCallsBroken();
ULONG DriverLastBreak();
const char* DriverLastBrokenRoutine();

#endif
