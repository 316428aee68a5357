#include "win32/process_options.h"

#include <atomic>

#include "win32/handle_table.h"
#include "win32/path_mapping.h"
#include "kernel/security.h"

namespace standin {
namespace {
std::atomic<bool> administrator{true};
}

void SetAdministrator(bool value) {
    administrator = value;
    SetCallerToken(value ? CallerToken::Administrator : CallerToken::User);
}

bool IsAdministrator() { return administrator.load(); }

size_t OpenHandleCount() {
    size_t count = 0;
    ForEachHandle([&count](HandleObject&) { ++count; });
    return count;
}

std::string WindowsPathOf(const std::string& linuxPath) { return LinuxToWindowsPath(linuxPath); }

}  // namespace standin
