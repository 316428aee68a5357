// A request packet as the stand-in I/O manager builds it: the IRP, its one
// stack location, and what the I/O manager learns when it is completed.
#ifndef STANDIN_IO_REQUEST_H
#define STANDIN_IO_REQUEST_H

#include <ntddk.h>

#include <cstddef>
#include <cstring>

namespace standin {

struct IoRequest {
    IRP irp;  // first, so that an IRP pointer leads back to its request
    IO_STACK_LOCATION stack;
    bool completed = false;
    CHAR priorityBoost = 0;
    IO_STATUS_BLOCK completion = {};  // IoStatus as it stood when the request was completed

    IoRequest() {
        std::memset(&irp, 0, sizeof irp);
        std::memset(&stack, 0, sizeof stack);
        irp.Type = 6;  // IO_TYPE_IRP
        irp.Size = sizeof(IRP);
        irp.Tail.Overlay.CurrentStackLocation = &stack;
    }
};

inline IoRequest* RequestOf(PIRP irp) {
    return reinterpret_cast<IoRequest*>(reinterpret_cast<char*>(irp) - offsetof(IoRequest, irp));
}

}  // namespace standin

#endif
