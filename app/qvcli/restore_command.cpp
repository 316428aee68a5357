// qvcli restore FILE [B:D.F ...]: writes back the functions of FILE that the
// restore takes (restore_selection.h) and that answer as the file's
// functions (restore_plan.h), then reads them all back and names the bytes
// that did not take (apart from those hardware refuses: see
// expected_refusals.h). Every function is read and checked before the first
// write, and the transcript names the functions to be written before any is.
//
// Each function: the header with the command register's decode bits (I/O
// and memory space) cleared, the header again with the saved command
// register, so that no BAR decodes while it is half written; then, for a PCI
// Express function whose file gives extended rows, the extended space. Rows
// the file does not give are written back as the function reads now. Status
// bits that clear on a 1 are written as 0: a restore leaves the errors the
// function reports as they are.
#include "qvcli.h"

#include <string.h>

#include "../driver_request.h"
#include "../../ioctl/sys/pci_registers.h"
#include "expected_refusals.h"
#include "hardware_space.h"
#include "restore_plan.h"

namespace {

// What became of one function the restore took.
enum Fate : QvU8 {
    kWritten = 0,   // written; the read-back decides
    kSkipped = 1,   // nothing of it was written
    kNotTaken = 2,  // a write failed, bytes did not take, or only the header was written
};

bool WriteHeader(const SpaceImage& target, bool decode) {
    ConfigRequest request;
    memset(&request, 0, sizeof request);
    request.Bus = target.Address.Bus;
    request.Device = target.Address.Device;
    request.Function = target.Address.Function;
    memcpy(request.Data, target.Bytes, kConfigHeaderBytes);
    if (!decode) request.Data[kPciCommand] &= (QvU8)~kPciCommandDecodeBits;
    LeaveStatusAlone(request.Data);
    return SendDriverRequest(IOCTL_WRITE_CONFIG, &request, sizeof request) && FunctionAnswered(request);
}

bool WriteExtended(const SpaceImage& target) {
    ExtConfigRequest request;
    memset(&request, 0, sizeof request);
    request.Bus = target.Address.Bus;
    request.Device = target.Address.Device;
    request.Function = target.Address.Function;
    memcpy(request.ExtData, target.Bytes + kConfigHeaderBytes, kExtConfigBytes);
    return SendDriverRequest(IOCTL_WRITE_EXT_CONFIG, &request, sizeof request) &&
           request.Result == kResultExtDone;
}

// "will write N function(s): bb:dd.f ...", before the first write.
void AnnounceWrites(const std::vector<PlannedFunction>& plans, FILE* out) {
    unsigned writes = CountPlans(plans, kPlanWrite) + CountPlans(plans, kPlanHeaderOnly);
    if (writes == 0) {
        fprintf(out, "nothing to write\n");
        return;
    }
    fprintf(out, "will write %u function(s):", writes);
    for (const PlannedFunction& plan : plans) {
        if (!PlanWrites(plan)) continue;
        char text[kPciAddressText];
        FormatPciAddress(plan.Target.Address, text);
        fprintf(out, " %s", text);
    }
    fprintf(out, "\n");
    fflush(out);
}

// Ends the summary line: how many bridges --all left out, if any.
void PrintLeftOut(const std::vector<PlannedFunction>& plans, FILE* out) {
    unsigned leftOut = CountPlans(plans, kPlanBridgeLeftOut);
    if (leftOut != 0) fprintf(out, ", %u bridge(s) left out", leftOut);
    fprintf(out, "\n");
}

// Writes one planned function.
Fate WriteFunction(const PlannedFunction& plan, FILE* out) {
    char text[kPciAddressText];
    FormatPciAddress(plan.Target.Address, text);
    if (!WriteHeader(plan.Target, false) || !WriteHeader(plan.Target, true)) {
        fprintf(out, "%s: the header could not be written\n", text);
        return kNotTaken;
    }
    if (plan.Step == kPlanHeaderOnly) return kNotTaken;
    if (!plan.Target.RowGiven[kHeaderRows]) return kWritten;
    if (!WriteExtended(plan.Target)) {
        fprintf(out, "%s: the extended space could not be written\n", text);
        return kNotTaken;
    }
    return kWritten;
}

// Reads the function back and names every byte that did not take. Returns
// whether all took.
bool CheckFunction(const SpaceImage& target, FILE* out) {
    char text[kPciAddressText];
    FormatPciAddress(target.Address, text);
    SpaceImage now;
    FunctionSpaceOutcome outcome = ReadHardwareSpace(target.Address, &now);
    if (outcome != kSpaceComplete && outcome != kSpaceNoExtended) {
        fprintf(out, "%s: cannot be read back\n", text);
        return false;
    }
    QvU8 ignore[kSpaceBytes];
    ExpectedRefusals(target, now, target.RowGiven[kHeaderRows] != 0, ignore);
    unsigned differing = 0;
    for (unsigned offset = 0; offset < kSpaceBytes; ++offset) {
        if (!target.RowGiven[offset / 16]) continue;
        if (!now.RowGiven[offset / 16]) {
            fprintf(out, "%s: the extended space cannot be read back\n", text);
            return false;
        }
        if (((target.Bytes[offset] ^ now.Bytes[offset]) & (QvU8)~ignore[offset]) == 0) continue;
        if (differing++ == 0) fprintf(out, "%s: bytes that did not take:\n", text);
        fprintf(out, "  %03x: wrote %02x, reads %02x\n", offset, target.Bytes[offset], now.Bytes[offset]);
    }
    if (differing != 0) return false;
    fprintf(out, "%s: restored\n", text);
    return true;
}

}  // namespace

int RestoreCommand(const std::vector<SpaceImage>& file, const std::vector<RestoreChoice>& choices,
                   const char* path, FILE* out) {
    std::vector<PlannedFunction> plans = PlanRestore(file, choices, out);
    AnnounceWrites(plans, out);
    std::vector<Fate> fates(plans.size(), kSkipped);
    for (size_t i = 0; i < plans.size(); ++i) {
        if (PlanWrites(plans[i])) fates[i] = WriteFunction(plans[i], out);
    }
    // Read back what was written in full; a failed write has been named.
    for (size_t i = 0; i < plans.size(); ++i) {
        if (fates[i] == kWritten && !CheckFunction(plans[i].Target, out)) fates[i] = kNotTaken;
    }
    unsigned counts[3] = {0, 0, 0};
    for (size_t i = 0; i < plans.size(); ++i) {
        if (plans[i].Step >= kPlanSkip) ++counts[fates[i]];
    }
    unsigned asked = CountAsked(plans);
    fprintf(out, "%s: %u of %u function(s) restored, %u skipped, %u not restored in full", path,
            counts[kWritten], asked, counts[kSkipped], counts[kNotTaken]);
    PrintLeftOut(plans, out);
    return counts[kWritten] == asked ? kExitDone : kExitNotAll;
}
