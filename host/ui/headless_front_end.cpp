// Script actions against the real windows, through the user-input calls.
#include "headless_front_end.h"

#include <cstdio>

#include "launcher_text.h"
#include "machine/machine.h"
#include "user_input.h"

namespace standin {
namespace ui {

HeadlessFrontEnd::HeadlessFrontEnd(std::vector<ScriptAction> actions, Report* report, std::string scriptName,
                                   const DialogControls& controls)
    : actions_(std::move(actions)),
      report_(report),
      scriptName_(std::move(scriptName)),
      controls_(controls) {}

bool HeadlessFrontEnd::NextInput(HWND dialog) {
    if (next_ >= actions_.size()) return false;
    Perform(dialog, actions_[next_++]);
    return true;
}

int HeadlessFrontEnd::ShowMessageBox(HWND, const std::string& caption, const std::string& text, UINT type) {
    if (report_) report_->MessageBoxShown(caption, text);
    return DefaultMessageBoxAnswer(type);
}

void HeadlessFrontEnd::DialogEnded(HWND, INT_PTR result) {
    if (report_) report_->DialogEnded(result);
}

void HeadlessFrontEnd::Fail(const ScriptAction& action, const std::string& why) {
    ++failed_;
    std::string line = scriptName_ + ":" + std::to_string(action.line) + ": " + action.text + ": " + why;
    fprintf(stderr, "quorvenal: %s\n", Printable(line).c_str());
}

void HeadlessFrontEnd::Perform(HWND dialog, const ScriptAction& a) {
    switch (a.kind) {
        case ScriptAction::Click: {
            HWND control = GetDlgItem(dialog, a.id);
            if (!control) return Fail(a, "the dialog has no control with that id");
            if (!IsWindowVisible(control) || !IsWindowEnabled(control))
                return Fail(a, "the control is hidden or disabled");
            ClickControl(control);
            return;
        }
        case ScriptAction::Select: {
            HWND list = GetDlgItem(dialog, controls_.deviceList);
            if (!list) return Fail(a, "the dialog has no device list");
            ClickListRow(list, a.row);
            return;
        }
        case ScriptAction::Key: PressKey(dialog, a.virtualKey, a.shift); return;
        case ScriptAction::Close: PressCloseBox(dialog); return;
        case ScriptAction::Minimize: PressMinimize(dialog); return;
        case ScriptAction::Restore: PressRestore(dialog); return;
        case ScriptAction::Dump:
            if (report_) report_->Dump(dialog, controls_);
            return;
        case ScriptAction::HwReset:
            if (!CurrentMachine().ResetFunction(a.address)) Fail(a, "the machine has no such function");
            return;
        case ScriptAction::HwWrite:
            if (!CurrentMachine().HardwareWrite(a.address, a.offset, a.size, a.value))
                Fail(a, "the function is not there to be written");
            return;
        case ScriptAction::HwRemove:
            if (!CurrentMachine().RemoveFunction(a.address)) Fail(a, "the function is not on the bus");
            return;
        case ScriptAction::HwRestore:
            if (!CurrentMachine().RestoreFunction(a.address)) Fail(a, "the machine has no such function");
            return;
    }
}

}  // namespace ui
}  // namespace standin
