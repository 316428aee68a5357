// qvcli dump [B:D.F ...] and qvcli save B:D.F FILE: functions in the text of
// `lspci -xxxx`. Every function is read before anything is written, so an
// address where no function answers leaves no partial output.
#include "qvcli.h"

#include "dump_text.h"
#include "hardware_space.h"
#include "scanned_functions.h"

namespace {

// Reads one function into a new image at the end of spaces. Returns the
// exit status it calls for: done, not all (the extended space, or the
// driver, failed; the image stays when its header was read) or bad input.
int ReadInto(const PciAddress& address, SpaceList* spaces, FILE* err) {
    char text[kPciAddressText];
    FormatPciAddress(address, text);
    SpaceImage* image = AppendSpace(spaces);
    if (image == NULL) {
        fprintf(err, "qvcli: out of memory\n");
        return kExitNotAll;
    }
    switch (ReadHardwareSpace(address, image)) {
        case kSpaceComplete: return kExitDone;
        case kSpaceNoExtended:
            fprintf(err,
                    "qvcli: %s: the extended space could not be read (no memory-mapped configuration was "
                    "found)\n",
                    text);
            return kExitNotAll;
        case kSpaceAbsent:
            --spaces->Count;
            fprintf(err, "qvcli: %s: no function answers at this address\n", text);
            return kExitBadInput;
        case kSpaceRequestFailed:
        default:
            --spaces->Count;
            fprintf(err, "qvcli: %s: a request to the driver failed\n", text);
            return kExitNotAll;
    }
}

int Worse(int a, int b) { return a > b ? a : b; }

bool WriteAll(FILE* out, const SpaceList& spaces) {
    bool ok = true;
    for (unsigned i = 0; i < spaces.Count; ++i) ok = WriteSpaceText(out, spaces.Items[i]) && ok;
    return ok;
}

}  // namespace

int DumpCommand(const PciAddress* addresses, unsigned count, FILE* out, FILE* err) {
    SpaceList spaces;
    InitSpaceList(&spaces);
    int status = kExitDone;
    if (count == 0) {
        ScannedList scanned;
        if (!ScanFunctions(&scanned)) {
            fprintf(err, "qvcli: the bus scan stopped: a request to the driver failed\n");
            status = kExitNotAll;
        }
        for (unsigned i = 0; i < scanned.Count; ++i) {
            // A function that has gone since the scan is not bad input.
            status =
                Worse(status, ReadInto(scanned.Items[i].Address, &spaces, err) == kExitDone ? kExitDone
                                                                                            : kExitNotAll);
        }
        FreeScannedList(&scanned);
    } else {
        for (unsigned i = 0; i < count; ++i) status = Worse(status, ReadInto(addresses[i], &spaces, err));
        if (status == kExitBadInput) {
            FreeSpaceList(&spaces);
            return status;
        }
    }
    if (!WriteAll(out, spaces)) {
        fprintf(err, "qvcli: the dump could not be written\n");
        status = kExitNotAll;
    }
    FreeSpaceList(&spaces);
    return status;
}

int SaveCommand(const PciAddress& address, const char* path, FILE* out, FILE* err) {
    SpaceList spaces;
    InitSpaceList(&spaces);
    int status = ReadInto(address, &spaces, err);
    if (spaces.Count == 0) {
        FreeSpaceList(&spaces);
        return status;
    }
    FILE* file = fopen(path, "wb");
    if (file == NULL) {
        FreeSpaceList(&spaces);
        fprintf(err, "qvcli: %s: cannot write the file\n", path);
        return kExitBadInput;
    }
    bool written = WriteAll(file, spaces);
    written = fclose(file) == 0 && written;
    FreeSpaceList(&spaces);
    if (!written) {
        remove(path);
        fprintf(err, "qvcli: %s: cannot write the file\n", path);
        return kExitNotAll;
    }
    char text[kPciAddressText];
    FormatPciAddress(address, text);
    fprintf(out, "%s saved to %s\n", text, path);
    return status;
}
