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
// driver, failed; the image is added when its header was read) or bad input.
int ReadInto(const PciAddress& address, std::vector<SpaceImage>* spaces, FILE* err) {
    char text[kPciAddressText];
    FormatPciAddress(address, text);
    SpaceImage image;
    FunctionSpaceOutcome outcome = ReadHardwareSpace(address, &image);
    if (outcome == kSpaceComplete || outcome == kSpaceNoExtended) spaces->push_back(image);
    switch (outcome) {
        case kSpaceComplete: return kExitDone;
        case kSpaceNoExtended:
            fprintf(err,
                    "qvcli: %s: the extended space could not be read (no memory-mapped configuration was "
                    "found)\n",
                    text);
            return kExitNotAll;
        case kSpaceAbsent:
            fprintf(err, "qvcli: %s: no function answers at this address\n", text);
            return kExitBadInput;
        case kSpaceRequestFailed:
        default: fprintf(err, "qvcli: %s: a request to the driver failed\n", text); return kExitNotAll;
    }
}

int Worse(int a, int b) { return a > b ? a : b; }

bool WriteAll(FILE* out, const std::vector<SpaceImage>& spaces) {
    bool ok = true;
    for (const SpaceImage& image : spaces) ok = WriteSpaceText(out, image) && ok;
    return ok;
}

}  // namespace

int DumpCommand(const std::vector<PciAddress>& addresses, FILE* out, FILE* err) {
    std::vector<SpaceImage> spaces;
    int status = kExitDone;
    if (addresses.empty()) {
        std::vector<ScannedFunction> scanned;
        if (!ScanFunctions(&scanned)) {
            fprintf(err, "qvcli: the bus scan stopped: a request to the driver failed\n");
            status = kExitNotAll;
        }
        for (const ScannedFunction& function : scanned) {
            // A function that has gone since the scan is not bad input.
            status = Worse(status,
                           ReadInto(function.Address, &spaces, err) == kExitDone ? kExitDone : kExitNotAll);
        }
    } else {
        for (const PciAddress& address : addresses) status = Worse(status, ReadInto(address, &spaces, err));
        if (status == kExitBadInput) return status;
    }
    if (!WriteAll(out, spaces)) {
        fprintf(err, "qvcli: the dump could not be written\n");
        status = kExitNotAll;
    }
    return status;
}

int SaveCommand(const PciAddress& address, const char* path, FILE* out, FILE* err) {
    std::vector<SpaceImage> spaces;
    int status = ReadInto(address, &spaces, err);
    if (spaces.empty()) return status;
    FILE* file = fopen(path, "wb");
    if (file == NULL) {
        fprintf(err, "qvcli: %s: cannot write the file\n", path);
        return kExitBadInput;
    }
    bool written = WriteAll(file, spaces);
    written = fclose(file) == 0 && written;
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
