// Runs the built program as a person would start it: from a fresh folder
// (holding the driver file unless a test leaves it out), headless with a
// script of user actions, then reads back its report and standard output.
#ifndef QUORVENAL_TESTS_UI_PROGRAM_RUN_H
#define QUORVENAL_TESTS_UI_PROGRAM_RUN_H

#include <string>
#include <vector>

namespace uitest {

struct RunOptions {
    bool driverFile = true;            // put QUORVENAL.sys in the folder
    std::vector<std::string> extraArgs;  // stand-in options, e.g. "--no-service-rights"
};

struct ProgramRun {
    bool started = false;
    int exitStatus = -1;                 // the process's exit code
    std::string folder;                  // the folder it ran in, links resolved (removed afterwards)
    std::string out;                     // standard output, byte for byte
    std::vector<std::string> report;     // report lines without their newline
};

ProgramRun RunProgram(const std::string& script, const RunOptions& options = RunOptions());

// The report lines of one kind ("focus", "end", "msgbox", ...), split at tabs
// with the kind removed.
std::vector<std::vector<std::string>> Lines(const ProgramRun& run, const std::string& kind);

}  // namespace uitest

#endif
