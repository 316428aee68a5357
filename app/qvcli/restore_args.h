// What `qvcli restore` was asked to do:
//   restore [--dry-run] [--all] [--accept-different B:D.F]... FILE [B:D.F ...]
// Options may stand before or after FILE; the first other word is FILE, the
// rest are the functions named.
#ifndef QVCLI_RESTORE_ARGS_H
#define QVCLI_RESTORE_ARGS_H

#include <stdio.h>

#include <vector>

#include "pci_address.h"

struct NamedFunction {
    PciAddress Address;
    bool AcceptDifferent;  // named with --accept-different: written although its revision or subsystem differ
};

struct RestoreArgs {
    const char* Path = NULL;
    bool DryRun = false;  // --dry-run: say what would change, write nothing
    bool All = false;     // --all: every function of the file but host bridges and bridges
    std::vector<NamedFunction> Names;
};

// Reads argv[0..count) (the words after "restore") into *args. Returns false,
// with the message on err, when they are not a restore's words.
bool ParseRestoreArgs(char** argv, unsigned count, RestoreArgs* args, FILE* err);

#endif
