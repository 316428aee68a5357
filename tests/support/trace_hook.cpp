// Linked into a copy of the program for tests only: records every driver
// request the program sends and every configuration write that reaches the
// simulated machine, in the order they happen, one line each, into the file
// named by QUORVENAL_TRACE. The program itself is unchanged; the link wraps
// DeviceIoControl to get here.
//
//   request CODE BB:DD.F        (CODE in upper-case hexadecimal)
//   split buffers               (the request's input and output buffers differ)
//   unclean record: byte N is X (a byte the program should have left zero)
//   write ports|ecam|hw BB:DD.F OFFSET SIZE
// (hw: a write the script's `hw` actions made, which tests use as markers)
#include <windows.h>
#include <winioctl.h>

#include <stdio.h>
#include <stdlib.h>

#include "../../ioctl/sys/quorvenal_ioctl.h"
#include "machine/machine.h"

namespace {

FILE* TraceFile() {
    static FILE* file = nullptr;
    static bool opened = false;
    if (!opened) {
        opened = true;
        const char* path = getenv("QUORVENAL_TRACE");
        if (path && *path) file = fopen(path, "w");
    }
    return file;
}

void RecordWrite(FILE* file, const standin::ConfigWrite& write) {
    const char* path = write.path == standin::WritePath::Ports  ? "ports"
                       : write.path == standin::WritePath::Ecam ? "ecam"
                                                                : "hw";
    fprintf(file, "write %s %02x:%02x.%x %03x %u\n", path, write.address.bus, write.address.device,
            write.address.function, write.offset, write.size);
    fflush(file);
}

}  // namespace

extern "C" BOOL __real_DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped);

extern "C" BOOL __wrap_DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    FILE* file = TraceFile();
    if (file) {
        // The machine is in place by the first request; watch it from then on.
        static bool watching = false;
        if (!watching) {
            watching = true;
            standin::CurrentMachine().SetWriteObserver(
                [file](const standin::ConfigWrite& write) { RecordWrite(file, write); });
        }
        const QvU32* address = static_cast<const QvU32*>(in);
        if (in && inSize >= 12) {
            fprintf(file, "request %X %02x:%02x.%x\n", (unsigned)code, address[0], address[1], address[2]);
            // The program's request pattern: one record as input and output
            // buffer of equal length, zero but for the fields it sets.
            if (in != out || inSize != outSize) fprintf(file, "split buffers\n");
            DWORD dataEnd = 12;
            if (code == IOCTL_WRITE_CONFIG) dataEnd = 268;
            if (code == IOCTL_WRITE_EXT_CONFIG) dataEnd = 3852;
            const unsigned char* bytes = static_cast<const unsigned char*>(in);
            for (DWORD i = dataEnd; i < inSize; ++i) {
                if (bytes[i] != 0) {
                    fprintf(file, "unclean record: byte %lu is %02x\n", (unsigned long)i, bytes[i]);
                    break;
                }
            }
            fflush(file);
        }
    }
    return __real_DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}
