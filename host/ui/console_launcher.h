// The Linux process entry of the console program qvcli: the stand-in's
// options that come first on the command line, then the program with the
// rest of it.
//   --machine FILE|sysfs  --no-service-rights  --stale-service
#ifndef STANDIN_UI_CONSOLE_LAUNCHER_H
#define STANDIN_UI_CONSOLE_LAUNCHER_H

#include <cstdio>

namespace standin {
namespace ui {

using ConsoleEntry = int (*)(int argc, char** argv, FILE* out, FILE* err);

// Bad options or an unreadable or malformed machine file: a message on
// standard error and 2, nothing run. Otherwise the program's exit status.
int RunStandInConsole(int argc, char** argv, ConsoleEntry entry);

}  // namespace ui
}  // namespace standin

#endif
