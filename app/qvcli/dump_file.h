// Reading a dump file: the text that `lspci -xxxx` prints and `qvcli dump`
// and `qvcli save` write, read by the program's lspci-text reader
// (../lspci_text.h), which the stand-in's machine files use too. A malformed
// file is refused as a whole with one message "FILE:LINE: what is wrong",
// e.g. "bug.txt:2: a data line needs 16 bytes". Lines that begin
// "# quorvenal " describe a simulated machine, not a function's bytes, and
// are passed over like any other comment. Functions of every PCI domain are
// kept, with their domain.
#ifndef QVCLI_DUMP_FILE_H
#define QVCLI_DUMP_FILE_H

#include <string>
#include <vector>

#include "space_image.h"

// Reads the file's functions into *functions. On failure returns false with
// the message in *error and *functions empty.
bool ReadDumpFile(const char* path, std::vector<SpaceImage>* functions, std::string* error);
// The same for text already in memory; name stands for the file in messages.
bool ParseDumpText(const std::string& text, const char* name, std::vector<SpaceImage>* functions,
                   std::string* error);

#endif
