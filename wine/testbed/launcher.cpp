// qvlaunch.exe: starts a Windows program under the test bed and returns its
// exit code. With --inject DLL the DLL is loaded into the program's process
// on its main thread before the program's own code runs: the process is
// created suspended and the load is queued to its main thread as an
// asynchronous procedure call, which the thread carries out as it starts
// (several DLLs: in the order given). The program's file is not changed.
//   qvlaunch.exe [--inject DLL]... PROGRAM [ARGUMENTS...]
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Usage() {
    fprintf(stderr, "usage: qvlaunch.exe [--inject DLL]... PROGRAM [ARGUMENTS...]\n");
    return 2;
}

// The rest of this process's command line after `words` words, as typed.
const char* SkipWords(const char* line, int words) {
    for (int i = 0; i < words; ++i) {
        while (*line == ' ' || *line == '\t') ++line;
        bool quoted = false;
        while (*line && (quoted || (*line != ' ' && *line != '\t'))) {
            if (*line == '"') quoted = !quoted;
            ++line;
        }
    }
    while (*line == ' ' || *line == '\t') ++line;
    return line;
}

bool QueueLoad(const PROCESS_INFORMATION& process, const std::string& dll) {
    char path[MAX_PATH];
    DWORD length = GetFullPathNameA(dll.c_str(), sizeof path, path, NULL);
    if (length == 0 || length >= sizeof path) return false;
    void* remote =
        VirtualAllocEx(process.hProcess, NULL, length + 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote == NULL || !WriteProcessMemory(process.hProcess, remote, path, length + 1, NULL)) {
        return false;
    }
    // kernel32.dll lies at the same address in every process of the prefix.
    PAPCFUNC load = reinterpret_cast<PAPCFUNC>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    return load != NULL && QueueUserAPC(load, process.hThread, reinterpret_cast<ULONG_PTR>(remote)) != 0;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    std::vector<std::string> dlls;
    while (first + 1 < argc && strcmp(argv[first], "--inject") == 0) {
        dlls.push_back(argv[first + 1]);
        first += 2;
    }
    if (first >= argc) return Usage();
    std::string commandLine = SkipWords(GetCommandLineA(), first);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    // The program writes where this launcher writes, console program or not.
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, TRUE, CREATE_SUSPENDED, NULL, NULL, &startup,
                        &process)) {
        fprintf(stderr, "qvlaunch: cannot start %s (error %lu)\n", argv[first], GetLastError());
        return 126;
    }
    for (const std::string& dll : dlls) {
        if (!QueueLoad(process, dll)) {
            fprintf(stderr, "qvlaunch: cannot load %s into %s (error %lu)\n", dll.c_str(), argv[first],
                    GetLastError());
            TerminateProcess(process.hProcess, 126);
            return 126;
        }
    }
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
