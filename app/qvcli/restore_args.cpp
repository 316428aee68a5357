#include "restore_args.h"

#include <string.h>

#include "address_argument.h"

namespace {

// Adds a name; one named twice keeps one entry, with --accept-different if
// either gave it.
bool AddName(const char* text, bool acceptDifferent, RestoreArgs* args, FILE* err) {
    PciAddress address;
    if (!ReadAddressArgument(text, &address, err)) return false;
    for (NamedFunction& name : args->Names) {
        if (SamePciAddress(name.Address, address)) {
            name.AcceptDifferent = name.AcceptDifferent || acceptDifferent;
            return true;
        }
    }
    args->Names.push_back(NamedFunction{address, acceptDifferent});
    return true;
}

}  // namespace

bool ParseRestoreArgs(char** argv, unsigned count, RestoreArgs* args, FILE* err) {
    *args = RestoreArgs();
    for (unsigned i = 0; i < count; ++i) {
        const char* word = argv[i];
        if (strcmp(word, "--dry-run") == 0) {
            args->DryRun = true;
        } else if (strcmp(word, "--all") == 0) {
            args->All = true;
        } else if (strcmp(word, "--accept-different") == 0) {
            if (i + 1 == count) {
                fprintf(err,
                        "qvcli: --accept-different needs the function it is for (e.g. --accept-different "
                        "04:00.0)\n");
                return false;
            }
            if (!AddName(argv[++i], true, args, err)) return false;
        } else if (strncmp(word, "--", 2) == 0) {
            fprintf(err, "qvcli: restore has no option '%s'\n", word);
            return false;
        } else if (args->Path == NULL) {
            args->Path = word;
        } else if (!AddName(word, false, args, err)) {
            return false;
        }
    }
    if (args->Path == NULL) {
        fprintf(err, "qvcli: restore needs the file to restore from\n");
        return false;
    }
    return true;
}
