#include "run_program.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace features_test {

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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

void ParseReport(const std::string& text, ProgramRun* run) {
    std::istringstream lines(text);
    std::string line;
    Dump current;
    bool inDump = false;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        ReportLine cells = SplitTabs(line);
        run->report.push_back(cells);
        const std::string& kind = cells[0];
        if (kind == "device") {
            // "device", the row, the item data, the eight cells.
            current.devices.push_back(ReportLine(cells.begin() + std::min<size_t>(2, cells.size()),
                                                 cells.end()));
            inDump = true;
        } else if (kind == "register") {
            current.registers.push_back(ReportLine(cells.begin() + 1, cells.end()));
            inDump = true;
        } else if (kind == "slot") {
            current.slots.push_back(cells.size() > 2 ? cells[2] : "");
            inDump = true;
        } else if (kind == "focus") {
            current.focus = cells.size() > 1 ? cells[1] : "";
            run->dumps.push_back(current);
            current = Dump();
            inDump = false;
        } else if (kind == "msgbox") {
            run->msgboxes.push_back(ReportLine(cells.begin() + 1, cells.end()));
        }
    }
    (void)inDump;
}

}  // namespace

std::string Fixture(const std::string& name) {
    return std::string(QUORVENAL_FIXTURE_DIR) + "/" + name;
}

namespace {

ProgramRun RunIn(const std::string& programName, const std::string& machine, const std::string& script,
          bool traced) {
    ProgramRun run;
    const char* temp = getenv("TMPDIR");
    std::string folder = std::string(temp && *temp ? temp : P_tmpdir) + "/quorvenal-features-XXXXXX";
    if (!mkdtemp(&folder[0])) return run;
    std::string dir = folder;
    std::string driver = std::string(QUORVENAL_BUILD_DIR) + "/QUORVENAL.sys";
    if (symlink(driver.c_str(), (dir + "/QUORVENAL.sys").c_str()) != 0) return run;
    {
        std::ofstream scriptFile(dir + "/script.txt");
        scriptFile << script;
    }

    std::string program = std::string(QUORVENAL_BUILD_DIR) + "/" + programName;
    std::vector<std::string> args = {program};
    if (!machine.empty()) {
        args.push_back("--machine");
        args.push_back(machine);
    }
    args.push_back("--script");
    args.push_back("script.txt");
    args.push_back("--report");
    args.push_back("report.txt");

    pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0) _exit(127);
        int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0) _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        if (traced) setenv("QUORVENAL_TRACE", "trace.txt", 1);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadFile(dir + "/stdout.txt");
    run.err = ReadFile(dir + "/stderr.txt");
    ParseReport(ReadFile(dir + "/report.txt"), &run);
    std::istringstream trace(ReadFile(dir + "/trace.txt"));
    std::string line;
    while (std::getline(trace, line)) run.trace.push_back(line);

    for (const char* name :
         {"QUORVENAL.sys", "script.txt", "report.txt", "stdout.txt", "stderr.txt", "trace.txt"}) {
        unlink((dir + "/" + name).c_str());
    }
    rmdir(dir.c_str());
    return run;
}

}  // namespace

ProgramRun RunProgram(const std::string& machine, const std::string& script) {
    return RunIn("quorvenal", machine, script, false);
}

ProgramRun RunTracedProgram(const std::string& machine, const std::string& script) {
    return RunIn("quorvenal_traced", machine, script, true);
}

std::string FeatureOutput(const ProgramRun& run) {
    static const char* const kServiceLines[] = {
        "OpenService failed!", "ControlService failed!", "DeleteService failed!",
        "CreateService failed!", "StartService failure!", "Open SC Manager failed!"};
    std::istringstream lines(run.out);
    std::string line, kept;
    while (std::getline(lines, line)) {
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

std::string Capture(const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
    return text;
}

}  // namespace features_test
