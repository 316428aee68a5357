#include "program_run.h"

#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

namespace qvtest {

namespace {

const char kDriverFile[] = "QUORVENAL.sys";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

ReportLine SplitTabs(const std::string& line) {
    ReportLine cells;
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

// Groups the device, register and slot lines into one Dump per `dump`, which
// ends with its focus line; collects the message boxes.
void ParseReport(ProgramRun* run) {
    Dump current;
    for (const std::string& line : run->report) {
        if (line.empty()) continue;
        ReportLine cells = SplitTabs(line);
        const std::string& kind = cells[0];
        if (kind == "device") {
            // "device", the row, the item data, the eight cells.
            current.devices.push_back(
                ReportLine(cells.begin() + std::min<size_t>(2, cells.size()), cells.end()));
        } else if (kind == "selection") {
            current.selection = ReportLine(cells.begin() + 1, cells.end());
        } else if (kind == "register") {
            current.registers.push_back(ReportLine(cells.begin() + 1, cells.end()));
        } else if (kind == "slot") {
            current.slots.push_back(cells.size() > 2 ? cells[2] : "");
        } else if (kind == "focus") {
            current.focus = cells.size() > 1 ? cells[1] : "";
            run->dumps.push_back(current);
            current = Dump();
        } else if (kind == "msgbox") {
            run->msgboxes.push_back(ReportLine(cells.begin() + 1, cells.end()));
        }
    }
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void RemoveFolder(const std::string& folder) { nftw(folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

std::string TemporaryRoot() {
    const char* temp = getenv("TMPDIR");
    return temp != nullptr && *temp != '\0' ? temp : P_tmpdir;
}

// In the child: the folder as current directory, the output files, then the
// program. Never returns.
[[noreturn]] void StartChild(const std::string& folder, const RunOptions& options,
                             std::vector<std::string> args) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, 1) < 0) _exit(127);
    if (options.captureStderr) {
        int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || dup2(err, 2) < 0) _exit(127);
    }
    if (options.traced) setenv("QUORVENAL_TRACE", "trace.txt", 1);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

}  // namespace

ProgramRun RunProgram(const std::string& script, const RunOptions& options) {
    ProgramRun run;
    std::string folder = TemporaryRoot() + "/quorvenal-run-XXXXXX";
    if (mkdtemp(&folder[0]) == nullptr) return run;
    char* real = realpath(folder.c_str(), nullptr);
    run.folder = real != nullptr ? real : folder;
    free(real);

    const std::string driver = std::string(QUORVENAL_BUILD_DIR) + "/" + kDriverFile;
    bool ready = !options.driverFile || symlink(driver.c_str(), (folder + "/" + kDriverFile).c_str()) == 0;
    if (ready) {
        std::ofstream scriptFile(folder + "/script.txt");
        scriptFile << script;
        ready = static_cast<bool>(scriptFile.flush());
    }

    std::vector<std::string> args = {std::string(QUORVENAL_BUILD_DIR) +
                                     (options.traced ? "/quorvenal_traced" : "/quorvenal")};
    if (!options.machine.empty()) {
        args.push_back("--machine");
        args.push_back(options.machine);
    }
    args.insert(args.end(), {"--script", "script.txt", "--report", "report.txt"});
    args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());

    pid_t child = ready ? fork() : -1;
    if (child == 0) StartChild(folder, options, args);
    if (child > 0) {
        int status = 0;
        pid_t waited;
        do {
            waited = waitpid(child, &status, 0);
        } while (waited < 0 && errno == EINTR);
        if (waited == child) {
            run.started = true;
            run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
    }

    if (run.started) {
        run.out = ReadFile(folder + "/stdout.txt");
        if (options.captureStderr) run.err = ReadFile(folder + "/stderr.txt");
        run.report = SplitLines(ReadFile(folder + "/report.txt"));
        if (options.traced) run.trace = SplitLines(ReadFile(folder + "/trace.txt"));
        ParseReport(&run);
    }
    RemoveFolder(folder);
    return run;
}

RunOptions OnMachine(const std::string& machine) {
    RunOptions options;
    options.machine = machine;
    return options;
}

RunOptions TracedOnMachine(const std::string& machine) {
    RunOptions options = OnMachine(machine);
    options.traced = true;
    return options;
}

std::string Fixture(const std::string& name) { return std::string(QUORVENAL_FIXTURE_DIR) + "/" + name; }

std::vector<ReportLine> Lines(const ProgramRun& run, const std::string& kind) {
    std::vector<ReportLine> found;
    for (const std::string& line : run.report) {
        ReportLine cells = SplitTabs(line);
        if (cells[0] != kind) continue;
        cells.erase(cells.begin());
        found.push_back(cells);
    }
    return found;
}

std::string FeatureOutput(const ProgramRun& run) {
    static const char* const kServiceLines[] = {"OpenService failed!",   "ControlService failed!",
                                                "DeleteService failed!", "CreateService failed!",
                                                "StartService failure!", "Open SC Manager failed!"};
    std::string kept;
    for (const std::string& line : SplitLines(run.out)) {
        bool service = false;
        for (const char* prefix : kServiceLines) service |= line.rfind(prefix, 0) == 0;
        if (!service) kept += line + "\n";
    }
    return kept;
}

std::vector<std::string> RegisterNames(const Dump& dump) {
    std::vector<std::string> names;
    for (const ReportLine& row : dump.registers) names.push_back(row.size() > 1 ? row[1] : "");
    return names;
}

std::string RegisterValue(const Dump& dump, const std::string& name) {
    for (const ReportLine& row : dump.registers) {
        if (row.size() > 2 && row[1] == name) return row[2];
    }
    return "<no row " + name + ">";
}

}  // namespace qvtest
