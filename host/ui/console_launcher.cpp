#include "console_launcher.h"

#include <cstring>
#include <string>
#include <vector>

#include "launcher_machine.h"
#include "launcher_service.h"
#include "win32/device_api.h"
#include "win32/process_options.h"

namespace standin {
namespace ui {
namespace {

int Refuse(const std::string& message) {
    fprintf(stderr, "qvcli: %s\n", message.c_str());
    return 2;
}

}  // namespace

int RunStandInConsole(int argc, char** argv, ConsoleEntry entry) {
    std::string machineOption;
    bool seenMachine = false;
    bool noServiceRights = false;
    bool staleService = false;
    int first = 1;
    for (; first < argc; ++first) {
        if (std::strcmp(argv[first], "--machine") == 0) {
            if (seenMachine) return Refuse("option --machine given twice");
            if (first + 1 >= argc || argv[first + 1][0] == '\0')
                return Refuse("option --machine needs a value");
            machineOption = argv[++first];
            seenMachine = true;
        } else if (std::strcmp(argv[first], "--no-service-rights") == 0) {
            noServiceRights = true;
        } else if (std::strcmp(argv[first], "--stale-service") == 0) {
            staleService = true;
        } else {
            break;
        }
    }

    std::string error;
    std::unique_ptr<Machine> machine = MachineForOption(machineOption, &error);
    if (!machine) return Refuse(error);
    SetCurrentMachine(std::move(machine));
    if (staleService && !StartStaleService(&error)) return Refuse(error);
    if (noServiceRights) SetAdministrator(false);

    std::vector<char*> programArgs;
    programArgs.push_back(argv[0]);
    for (int i = first; i < argc; ++i) programArgs.push_back(argv[i]);
    programArgs.push_back(nullptr);
    int status = entry(static_cast<int>(programArgs.size() - 1), programArgs.data(), stdout, stderr);
    fflush(stdout);
    // The process's device handles close as it ends, as on Windows.
    CloseAllDeviceHandles();
    return status;
}

}  // namespace ui
}  // namespace standin
