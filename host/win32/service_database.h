// What the device side of the Win32 layer tells the service manager: that a
// device handle has closed, so that a stop that waited may now be complete.
#ifndef STANDIN_WIN32_SERVICE_DATABASE_H
#define STANDIN_WIN32_SERVICE_DATABASE_H

namespace standin {

// Marks the services whose stop was waiting as stopped, once the process
// holds no device handle any more (the kernel has unloaded their drivers).
void CompletePendingStops();

}  // namespace standin

#endif
