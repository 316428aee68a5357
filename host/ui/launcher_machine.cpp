#include "launcher_machine.h"

#include "launcher_file.h"

namespace standin {
namespace ui {

std::unique_ptr<Machine> MachineForOption(const std::string& option, std::string* error) {
    std::unique_ptr<Machine> machine;
    std::string why;
    if (option.empty()) {
        machine = DefaultMachine();
        if (!machine) *error = "the embedded default machine cannot be built";
    } else if (option == "sysfs") {
        machine = SysfsMachine(&why);
        if (!machine) *error = "this host's functions cannot be read: " + why;
    } else {
        // A directory, a device or an oversized file is refused by name before it is read.
        std::string text;
        if (ReadLauncherFile(option, "the machine file", kMachineFileLimit, &text, error)) {
            machine = LoadMachineText(text, option, error);
        }
    }
    return machine;
}

}  // namespace ui
}  // namespace standin
