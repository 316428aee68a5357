// Runs the built program headless, as a user would: from a fresh folder that
// holds the driver file, on a machine file, with a script of user actions;
// then reads back its report and its standard output.
#ifndef QUORVENAL_TESTS_FEATURES_RUN_PROGRAM_H
#define QUORVENAL_TESTS_FEATURES_RUN_PROGRAM_H

#include <string>
#include <vector>

namespace features_test {

// One report line split at its tabs: kind first ("device", "register", ...).
typedef std::vector<std::string> ReportLine;

// What one `dump` line of the script wrote.
struct Dump {
    std::vector<ReportLine> devices;    // item data, then the eight cells (row order)
    std::vector<ReportLine> registers;  // row, then the two cells
    std::vector<std::string> slots;     // text of slot edit boxes 0..4
    std::string focus;
};

struct ProgramRun {
    int exitCode = -1;
    std::string out;                  // the program's standard output
    std::string err;                  // its standard error (the stand-in's own messages)
    std::vector<ReportLine> report;   // every report line, in order
    std::vector<Dump> dumps;          // the dumps, in order
    std::vector<ReportLine> msgboxes; // caption, text
    std::vector<std::string> trace;   // traced program only: requests and writes
};

// machine: a path, "sysfs", or "" for the embedded default machine.
ProgramRun RunProgram(const std::string& machine, const std::string& script);
// The same with the traced copy of the program (requests and machine writes
// in ProgramRun::trace).
ProgramRun RunTracedProgram(const std::string& machine, const std::string& script);

// Path of a fixture machine file.
std::string Fixture(const std::string& name);

// Standard output without the lines of starting and stopping the driver's
// service (the start-up's removal of an old service prints its failures to
// find one): what the device list, register view and slots printed.
std::string FeatureOutput(const ProgramRun& run);

// Convenience readers over a dump.
std::vector<std::string> RegisterNames(const Dump& dump);
std::string RegisterValue(const Dump& dump, const std::string& name);

// Runs a shell command and returns what it wrote to standard output.
std::string Capture(const std::string& command);

}  // namespace features_test

#endif
