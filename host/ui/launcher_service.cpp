#include "launcher_service.h"

#include <windows.h>
#include <winioctl.h>
#include <unistd.h>

#include <climits>

#include "quorvenal_ioctl.h"
#include "win32/process_options.h"

namespace standin {
namespace ui {

bool StartStaleService(std::string* error) {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof(cwd))) {
        *error = "the current directory cannot be read";
        return false;
    }
    std::string image = WindowsPathOf(std::string(cwd) + "/" QUORVENAL_DRIVER_NAME ".sys");
    DWORD status = RegisterRunningService(QUORVENAL_DRIVER_NAME, image);
    if (status != 0) {
        *error = "the service left from an earlier run cannot be started from " + image + " (error " +
                 std::to_string(status) + ")";
        return false;
    }
    return true;
}

}  // namespace ui
}  // namespace standin
