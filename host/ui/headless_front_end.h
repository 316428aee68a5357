// The headless front end: performs a script's actions on the running dialog,
// acknowledges message boxes with their default button, and reports.
#ifndef STANDIN_UI_HEADLESS_FRONT_END_H
#define STANDIN_UI_HEADLESS_FRONT_END_H

#include <string>
#include <vector>

#include "dialog_controls.h"
#include "front_end.h"
#include "report.h"
#include "script.h"

namespace standin {
namespace ui {

class HeadlessFrontEnd : public FrontEnd {
public:
    // `scriptName` prefixes the messages about actions that cannot be done;
    // `controls` are the ones `select` and `dump` use.
    HeadlessFrontEnd(std::vector<ScriptAction> actions, Report* report, std::string scriptName,
                     const DialogControls& controls);

    bool NextInput(HWND dialog) override;
    int ShowMessageBox(HWND owner, const std::string& caption, const std::string& text, UINT type) override;
    void DialogEnded(HWND dialog, INT_PTR result) override;

    // Actions that could not be done (no such control, no such function...).
    int FailedActions() const { return failed_; }
    // Actions never reached because no dialog was running any more.
    size_t RemainingActions() const { return actions_.size() - next_; }
    const std::string& ScriptName() const { return scriptName_; }

private:
    void Perform(HWND dialog, const ScriptAction& action);
    void Fail(const ScriptAction& action, const std::string& why);

    std::vector<ScriptAction> actions_;
    size_t next_ = 0;
    Report* report_;
    std::string scriptName_;
    DialogControls controls_;
    int failed_ = 0;
};

}  // namespace ui
}  // namespace standin

#endif
