#include "capture_stdout.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace qvtest {

StdoutCapture::StdoutCapture() {
    fflush(stdout);
    char name[] = "/tmp/qv_stdout_XXXXXX";
    captureFd_ = mkstemp(name);
    if (captureFd_ < 0) return;
    unlink(name);
    savedFd_ = dup(STDOUT_FILENO);
    dup2(captureFd_, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() { Finish(); }

std::string StdoutCapture::Finish() {
    if (savedFd_ < 0) return std::string();
    fflush(stdout);
    dup2(savedFd_, STDOUT_FILENO);
    close(savedFd_);
    savedFd_ = -1;
    std::string text;
    lseek(captureFd_, 0, SEEK_SET);
    char chunk[4096];
    ssize_t got;
    while ((got = read(captureFd_, chunk, sizeof(chunk))) > 0) text.append(chunk, static_cast<size_t>(got));
    close(captureFd_);
    captureFd_ = -1;
    return text;
}

}  // namespace qvtest
