// qvcli, the console companion of the dialog program: lists the functions,
// dumps them in the text of `lspci -xxxx`, saves one function to a file and
// restores functions from such a file. It installs and removes the driver
// as the dialog program does and talks to it only through its control codes.
#ifndef QVCLI_QVCLI_H
#define QVCLI_QVCLI_H

#include <stdio.h>

#include <vector>

#include "restore_selection.h"
#include "space_image.h"

enum QvcliExit {
    kExitDone = 0,  // everything done; a restore where every byte took; a dry run where nothing would change
    kExitNotAll = 1,    // a restore where something did not take or was skipped; a dry run where something
                        // would change; the driver failed
    kExitBadInput = 2,  // a bad command line, file or function address; nothing done
};

// The whole program: results on out, messages on err. argv[0] is the
// program's name.
int RunQvcli(int argc, char** argv, FILE* out, FILE* err);

// The commands, run with the device channel open. Addresses, files and the
// restore file, with the functions a restore takes, are checked before the
// driver is installed.
int ListCommand(bool json, FILE* out, FILE* err);
int DumpCommand(const std::vector<PciAddress>& addresses, FILE* out, FILE* err);
int SaveCommand(const PciAddress& address, const char* path, FILE* out, FILE* err);
// A restore and its dry run say everything, their transcript, on out.
int RestoreCommand(const std::vector<SpaceImage>& file, const std::vector<RestoreChoice>& choices,
                   const char* path, FILE* out);
int DryRunCommand(const std::vector<SpaceImage>& file, const std::vector<RestoreChoice>& choices,
                  const char* path, FILE* out);

#endif
