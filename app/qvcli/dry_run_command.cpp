// qvcli restore --dry-run FILE [B:D.F ...]: the same choice of functions and
// the same checks as the restore (restore_plan.h), then, instead of any
// write, the registers the restore would change in each function
// (register_changes.h). Only reads reach the driver.
#include "qvcli.h"

#include "register_changes.h"
#include "restore_plan.h"

namespace {

// The extended rows the restore would write but that cannot be read now:
// the function cannot be compared in full.
bool ExtendedUnread(const PlannedFunction& plan) {
    return plan.Target.RowGiven[kHeaderRows] && !plan.Current.RowGiven[kHeaderRows];
}

}  // namespace

int DryRunCommand(const std::vector<SpaceImage>& file, const std::vector<RestoreChoice>& choices,
                  const char* path, FILE* out) {
    std::vector<PlannedFunction> plans = PlanRestore(file, choices, out);
    unsigned changing = 0;
    unsigned partial = CountPlans(plans, kPlanHeaderOnly);
    for (const PlannedFunction& plan : plans) {
        if (!PlanWrites(plan)) continue;
        if (PrintRegisterChanges(plan.Target, plan.Current, out) != 0) ++changing;
        if (plan.Step == kPlanWrite && ExtendedUnread(plan)) {
            char text[kPciAddressText];
            FormatPciAddress(plan.Target.Address, text);
            fprintf(out, "%s: the extended space cannot be read, so it is not compared\n", text);
            ++partial;
        }
    }
    unsigned asked = CountAsked(plans);
    unsigned skipped = CountPlans(plans, kPlanSkip);
    unsigned leftOut = CountPlans(plans, kPlanBridgeLeftOut);
    fprintf(out,
            "%s: dry run, nothing written: %u of %u function(s) would change, %u skipped, %u not compared in "
            "full",
            path, changing, asked, skipped, partial);
    if (leftOut != 0) fprintf(out, ", %u bridge(s) left out", leftOut);
    fprintf(out, "\n");
    return changing == 0 && skipped == 0 && partial == 0 ? kExitDone : kExitNotAll;
}
