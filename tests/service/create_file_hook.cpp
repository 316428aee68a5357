// Linked into the service tests with -Wl,--wrap=CreateFileA: records how the
// program's code opens every file and device, then opens it as asked.
#include "create_file_hook.h"

#include <mutex>

extern "C" HANDLE WINAPI __real_CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                            HANDLE);

namespace qvtest {
namespace {

std::mutex& Lock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::vector<FileOpen>& Opens() {
    static std::vector<FileOpen>* opens = new std::vector<FileOpen>;
    return *opens;
}

}  // namespace

// An extern "C" name is the same inside a namespace.
extern "C" HANDLE WINAPI __wrap_CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                            LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                            HANDLE templateFile) {
    {
        std::lock_guard<std::mutex> guard(Lock());
        Opens().push_back(
            FileOpen{name != nullptr ? name : "", access, share, security != nullptr, disposition, flags});
    }
    return __real_CreateFileA(name, access, share, security, disposition, flags, templateFile);
}

std::vector<FileOpen> TakeFileOpens() {
    std::lock_guard<std::mutex> guard(Lock());
    std::vector<FileOpen> opens;
    opens.swap(Opens());
    return opens;
}

}  // namespace qvtest
