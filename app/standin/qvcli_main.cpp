// The Linux process entry of qvcli: the stand-in's options first, then the
// program's own entry, as Windows would call main.
#include "../qvcli/qvcli.h"
#include "ui/console_launcher.h"

int main(int argc, char** argv) { return standin::ui::RunStandInConsole(argc, argv, RunQvcli); }
