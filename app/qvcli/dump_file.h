// Reading a dump file: the text that `lspci -xxxx` prints and `qvcli dump`
// and `qvcli save` write. The rules are those of the stand-in's machine files
// (device lines, data lines, blank lines; other lines are passed over), and so
// are the messages: a malformed file is refused as a whole with one message
// "FILE:LINE: what is wrong", e.g. "bug.txt:2: a data line needs 16 bytes".
// Lines that begin "# quorvenal " describe a simulated machine, not a
// function's bytes, and are passed over like any other comment. Functions of
// every PCI domain are kept, with their domain.
#ifndef QVCLI_DUMP_FILE_H
#define QVCLI_DUMP_FILE_H

#include <stddef.h>

#include "space_image.h"

enum { kDumpErrorBytes = 1024 };

// Appends the file's functions to *functions. On failure returns false with
// the message in error (kDumpErrorBytes characters) and *functions as empty.
bool ReadDumpFile(const char* path, SpaceList* functions, char* error);
// The same for text already in memory; name stands for the file in messages.
bool ParseDumpText(const char* text, size_t length, const char* name, SpaceList* functions, char* error);

#endif
