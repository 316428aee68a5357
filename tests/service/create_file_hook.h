// How the code under test called CreateFileA, in order (see create_file_hook.cpp).
#ifndef QUORVENAL_TESTS_SERVICE_CREATE_FILE_HOOK_H
#define QUORVENAL_TESTS_SERVICE_CREATE_FILE_HOOK_H

#include <windows.h>

#include <string>
#include <vector>

namespace qvtest {

struct FileOpen {
    std::string name;
    DWORD access;
    DWORD share;
    bool security;
    DWORD disposition;
    DWORD flags;
};

// The opens since the last call, oldest first.
std::vector<FileOpen> TakeFileOpens();

}  // namespace qvtest

#endif
