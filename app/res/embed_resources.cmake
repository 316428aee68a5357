# Writes a C++ source that hands the bytes of a compiled resource file to the
# stand-in at static-initialisation time, so that the program finds its
# dialog template, icon and version resource as a Windows program does.
# Run as: cmake -DINPUT=<file.res> -DOUTPUT=<file.cpp> -P embed_resources.cmake
file(READ ${INPUT} bytes HEX)
string(LENGTH "${bytes}" hex_length)
math(EXPR byte_count "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp
"// Generated from the program's compiled resource script; do not edit.
#include <stddef.h>

#include \"ui/resources.h\"

namespace {

const unsigned char kResourceFile[${byte_count}] = {
    ${bytes}
};

struct Registration {
    Registration() { standin::RegisterResourceFile(kResourceFile, sizeof kResourceFile); }
} registration;

}  // namespace
")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
