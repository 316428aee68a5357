// The command line and the driver's life around one command: what the user
// gave is checked first (addresses, the restore file), then any service left
// by an earlier run is removed, the device channel opened (installing the
// driver from the current folder), the command run, the device closed and
// the service removed again.
#include "qvcli.h"

#include <string.h>

#include <string>
#include <vector>

#include "../device_channel.h"
#include "../diagnostics.h"
#include "../service_control.h"
#include "address_argument.h"
#include "dump_file.h"
#include "restore_args.h"

namespace {

const char kUsage[] =
    "usage: qvcli [--verbose] list [--json]\n"
    "       qvcli [--verbose] dump [B:D.F ...]\n"
    "       qvcli [--verbose] save B:D.F FILE\n"
    "       qvcli [--verbose] restore [--dry-run] [--all] [--accept-different B:D.F]... FILE [B:D.F ...]\n"
    "  list     the functions that answer: address, class code, vendor:device\n"
    "  dump     the functions (all, or those named) in the text of lspci -xxxx\n"
    "  save     one function's whole configuration space to FILE, in that text\n"
    "  restore  write back the functions of FILE that are named, or the one function of a file\n"
    "           that holds one; each must answer with the identifiers, revision and subsystem\n"
    "           of its file\n"
    "    --dry-run  write nothing: the registers that would change (status 0: none would)\n"
    "    --all      every function of FILE but host bridges and bridges, written only when named\n"
    "    --accept-different B:D.F  write B:D.F although its revision or subsystem differ\n"
    "  --verbose  the driver's and the service manager's diagnostics on standard error\n"
    "B:D.F is bus:device.function in hexadecimal, as lspci writes it (00:1f.3).\n"
    "Run from the folder that holds QUORVENAL.sys, with the right to manage services.\n";

enum Command { kList, kDump, kSave, kRestore };

struct Request {
    Command command = kList;
    bool json = false;
    std::vector<PciAddress> addresses;
    const char* path = NULL;
    std::vector<SpaceImage> file;
    RestoreArgs restore;
    std::vector<RestoreChoice> choices;  // one for each function of file
};

int Usage(FILE* err, const char* why) {
    fprintf(err, "qvcli: %s\n%s", why, kUsage);
    return kExitBadInput;
}

// Reads the addresses of argv[0..count): each must be a function address of
// domain 0000.
bool ReadAddresses(char** argv, unsigned count, Request* request, FILE* err) {
    request->addresses.assign(count, PciAddress());
    for (unsigned i = 0; i < count; ++i) {
        if (!ReadAddressArgument(argv[i], &request->addresses[i], err)) return false;
    }
    return true;
}

// Reads restore's words, its file, and which of the file's functions it takes.
int ReadRestore(char** argv, unsigned count, Request* request, FILE* err) {
    if (!ParseRestoreArgs(argv, count, &request->restore, err)) {
        fputs(kUsage, err);
        return kExitBadInput;
    }
    request->path = request->restore.Path;
    std::string error;
    if (!ReadDumpFile(request->path, &request->file, &error)) {
        fprintf(err, "%s\n", error.c_str());
        return kExitBadInput;
    }
    return ChooseFunctions(request->file, request->restore, &request->choices, err) ? kExitDone
                                                                                    : kExitBadInput;
}

// Parses argv[first..argc) into request. Returns kExitDone, or the status to
// end with (usage and help included).
int ParseCommand(int argc, char** argv, int first, Request* request, FILE* out, FILE* err) {
    if (first >= argc) return Usage(err, "no command given");
    const char* name = argv[first];
    int rest = argc - first - 1;
    char** args = argv + first + 1;
    if (strcmp(name, "help") == 0 || strcmp(name, "--help") == 0 || strcmp(name, "-h") == 0) {
        fputs(kUsage, out);
        return -1;
    }
    if (strcmp(name, "list") == 0) {
        request->command = kList;
        if (rest == 1 && strcmp(args[0], "--json") == 0)
            request->json = true;
        else if (rest != 0)
            return Usage(err, "list takes only --json");
        return kExitDone;
    }
    if (strcmp(name, "dump") == 0) {
        request->command = kDump;
        return ReadAddresses(args, (unsigned)rest, request, err) ? kExitDone : kExitBadInput;
    }
    if (strcmp(name, "save") == 0) {
        request->command = kSave;
        if (rest != 2) return Usage(err, "save takes a function address and a file");
        request->path = args[1];
        return ReadAddresses(args, 1, request, err) ? kExitDone : kExitBadInput;
    }
    if (strcmp(name, "restore") == 0) {
        request->command = kRestore;
        return ReadRestore(args, (unsigned)rest, request, err);
    }
    fprintf(err, "qvcli: unknown command '%s'\n%s", name, kUsage);
    return kExitBadInput;
}

int RunCommand(const Request& request, FILE* out, FILE* err) {
    switch (request.command) {
        case kList: return ListCommand(request.json, out, err);
        case kDump: return DumpCommand(request.addresses, out, err);
        case kSave: return SaveCommand(request.addresses[0], request.path, out, err);
        case kRestore:
        default:
            if (request.restore.DryRun)
                return DryRunCommand(request.file, request.choices, request.path, out);
            return RestoreCommand(request.file, request.choices, request.path, out);
    }
}

// The driver's life around the command, as the dialog program leads it.
int RunWithDriver(const Request& request, FILE* out, FILE* err) {
    UninstallDriverService();  // whatever an earlier run left behind
    char driverPath[MAX_PATH];
    int status;
    if (OpenDeviceChannel(driverPath) != kChannelOpen) {
        fprintf(err,
                "qvcli: the driver could not be opened (QUORVENAL.sys must be in the current folder, "
                "and qvcli must run with the right to manage services; --verbose says more)\n");
        status = kExitNotAll;
    } else {
        status = RunCommand(request, out, err);
    }
    fflush(out);
    if (DeviceHandle != INVALID_HANDLE_VALUE && DeviceHandle != 0) {
        CloseHandle(DeviceHandle);  // lets the stop below unload the driver at once
    }
    DeviceHandle = INVALID_HANDLE_VALUE;
    UninstallDriverService();
    return status;
}

}  // namespace

int RunQvcli(int argc, char** argv, FILE* out, FILE* err) {
    int first = 1;
    bool verbose = false;
    if (first < argc && (strcmp(argv[first], "--verbose") == 0 || strcmp(argv[first], "-v") == 0)) {
        verbose = true;
        ++first;
    }
    SetDiagnosticStream(verbose ? err : NULL);

    Request request;
    int status = ParseCommand(argc, argv, first, &request, out, err);
    if (status == kExitDone)
        status = RunWithDriver(request, out, err);
    else if (status < 0)
        status = kExitDone;  // help
    fflush(out);
    return status;
}
