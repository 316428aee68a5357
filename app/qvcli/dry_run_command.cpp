// qvcli restore --dry-run FILE [B:D.F ...]: the same choice of functions and
// the same checks as the restore (restore_plan.h), then, instead of any
// write, the registers the restore would change in each function
// (register_changes.h). Only reads reach the driver.
#include "qvcli.h"

#include <stdlib.h>

#include "register_changes.h"
#include "restore_plan.h"

namespace {

// The extended rows the restore would write but that cannot be read now:
// the function cannot be compared in full.
bool ExtendedUnread(const PlannedFunction& plan) {
    return plan.Target.RowGiven[kHeaderRows] && !plan.Current.RowGiven[kHeaderRows];
}

}  // namespace

int DryRunCommand(const SpaceList& file, const RestoreChoice* choices, const char* path, FILE* out,
                  FILE* err) {
    PlannedFunction* plans = static_cast<PlannedFunction*>(calloc(file.Count + 1, sizeof(PlannedFunction)));
    if (plans == NULL) {
        fprintf(err, "qvcli: out of memory\n");
        return kExitNotAll;
    }
    PlanRestore(file, choices, plans, out);
    unsigned changing = 0;
    unsigned partial = CountPlans(plans, file.Count, kPlanHeaderOnly);
    for (unsigned i = 0; i < file.Count; ++i) {
        const PlannedFunction& plan = plans[i];
        if (!PlanWrites(plan)) continue;
        if (PrintRegisterChanges(plan.Target, plan.Current, out) != 0) ++changing;
        if (plan.Step == kPlanWrite && ExtendedUnread(plan)) {
            char text[kPciAddressText];
            FormatPciAddress(plan.Target.Address, text);
            fprintf(out, "%s: the extended space cannot be read, so it is not compared\n", text);
            ++partial;
        }
    }
    unsigned asked = CountAsked(plans, file.Count);
    unsigned skipped = CountPlans(plans, file.Count, kPlanSkip);
    unsigned leftOut = CountPlans(plans, file.Count, kPlanBridgeLeftOut);
    fprintf(out,
            "%s: dry run, nothing written: %u of %u function(s) would change, %u skipped, %u not compared in "
            "full",
            path, changing, asked, skipped, partial);
    if (leftOut != 0) fprintf(out, ", %u bridge(s) left out", leftOut);
    fprintf(out, "\n");
    free(plans);
    return changing == 0 && skipped == 0 && partial == 0 ? kExitDone : kExitNotAll;
}
