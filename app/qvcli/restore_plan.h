// The first step of a restore and of its dry run: each function the restore
// takes is read and checked, and what would be written to it is built. Nothing
// is written here.
//
// A bridge or host bridge that --all took by the file's header is left out,
// with a line that names it. A function is skipped, with a line that names
// it and says why, when it is of another PCI domain, taken without its name
// and reads as a bridge or host bridge, when no function answers
// at its address, when a request to the driver fails, when another chip
// answers (vendor and device identifiers), and when its revision or subsystem
// identifiers differ from the file's and it was not named with
// --accept-different.
#ifndef QVCLI_RESTORE_PLAN_H
#define QVCLI_RESTORE_PLAN_H

#include <stdio.h>

#include <vector>

#include "restore_selection.h"
#include "space_image.h"

enum PlanStep : QvU8 {
    kPlanNotAsked = 0,       // not asked for
    kPlanBridgeLeftOut = 1,  // left out by --all as a bridge or host bridge; the transcript said so
    kPlanSkip = 2,           // asked for, but nothing of it is written; the transcript said why
    kPlanWrite = 3,          // the target's given rows are written
    kPlanHeaderOnly = 4,     // the header alone: the extended space could not be read; the transcript said so
};

struct PlannedFunction {
    PlanStep Step;
    SpaceImage Current;  // what the function reads now
    // The file's rows over the current ones: what the restore writes. Its
    // given rows are those written: the header, and the extended space of a
    // PCI Express function whose file gives extended rows.
    SpaceImage Target;
};

// Plans every function of file, in file order: one plan for each.
std::vector<PlannedFunction> PlanRestore(const std::vector<SpaceImage>& file,
                                         const std::vector<RestoreChoice>& choices, FILE* out);

// How many plans are at step.
unsigned CountPlans(const std::vector<PlannedFunction>& plans, PlanStep step);
// How many functions the restore was asked to write: neither left out nor not asked.
unsigned CountAsked(const std::vector<PlannedFunction>& plans);
// Whether the plan writes the function.
inline bool PlanWrites(const PlannedFunction& plan) {
    return plan.Step == kPlanWrite || plan.Step == kPlanHeaderOnly;
}

#endif
