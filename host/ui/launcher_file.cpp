// Bounded reads of the launcher's input files.
#include "launcher_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace standin {
namespace ui {
namespace {

std::string Limit(size_t limit) {
    if (limit % (1u << 20) == 0) return std::to_string(limit >> 20) + " MiB";
    return std::to_string(limit) + " bytes";
}

}  // namespace

bool ReadLauncherFile(const std::string& path, const std::string& what, size_t limit, std::string* text,
                      std::string* error) {
    const std::string named = what + " " + path;
    // Opened without blocking, so that a FIFO nobody writes to does not hang
    // the check; its reads block again below.
    int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot read " + named + ": " + strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        *error = "cannot read " + named + ": " + strerror(errno);
        close(fd);
        return false;
    }
    std::string refusal;
    if (S_ISDIR(info.st_mode))
        refusal = "is a directory, not a file";
    else if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        refusal = "is a device, not a file";
    else if (S_ISSOCK(info.st_mode))
        refusal = "is a socket, not a file";
    else if (S_ISREG(info.st_mode) && static_cast<unsigned long long>(info.st_size) > limit)
        refusal = "is larger than the limit of " + Limit(limit);
    if (!refusal.empty()) {
        *error = named + " " + refusal;
        close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // A file that grows, or a pipe, is read only to one byte past the limit.
    std::string out;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = "cannot read " + named + ": " + strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<size_t>(n));
        if (out.size() > limit) {
            *error = named + " is larger than the limit of " + Limit(limit);
            close(fd);
            return false;
        }
    }
    close(fd);
    *text = std::move(out);
    return true;
}

}  // namespace ui
}  // namespace standin
