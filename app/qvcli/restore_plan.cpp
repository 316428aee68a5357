#include "restore_plan.h"

#include <string.h>

#include "../class_code.h"
#include "../../ioctl/sys/pci_registers.h"
#include "bridge_kind.h"
#include "function_identity.h"
#include "hardware_space.h"

namespace {

// Whether the function at the saved address is the saved one and may be
// written; names it and says why not otherwise. *current is what it reads.
bool MayWrite(const SpaceImage& saved, const RestoreChoice& choice, SpaceImage* current, const char* text,
              FILE* out) {
    if (saved.Address.Domain != 0) {
        fprintf(out, "%s: skipped: PCI domain %04x cannot be reached (only domain 0000)\n", text,
                (unsigned)saved.Address.Domain);
        return false;
    }
    FunctionSpaceOutcome outcome = ReadHardwareSpace(saved.Address, current);
    if (outcome == kSpaceAbsent) {
        fprintf(out, "%s: skipped: no function answers there\n", text);
        return false;
    }
    if (outcome == kSpaceRequestFailed) {
        fprintf(out, "%s: skipped: a request to the driver failed\n", text);
        return false;
    }
    if (!SameChip(saved, *current)) {
        fprintf(out, "%s: skipped: the file holds %04x:%04x, the function there is %04x:%04x\n", text,
                PciVendorId(saved.Bytes), PciDeviceId(saved.Bytes), PciVendorId(current->Bytes),
                PciDeviceId(current->Bytes));
        return false;
    }
    const char* kind = BridgeKindText(BridgeKindOf(current->Bytes));
    if (choice.How != kNamed && kind != NULL) {
        fprintf(out, "%s: skipped: %s here, though not in the file; written only when named\n", text, kind);
        return false;
    }
    char difference[kIdentityTextBytes];
    if (!SameFunction(saved, *current, difference) && !choice.AcceptDifferent) {
        fprintf(out,
                "%s: skipped: not the function the file was saved from: %s (--accept-different %s writes it "
                "all the same)\n",
                text, difference, text);
        return false;
    }
    return true;
}

// Builds the target of a function that may be written.
PlanStep BuildTarget(const SpaceImage& saved, const SpaceImage& current, SpaceImage* target, const char* text,
                     FILE* out) {
    target->Address = saved.Address;
    for (unsigned row = 0; row < kHeaderRows; ++row) {
        const SpaceImage& from = saved.RowGiven[row] ? saved : current;
        memcpy(target->Bytes + row * 16, from.Bytes + row * 16, 16);
        target->RowGiven[row] = 1;
    }
    bool express = ClassifyCapabilities(saved.Bytes) == kCapPciExpress;
    if (!express || !HasExtendedRows(saved)) return kPlanWrite;
    for (unsigned row = kHeaderRows; row < kSpaceRows; ++row) {
        if (!saved.RowGiven[row] && !current.RowGiven[row]) {
            fprintf(out, "%s: the extended space cannot be read: only the header is restored\n", text);
            return kPlanHeaderOnly;
        }
        const SpaceImage& from = saved.RowGiven[row] ? saved : current;
        memcpy(target->Bytes + row * 16, from.Bytes + row * 16, 16);
    }
    memset(target->RowGiven + kHeaderRows, 1, kSpaceRows - kHeaderRows);
    return kPlanWrite;
}

}  // namespace

std::vector<PlannedFunction> PlanRestore(const std::vector<SpaceImage>& file,
                                         const std::vector<RestoreChoice>& choices, FILE* out) {
    std::vector<PlannedFunction> plans(file.size());  // zeroed: not asked, no bytes
    for (unsigned i = 0; i < file.size(); ++i) {
        PlannedFunction* plan = &plans[i];
        plan->Step = kPlanNotAsked;
        if (choices[i].How == kNotAsked) continue;
        const SpaceImage& saved = file[i];
        char text[kPciAddressText];
        FormatPciAddress(saved.Address, text);
        if (choices[i].How == kBridgeLeftOut) {
            fprintf(out, "%s: left out: %s, written only when named\n", text,
                    BridgeKindText(BridgeKindOf(saved.Bytes)));
            plan->Step = kPlanBridgeLeftOut;
            continue;
        }
        plan->Step = kPlanSkip;
        if (MayWrite(saved, choices[i], &plan->Current, text, out))
            plan->Step = BuildTarget(saved, plan->Current, &plan->Target, text, out);
    }
    return plans;
}

unsigned CountPlans(const std::vector<PlannedFunction>& plans, PlanStep step) {
    unsigned found = 0;
    for (const PlannedFunction& plan : plans) found += plan.Step == step ? 1 : 0;
    return found;
}

unsigned CountAsked(const std::vector<PlannedFunction>& plans) {
    return (unsigned)plans.size() - CountPlans(plans, kPlanNotAsked) - CountPlans(plans, kPlanBridgeLeftOut);
}
