// The files the launcher reads (the machine file, the script): regular files
// or pipes of a bounded size, read whole; a directory, a device or a file over
// the limit is refused by name before anything is read.
#ifndef STANDIN_UI_LAUNCHER_FILE_H
#define STANDIN_UI_LAUNCHER_FILE_H

#include <cstddef>
#include <string>

namespace standin {
namespace ui {

// The largest machine file (a few hundred functions take well under 1 MiB)
// and the largest script the launcher reads.
const size_t kMachineFileLimit = 16u << 20;
const size_t kScriptFileLimit = 1u << 20;

// Reads `path` whole into *text. `what` names the file in a refusal ("the
// machine file", "the script"). On failure returns false with *error saying why.
bool ReadLauncherFile(const std::string& path, const std::string& what, size_t limit, std::string* text,
                      std::string* error);

}  // namespace ui
}  // namespace standin

#endif
