#include "dump_file.h"

#include <stdio.h>
#include <string.h>

#include "../lspci_text.h"

namespace {

static_assert((int)kSpaceBytes == (int)kLspciSpaceBytes && (int)kSpaceRows == (int)kLspciRows,
              "an image holds what the reader reads");

SpaceImage ImageOf(const LspciFunction& function) {
    SpaceImage image;
    image.Address.Domain = function.Address.Domain;
    image.Address.Bus = function.Address.Bus;
    image.Address.Device = function.Address.Device;
    image.Address.Function = function.Address.Function;
    memcpy(image.Bytes, function.Bytes, kSpaceBytes);
    memcpy(image.RowGiven, function.RowGiven, kSpaceRows);
    image.Line = function.Line;
    return image;
}

// The whole file into *text; false when it cannot be opened or read.
bool ReadWholeFile(const char* path, std::string* text, std::string* error) {
    FILE* file = fopen(path, "rb");
    if (file == NULL) {
        *error = std::string(path) + ":0: cannot open the file";
        return false;
    }
    char buffer[8192];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, got);
    bool readOk = !ferror(file);
    fclose(file);
    if (!readOk) *error = std::string(path) + ":0: cannot read the file";
    return readOk;
}

}  // namespace

bool ParseDumpText(const std::string& text, const char* name, std::vector<SpaceImage>* functions,
                   std::string* error) {
    functions->clear();
    std::vector<LspciFunction> read;
    LspciTextHooks passOverDirectives = {NULL, NULL, NULL};
    if (!ReadLspciText(text, name, passOverDirectives, &read, error)) return false;
    for (const LspciFunction& function : read) functions->push_back(ImageOf(function));
    return true;
}

bool ReadDumpFile(const char* path, std::vector<SpaceImage>* functions, std::string* error) {
    functions->clear();
    std::string text;
    return ReadWholeFile(path, &text, error) && ParseDumpText(text, path, functions, error);
}
