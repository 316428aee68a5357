// Which functions of its file a restore takes. Only those the user names,
// or, without names, the one function of a file that holds one (what
// `qvcli save` writes); --all takes every function of the file, but host
// bridges and bridges only when named (see bridge_kind.h). A file of several
// functions with no name and no --all is refused: a whole machine's dump
// restored unasked can rewrite the memory controller or the bridge above the
// system's disk.
#ifndef QVCLI_RESTORE_SELECTION_H
#define QVCLI_RESTORE_SELECTION_H

#include <stdio.h>

#include <vector>

#include "restore_args.h"
#include "space_image.h"

enum Choice : QvU8 {
    kNotAsked = 0,       // neither named nor taken by --all: neither read nor written
    kBridgeLeftOut = 1,  // taken by --all, but a bridge or host bridge by the file's header: not written
    kTaken = 2,          // taken without its name: not written when it reads as a bridge
    kNamed = 3,          // named: written whatever its kind
};

struct RestoreChoice {
    Choice How;
    bool AcceptDifferent;  // written although its revision or subsystem differ from the file's
};

// Fills *choices (one for each function of file) from args. Returns false,
// with the message on err, when a name is not in the file, when a file of
// several functions is given no name and no --all, and when nothing but
// bridges and host bridges would be taken without a name.
bool ChooseFunctions(const std::vector<SpaceImage>& file, const RestoreArgs& args,
                     std::vector<RestoreChoice>* choices, FILE* err);

#endif
