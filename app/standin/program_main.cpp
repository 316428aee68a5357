// The Linux process entry of quorvenal: the stand-in's options first, then
// the program's own entry point, as Windows would call it. The headless front
// end drives and reports the dialog's controls of program_controls.h.
#include <windows.h>

#include "../main_dialog.h"
#include "program_controls.h"
#include "ui/launcher_options.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

namespace {

static_assert(kProgramControls.slotCount == kSlotCount, "one box a slot");

int RunWinMain() {
    static char commandLine[] = "";
    return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWNORMAL);
}

}  // namespace

int main(int argc, char** argv) {
    return standin::ui::RunStandInProgram(argc, argv, kProgramControls, RunWinMain);
}
