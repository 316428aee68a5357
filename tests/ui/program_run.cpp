#include "program_run.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace uitest {

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> cells;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        if (tab == std::string::npos) {
            cells.push_back(line.substr(start));
            return cells;
        }
        cells.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

}  // namespace

ProgramRun RunProgram(const std::string& script, const RunOptions& options) {
    ProgramRun run;
    char folder[] = "/tmp/quorvenal-ui-XXXXXX";
    if (mkdtemp(folder) == nullptr) return run;
    const std::string dir = folder;
    char* real = realpath(folder, nullptr);
    run.folder = real != nullptr ? real : dir;
    free(real);
    const std::string driver = std::string(QUORVENAL_BUILD_DIR) + "/QUORVENAL.sys";
    if (options.driverFile && symlink(driver.c_str(), (dir + "/QUORVENAL.sys").c_str()) != 0) {
        rmdir(folder);
        return run;
    }
    {
        std::ofstream scriptFile(dir + "/script.txt");
        scriptFile << script;
    }

    std::string program = std::string(QUORVENAL_BUILD_DIR) + "/quorvenal";
    std::vector<std::string> args = {program, "--script", "script.txt", "--report", "report.txt"};
    args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());

    pid_t child = fork();
    if (child == 0) {
        if (chdir(folder) != 0) _exit(127);
        int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0) _exit(127);
        dup2(out, 1);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child) {
        run.started = true;
        run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    run.out = ReadFile(dir + "/stdout.txt");
    std::istringstream lines(ReadFile(dir + "/report.txt"));
    std::string line;
    while (std::getline(lines, line)) run.report.push_back(line);

    for (const char* name : {"QUORVENAL.sys", "script.txt", "report.txt", "stdout.txt"}) {
        unlink((dir + "/" + name).c_str());
    }
    rmdir(folder);
    return run;
}

std::vector<std::vector<std::string>> Lines(const ProgramRun& run, const std::string& kind) {
    std::vector<std::vector<std::string>> found;
    for (const std::string& line : run.report) {
        std::vector<std::string> cells = SplitTabs(line);
        if (cells[0] != kind) continue;
        cells.erase(cells.begin());
        found.push_back(cells);
    }
    return found;
}

}  // namespace uitest
