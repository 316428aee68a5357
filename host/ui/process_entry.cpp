// The Linux process entry of quorvenal: the stand-in's options first, then
// the program's own entry point, as Windows would call it.
#include <windows.h>

#include "ui/launcher_options.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

namespace {

int RunWinMain() {
    static char commandLine[] = "";
    return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWNORMAL);
}

}  // namespace

int main(int argc, char** argv) { return standin::ui::RunStandInProgram(argc, argv, RunWinMain); }
