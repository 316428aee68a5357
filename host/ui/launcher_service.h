// --stale-service, for both launchers: the driver's service as an earlier run
// can leave it, registered and running, its image the driver file of the
// current directory.
#ifndef STANDIN_UI_LAUNCHER_SERVICE_H
#define STANDIN_UI_LAUNCHER_SERVICE_H

#include <string>

namespace standin {
namespace ui {

// False with *error (the message, without the program's name) when the
// current directory cannot be read or the service cannot be started.
bool StartStaleService(std::string* error);

}  // namespace ui
}  // namespace standin

#endif
