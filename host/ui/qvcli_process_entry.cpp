// The Linux process entry of qvcli: the stand-in's options first, then the
// program's own entry, as Windows would call main.
#include <cstdio>

#include "ui/console_launcher.h"

int RunQvcli(int argc, char** argv, FILE* out, FILE* err);

int main(int argc, char** argv) { return standin::ui::RunStandInConsole(argc, argv, RunQvcli); }
