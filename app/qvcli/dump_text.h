// Writing functions in the text that `lspci -xxxx` prints, so that
// `lspci -F FILE` reads it back: a device line "bb:dd.f text", one line
// "off: xx xx ... xx" for each row of 16 bytes, a blank line.
#ifndef QVCLI_DUMP_TEXT_H
#define QVCLI_DUMP_TEXT_H

#include <stdio.h>

#include "space_image.h"

// Writes the image's given rows. Returns false when the stream failed.
bool WriteSpaceText(FILE* out, const SpaceImage& image);

#endif
