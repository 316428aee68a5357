// What the kernel's image loader meets when it opens a driver file: the
// sharing of the handles the process holds on it.
#ifndef STANDIN_WIN32_FILE_SHARING_H
#define STANDIN_WIN32_FILE_SHARING_H

#include <windows.h>

#include <string>

namespace standin {

// ERROR_SHARING_VIOLATION when a handle open on the file forbids the
// loader's open (for execution, sharing reading and deleting): one that
// does not share reading, or one open for writing. ERROR_SUCCESS otherwise.
DWORD CheckImageLoadSharing(const std::string& linuxPath);

}  // namespace standin

#endif
