// The stand-in's own options, read by the Linux process entry before the
// program starts (the program itself has none):
//   --machine FILE|sysfs  --script FILE  --report FILE
//   --no-service-rights   --stale-service  --help
#ifndef STANDIN_UI_LAUNCHER_OPTIONS_H
#define STANDIN_UI_LAUNCHER_OPTIONS_H

#include <string>

#include "dialog_controls.h"

namespace standin {
namespace ui {

struct LauncherOptions {
    std::string machine;  // empty: the embedded default machine; "sysfs": this host's functions
    std::string script;   // empty: interactive, in the terminal
    std::string report;   // empty: standard error when headless, none when interactive
    bool noServiceRights = false;
    bool staleService = false;
    bool help = false;
};

// Parses argv[1..]. On a bad option returns false with *error saying why.
bool ParseLauncherOptions(int argc, char** argv, LauncherOptions* options, std::string* error);

// The whole life of the process: options, machine, process options, front
// end, then `entry` (the program's WinMain); `controls` are the dialog's for
// a headless run. Bad options, an unreadable or malformed machine file or
// script: a message on stderr and 2, nothing run.
int RunStandInProgram(int argc, char** argv, const DialogControls& controls, int (*entry)());

}  // namespace ui
}  // namespace standin

#endif
