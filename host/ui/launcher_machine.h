// The machine a launcher's --machine option names: empty for the embedded
// default machine, "sysfs" for this host's own functions, else a machine file.
#ifndef STANDIN_UI_LAUNCHER_MACHINE_H
#define STANDIN_UI_LAUNCHER_MACHINE_H

#include <memory>
#include <string>

#include "machine/machine.h"

namespace standin {
namespace ui {

// Null with *error (the whole message, e.g. "m.lspci:2: a data line needs 16 bytes") on failure.
std::unique_ptr<Machine> MachineForOption(const std::string& option, std::string* error);

}  // namespace ui
}  // namespace standin

#endif
