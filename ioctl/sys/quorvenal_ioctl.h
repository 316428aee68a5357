// Request records and control codes exchanged between quorvenal.exe and
// QUORVENAL.sys. Both deliverables build against this one header.
//
// Include <windows.h> and <winioctl.h> (program) or <ntddk.h> (driver)
// before this header: the control codes are built with CTL_CODE.
#ifndef QUORVENAL_IOCTL_H
#define QUORVENAL_IOCTL_H

#include <stddef.h>

typedef unsigned int QvU32;  // 32 bits on every target we build for
typedef unsigned char QvU8;

enum {
    kConfigHeaderBytes = 256,  // offsets 0x00..0xFF
    kExtConfigBytes = 3840,    // offsets 0x100..0xFFF
    kConfigRequestBytes = 272,
    kExtConfigRequestBytes = 3856,
};

// Standard record: the 256-byte header of one function.
typedef struct ConfigRequest {
    QvU32 Bus;
    QvU32 Device;
    QvU32 Function;
    QvU8 Data[kConfigHeaderBytes];
    QvU32 Result;  // filled by the driver; what it means depends on the control code (below)
} ConfigRequest;

// Extended record: configuration offsets 0x100..0xFFF of one function.
typedef struct ExtConfigRequest {
    QvU32 Bus;
    QvU32 Device;
    QvU32 Function;
    QvU8 ExtData[kExtConfigBytes];
    QvU32 Result;  // filled by the driver: kResultExtDone or kResultExtNoBase
} ExtConfigRequest;

// Byte-range read, IOCTL_READ_CONFIG_RANGE: overlays a ConfigRequest.
typedef struct ConfigRangeRequest {
    QvU32 Bus;
    QvU32 Device;
    QvU32 Function;
    QvU32 Offset;
    QvU32 Length;
    QvU8 Bytes[4];
    QvU8 Unused[244];
    QvU32 Result;  // filled by the driver: the count of bytes read
} ConfigRangeRequest;

// Byte-range read, IOCTL_READ_CONFIG_RANGE2: the same with every field after
// Function moved four bytes on.
typedef struct ConfigRangeRequest2 {
    QvU32 Bus;
    QvU32 Device;
    QvU32 Function;
    QvU32 Reserved;
    QvU32 Offset;
    QvU32 Length;
    QvU8 Bytes[4];
    QvU8 Unused[240];
    QvU32 Result;  // filled by the driver: the count of bytes read
} ConfigRangeRequest2;

#define QUORVENAL_DEVICE_TYPE 0x22 /* FILE_DEVICE_UNKNOWN */

// What the driver leaves in Result. Result means something only when the
// request itself succeeded: a failed request returns no record.
enum {
    kResultNoBus = 0,          // standard read: the bus does not exist
    kResultNoFunction = 2,     // standard read: nothing answers there, Data begins with 0xFFFF
    kResultHeaderWritten = 1,  // header write: always
    kResultExtDone = 0,        // extended read or write: the whole space was moved
    kResultExtNoBase = 1,      // extended read or write: no memory-mapped base is known, or the
                               // window at the known base did not confirm the function (its
                               // identifiers are not at its place there); nothing was moved
                               // and ExtData comes back as sent
};

// Result: kResultNoBus, kResultNoFunction, or the count of bytes read (256).
#define IOCTL_READ_CONFIG CTL_CODE(QUORVENAL_DEVICE_TYPE, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Result: kResultHeaderWritten.
#define IOCTL_WRITE_CONFIG CTL_CODE(QUORVENAL_DEVICE_TYPE, 0x901, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Result: the count of bytes the platform's read reports.
#define IOCTL_READ_CONFIG_RANGE CTL_CODE(QUORVENAL_DEVICE_TYPE, 0x902, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Result: as IOCTL_READ_CONFIG_RANGE.
#define IOCTL_READ_CONFIG_RANGE2 CTL_CODE(QUORVENAL_DEVICE_TYPE, 0x903, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Result: kResultExtDone or kResultExtNoBase.
#define IOCTL_READ_EXT_CONFIG CTL_CODE(QUORVENAL_DEVICE_TYPE, 0x904, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Result: kResultExtDone or kResultExtNoBase.
#define IOCTL_WRITE_EXT_CONFIG CTL_CODE(QUORVENAL_DEVICE_TYPE, 0x905, METHOD_BUFFERED, FILE_ANY_ACCESS)

// The driver's one name: the kernel service that loads it (also its display
// name), the base name of its file QUORVENAL.sys, and its kernel device and link.
#define QUORVENAL_DRIVER_NAME "QUORVENAL"
#define QUORVENAL_DEVICE_NAME L"\\Device\\" QUORVENAL_DRIVER_NAME
#define QUORVENAL_LINK_NAME L"\\DosDevices\\" QUORVENAL_DRIVER_NAME
// The link as user mode opens it, spelt as the program always has.
#define QUORVENAL_USER_DEVICE "\\\\.\\QuorVenal"

// The wire format is fixed: every offset and both sizes, checked at compile time.
static_assert(sizeof(QvU32) == 4, "32-bit field");
static_assert(sizeof(ConfigRequest) == 272, "ConfigRequest size");
static_assert(sizeof(ExtConfigRequest) == 3856, "ExtConfigRequest size");
static_assert(sizeof(ConfigRangeRequest) == 272, "ConfigRangeRequest size");
static_assert(sizeof(ConfigRangeRequest2) == 272, "ConfigRangeRequest2 size");
static_assert(offsetof(ConfigRequest, Bus) == 0, "Bus");
static_assert(offsetof(ConfigRequest, Device) == 4, "Device");
static_assert(offsetof(ConfigRequest, Function) == 8, "Function");
static_assert(offsetof(ConfigRequest, Data) == 12, "Data");
static_assert(offsetof(ConfigRequest, Result) == 268, "Result");
static_assert(offsetof(ExtConfigRequest, Bus) == 0, "Bus");
static_assert(offsetof(ExtConfigRequest, Device) == 4, "Device");
static_assert(offsetof(ExtConfigRequest, Function) == 8, "Function");
static_assert(offsetof(ExtConfigRequest, ExtData) == 12, "ExtData");
static_assert(offsetof(ExtConfigRequest, Result) == 3852, "Result");
static_assert(offsetof(ConfigRangeRequest, Offset) == 12, "Offset");
static_assert(offsetof(ConfigRangeRequest, Length) == 16, "Length");
static_assert(offsetof(ConfigRangeRequest, Bytes) == 20, "Bytes");
static_assert(offsetof(ConfigRangeRequest, Result) == 268, "Result");
static_assert(offsetof(ConfigRangeRequest2, Reserved) == 12, "Reserved");
static_assert(offsetof(ConfigRangeRequest2, Offset) == 16, "Offset");
static_assert(offsetof(ConfigRangeRequest2, Length) == 20, "Length");
static_assert(offsetof(ConfigRangeRequest2, Bytes) == 24, "Bytes");
static_assert(offsetof(ConfigRangeRequest2, Result) == 268, "Result");
static_assert(kResultNoBus == 0 && kResultNoFunction == 2 && kResultHeaderWritten == 1, "Result");
static_assert(kResultExtDone == 0 && kResultExtNoBase == 1, "Result");
static_assert(IOCTL_READ_CONFIG == 0x222400, "code");
static_assert(IOCTL_WRITE_CONFIG == 0x222404, "code");
static_assert(IOCTL_READ_CONFIG_RANGE == 0x222408, "code");
static_assert(IOCTL_READ_CONFIG_RANGE2 == 0x22240C, "code");
static_assert(IOCTL_READ_EXT_CONFIG == 0x222410, "code");
static_assert(IOCTL_WRITE_EXT_CONFIG == 0x222414, "code");

#endif
