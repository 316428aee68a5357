#include "win32/path_mapping.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace standin {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Characters that no Windows file name may hold.
bool IsForbiddenInName(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 32) return true;
    switch (c) {
        case '<':
        case '>':
        case ':':
        case '"':
        case '|':
        case '?':
        case '*': return true;
        default: return false;
    }
}

// Splits text into components, folding "." and "..", onto parts. Names that
// come from the Linux side (validate false) are taken as they are.
DWORD AppendComponents(const std::string& text, std::vector<std::string>* parts, bool validate) {
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSeparator(text[i])) ++i;
        size_t start = i;
        while (i < text.size() && !IsSeparator(text[i])) ++i;
        if (start == i) break;
        std::string name = text.substr(start, i - start);
        if (name == ".") continue;
        if (name == "..") {
            if (!parts->empty()) parts->pop_back();
            continue;
        }
        for (char c : name) {
            if (validate && IsForbiddenInName(c)) return ERROR_INVALID_NAME;
        }
        parts->push_back(name);
    }
    return ERROR_SUCCESS;
}

std::string JoinLinux(const std::vector<std::string>& parts) {
    if (parts.empty()) return "/";
    std::string path;
    for (const std::string& part : parts) {
        path += '/';
        path += part;
    }
    return path;
}

}  // namespace

bool LinuxCurrentDirectory(std::string* path) {
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) return false;
    *path = cwd;
    free(cwd);
    return true;
}

DWORD WindowsToLinuxPath(const std::string& windowsPath, std::string* linuxPath) {
    std::string rest = windowsPath;
    // "\\?\Z:\..." names the same file without the length limit.
    if (rest.size() >= 4 && IsSeparator(rest[0]) && IsSeparator(rest[1]) && rest[2] == '?' &&
        IsSeparator(rest[3])) {
        rest = rest.substr(4);
    }
    if (rest.empty()) return ERROR_PATH_NOT_FOUND;
    if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) return ERROR_BAD_NETPATH;

    std::vector<std::string> parts;
    bool rooted = false;
    if (rest.size() >= 2 && rest[1] == ':') {
        char drive = rest[0];
        if (drive != 'Z' && drive != 'z') {
            bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'y');
            return letter ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME;
        }
        rest = rest.substr(2);
        rooted = !rest.empty() && IsSeparator(rest[0]);
    } else {
        rooted = IsSeparator(rest[0]);
    }
    if (!rooted) {
        std::string cwd;
        if (!LinuxCurrentDirectory(&cwd)) return ERROR_PATH_NOT_FOUND;
        AppendComponents(cwd, &parts, false);
    }
    DWORD error = AppendComponents(rest, &parts, true);
    if (error != ERROR_SUCCESS) return error;
    *linuxPath = JoinLinux(parts);
    return ERROR_SUCCESS;
}

std::string LinuxToWindowsPath(const std::string& linuxPath) {
    std::string windows = "Z:";
    for (char c : linuxPath) windows += (c == '/') ? '\\' : c;
    if (windows.size() == 2) windows += '\\';
    return windows;
}

std::string MatchCaseInsensitively(const std::string& linuxPath) {
    std::vector<std::string> parts;
    AppendComponents(linuxPath, &parts, false);
    std::string resolved;
    for (const std::string& part : parts) {
        std::string exact = resolved + "/" + part;
        struct stat info;
        if (lstat(exact.c_str(), &info) == 0 || errno != ENOENT) {
            resolved = exact;
            continue;
        }
        std::string folder = resolved.empty() ? "/" : resolved;
        std::string chosen = part;
        if (DIR* dir = opendir(folder.c_str())) {
            while (struct dirent* entry = readdir(dir)) {
                if (strcasecmp(entry->d_name, part.c_str()) == 0) {
                    chosen = entry->d_name;
                    break;
                }
            }
            closedir(dir);
        }
        resolved += "/" + chosen;
    }
    return resolved.empty() ? "/" : resolved;
}

}  // namespace standin
