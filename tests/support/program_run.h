// Runs the built program headless, as a person starts it: from a fresh folder
// that holds the driver file (unless a test leaves it out), on a machine, with
// a script of user actions; then reads back its report, its standard output
// and standard error and, for the traced copy, its trace. The folder is
// removed afterwards.
#ifndef QUORVENAL_TESTS_SUPPORT_PROGRAM_RUN_H
#define QUORVENAL_TESTS_SUPPORT_PROGRAM_RUN_H

#include <string>
#include <vector>

namespace qvtest {

// One report line split at its tabs: kind first ("device", "register", ...).
typedef std::vector<std::string> ReportLine;

struct RunOptions {
    std::string machine;                 // --machine: a path or "sysfs"; empty: the embedded default
    bool traced = false;                 // run the traced copy; its trace lands in ProgramRun::trace
    bool driverFile = true;              // put QUORVENAL.sys in the folder
    std::vector<std::string> extraArgs;  // further launcher options, e.g. "--no-service-rights"
    bool captureStderr = true;           // standard error into ProgramRun::err; else the test's own
};

// What one `dump` line of the script wrote.
struct Dump {
    std::vector<ReportLine> devices;    // item data, then the eight cells (row order)
    ReportLine selection;               // the device list's selection mark, focused row, selected rows
    std::vector<ReportLine> registers;  // row, then the two cells
    std::vector<std::string> slots;     // text of slot edit boxes 0..4
    std::string focus;
};

struct ProgramRun {
    bool started = false;              // the process ran and was waited for
    int exitCode = -1;                 // its exit code, or 128 + the signal that ended it
    std::string folder;                // the folder it ran in, links resolved
    std::string out;                   // standard output, byte for byte
    std::string err;                   // standard error (the stand-in's own messages), when captured
    std::vector<std::string> report;   // report lines without their newline
    std::vector<Dump> dumps;           // the dumps, in order
    std::vector<ReportLine> msgboxes;  // caption, text
    std::vector<std::string> trace;    // traced copy only: requests and machine writes
};

ProgramRun RunProgram(const std::string& script, const RunOptions& options = RunOptions());

// The options of the usual run on a machine file, plain or traced.
RunOptions OnMachine(const std::string& machine);
RunOptions TracedOnMachine(const std::string& machine);

// Path of a machine file in tests/fixtures.
std::string Fixture(const std::string& name);

// The report lines of one kind, split at tabs with the kind removed.
std::vector<ReportLine> Lines(const ProgramRun& run, const std::string& kind);

// Standard output without the lines of starting and stopping the driver's
// service (the start-up's removal of an old service prints its failures to
// find one): what the device list, register view and slots printed.
std::string FeatureOutput(const ProgramRun& run);

// Readers over a dump.
std::vector<std::string> RegisterNames(const Dump& dump);
std::string RegisterValue(const Dump& dump, const std::string& name);

}  // namespace qvtest

#endif
