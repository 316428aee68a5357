// Windows paths over the Linux file system. The Linux root is drive Z:, the
// drive the process runs on, so "Z:\home\me\build" is "/home/me/build", a
// rooted "\tmp" is "/tmp" and a relative path starts at the current
// directory. Both separators are accepted, "." and ".." are folded as
// Windows folds them (by text, before any lookup), and names are matched
// without regard to case when the exact name does not exist.
#ifndef STANDIN_WIN32_PATH_MAPPING_H
#define STANDIN_WIN32_PATH_MAPPING_H

#include <windows.h>

#include <string>

namespace standin {

// Maps a Windows file path to an absolute Linux path. Returns ERROR_SUCCESS,
// or the error CreateFileA reports for such a name: ERROR_PATH_NOT_FOUND for
// an empty path or another drive, ERROR_BAD_NETPATH for a network path,
// ERROR_INVALID_NAME for a name with characters Windows does not allow.
DWORD WindowsToLinuxPath(const std::string& windowsPath, std::string* linuxPath);

// The Windows form of an absolute Linux path: "Z:" and backslashes.
std::string LinuxToWindowsPath(const std::string& linuxPath);

// Replaces each component of an absolute Linux path that does not exist by
// the first entry of its folder whose name matches it without case.
// Components that match nothing are kept as they are.
std::string MatchCaseInsensitively(const std::string& linuxPath);

// The current directory as an absolute Linux path; false (with errno set)
// when it cannot be read, e.g. after it was removed.
bool LinuxCurrentDirectory(std::string* path);

}  // namespace standin

#endif
