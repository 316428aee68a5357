// qvcli restore FILE: writes back every function of FILE that answers with
// the identifiers the file gives it, then reads them all back and names the
// bytes that did not take (apart from those hardware refuses: see
// expected_refusals.h).
//
// Each function: the header with the command register's decode bits (I/O
// and memory space) cleared, the header again with the saved command
// register, so that no BAR decodes while it is half written; then, for a PCI
// Express function whose file gives extended rows, the extended space. Rows
// the file does not give are written back as the function reads now. Status
// bits that clear on a 1 are written as 0: a restore leaves the errors the
// function reports as they are.
#include "qvcli.h"

#include <stdlib.h>
#include <string.h>

#include "../class_code.h"
#include "../driver_request.h"
#include "expected_refusals.h"
#include "hardware_space.h"

namespace {

const QvU8 kDecodeBits = 0x03;  // command register: I/O space, memory space

// What became of one function of the file.
enum Fate : QvU8 {
    kWritten = 0,   // written; the read-back decides
    kSkipped = 1,   // nothing of it was written
    kNotTaken = 2,  // a write failed, or bytes did not take
};

bool WriteHeader(const SpaceImage& target, bool decode) {
    ConfigRequest request;
    memset(&request, 0, sizeof request);
    request.Bus = target.Address.Bus;
    request.Device = target.Address.Device;
    request.Function = target.Address.Function;
    memcpy(request.Data, target.Bytes, kConfigHeaderBytes);
    if (!decode) request.Data[0x04] &= (QvU8)~kDecodeBits;
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

// Whether the function at the saved address is the saved one; names it and
// says why not otherwise. *current is what it reads now.
bool SameFunctionAnswers(const SpaceImage& saved, SpaceImage* current, const char* text, FILE* out) {
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
    if (SpaceWord(*current, 0x00) != SpaceWord(saved, 0x00) ||
        SpaceWord(*current, 0x02) != SpaceWord(saved, 0x02)) {
        fprintf(out, "%s: skipped: the file holds %04x:%04x, the function there is %04x:%04x\n", text,
                (unsigned)SpaceWord(saved, 0x00), (unsigned)SpaceWord(saved, 0x02),
                (unsigned)SpaceWord(*current, 0x00), (unsigned)SpaceWord(*current, 0x02));
        return false;
    }
    return true;
}

// Writes one function. The target image (the file's rows over the current
// ones) is added to targets for the read-back, its given rows those written,
// unless the function was skipped.
Fate RestoreFunction(const SpaceImage& saved, SpaceList* targets, FILE* out) {
    char text[kPciAddressText];
    FormatPciAddress(saved.Address, text);
    SpaceImage current;
    if (!SameFunctionAnswers(saved, &current, text, out)) return kSkipped;

    SpaceImage* target = AppendSpace(targets);
    if (target == NULL) {
        fprintf(out, "%s: skipped: out of memory\n", text);
        return kSkipped;
    }
    target->Address = saved.Address;
    for (unsigned row = 0; row < kHeaderRows; ++row) {
        const SpaceImage& from = saved.RowGiven[row] ? saved : current;
        memcpy(target->Bytes + row * 16, from.Bytes + row * 16, 16);
        target->RowGiven[row] = 1;
    }
    if (!WriteHeader(*target, false) || !WriteHeader(*target, true)) {
        fprintf(out, "%s: the header could not be written\n", text);
        return kNotTaken;
    }

    bool express = ClassifyCapabilities(saved.Bytes) == kCapPciExpress;
    if (!express || !HasExtendedRows(saved)) return kWritten;
    for (unsigned row = kHeaderRows; row < kSpaceRows; ++row) {
        if (!saved.RowGiven[row] && !current.RowGiven[row]) {
            fprintf(out, "%s: the extended space could not be read, so it was not written\n", text);
            return kNotTaken;
        }
        const SpaceImage& from = saved.RowGiven[row] ? saved : current;
        memcpy(target->Bytes + row * 16, from.Bytes + row * 16, 16);
    }
    if (!WriteExtended(*target)) {
        fprintf(out, "%s: the extended space could not be written\n", text);
        return kNotTaken;
    }
    memset(target->RowGiven + kHeaderRows, 1, kSpaceRows - kHeaderRows);
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

int RestoreCommand(const SpaceList& file, const char* path, FILE* out, FILE* err) {
    Fate* fates = static_cast<Fate*>(calloc(file.Count + 1, sizeof(Fate)));
    unsigned* targetOf = static_cast<unsigned*>(calloc(file.Count + 1, sizeof(unsigned)));
    if (fates == NULL || targetOf == NULL) {
        free(fates);
        free(targetOf);
        fprintf(err, "qvcli: out of memory\n");
        return kExitNotAll;
    }
    SpaceList targets;
    InitSpaceList(&targets);
    for (unsigned i = 0; i < file.Count; ++i) {
        targetOf[i] = targets.Count;
        fates[i] = RestoreFunction(file.Items[i], &targets, out);
    }
    // Read back what was written in full; a failed write has been named.
    for (unsigned i = 0; i < file.Count; ++i) {
        if (fates[i] == kWritten && !CheckFunction(targets.Items[targetOf[i]], out)) fates[i] = kNotTaken;
    }
    unsigned counts[3] = {0, 0, 0};
    for (unsigned i = 0; i < file.Count; ++i) ++counts[fates[i]];
    fprintf(out, "%s: %u of %u function(s) restored, %u skipped, %u not restored in full\n", path,
            counts[kWritten], file.Count, counts[kSkipped], counts[kNotTaken]);
    FreeSpaceList(&targets);
    free(fates);
    free(targetOf);
    return counts[kWritten] == file.Count ? kExitDone : kExitNotAll;
}
