// Option parsing and the start and end of the stand-in process.
#include "launcher_options.h"

#include <windows.h>
#include <winioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "curses_front_end.h"
#include "front_end.h"
#include "headless_front_end.h"
#include "quorvenal_ioctl.h"
#include "launcher_file.h"
#include "launcher_text.h"
#include "launcher_machine.h"
#include "launcher_service.h"
#include "machine/machine.h"
#include "report.h"
#include "script.h"
#include "win32/device_api.h"
#include "win32/process_options.h"

namespace standin {
namespace ui {
namespace {

const char kUsage[] =
    "usage: quorvenal [--machine FILE|sysfs] [--script FILE [--report FILE]]\n"
    "                 [--no-service-rights] [--stale-service]\n"
    "  --machine FILE     run on the machine described in FILE (lspci -xxxx text);\n"
    "                     sysfs: this host's own functions, read-only;\n"
    "                     default: the embedded default machine\n"
    "  --script FILE      run headless: perform the user actions in FILE\n"
    "  --report FILE      write the report there (default: standard error)\n"
    "  --no-service-rights  run without the right to manage services\n"
    "  --stale-service    start with a running \"" QUORVENAL_DRIVER_NAME
    "\" service from an earlier run\n"
    "  --help             this summary\n";

// What outlives main(): the report and the front end, so that a program that
// ends the process itself still gets its "exit" record and a clean terminal.
struct ProcessEnd {
    FILE* reportFile = nullptr;
    bool ownsReportFile = false;
    std::unique_ptr<Report> report;
    std::unique_ptr<FrontEnd> frontEnd;
    bool finished = false;
    std::string reportName;  // the --report file, or empty
};

ProcessEnd& End() {
    static ProcessEnd end;
    return end;
}

// Ends the process's stand-in side; false when the report could not be written whole.
bool FinishProcess() {
    ProcessEnd& end = End();
    if (end.finished) return true;
    end.finished = true;
    // The program's diagnostics are complete now, whatever ends the process after us.
    fflush(stdout);
    SetFrontEnd(nullptr);
    if (HeadlessFrontEnd* headless = dynamic_cast<HeadlessFrontEnd*>(end.frontEnd.get())) {
        if (headless->RemainingActions())
            fprintf(stderr, "quorvenal: %s: %zu action(s) not run: no dialog was running any more\n",
                    Printable(headless->ScriptName()).c_str(), headless->RemainingActions());
    }
    end.frontEnd.reset();  // the terminal front end restores the terminal here
    if (end.report) end.report->ProcessExit();
    // The process's device handles close as it ends, as on Windows; a driver
    // whose service was stopped while they were open unloads now.
    standin::CloseAllDeviceHandles();
    bool written = !end.report || !end.report->Failed();
    int why = end.report ? end.report->Error() : 0;
    if (end.ownsReportFile && end.reportFile && fclose(end.reportFile) != 0 && written) {
        written = false;
        why = errno;
    }
    end.reportFile = nullptr;
    if (!written) {
        fprintf(stderr, "quorvenal: the report %s could not be written whole: %s\n",
                Printable(end.reportName.empty() ? "(standard error)" : end.reportName).c_str(),
                strerror(why));
    }
    return written;
}

// A program that ends the process itself still gets its report checked.
void FinishProcessAtExit() {
    if (FinishProcess()) return;
    fflush(stdout);
    fflush(stderr);
    _exit(2);
}

int Refuse(const std::string& message) {
    fprintf(stderr, "quorvenal: %s\n", Printable(message).c_str());
    return 2;
}

}  // namespace

bool ParseLauncherOptions(int argc, char** argv, LauncherOptions* options, std::string* error) {
    LauncherOptions out;
    bool seenMachine = false, seenScript = false, seenReport = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](bool* seen, std::string* target) {
            if (*seen) {
                *error = "option " + arg + " given twice";
                return false;
            }
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                *error = "option " + arg + " needs a value";
                return false;
            }
            *seen = true;
            *target = argv[++i];
            return true;
        };
        if (arg == "--machine") {
            if (!value(&seenMachine, &out.machine)) return false;
        } else if (arg == "--script") {
            if (!value(&seenScript, &out.script)) return false;
        } else if (arg == "--report") {
            if (!value(&seenReport, &out.report)) return false;
        } else if (arg == "--no-service-rights") {
            out.noServiceRights = true;
        } else if (arg == "--stale-service") {
            out.staleService = true;
        } else if (arg == "--help" || arg == "-h") {
            out.help = true;
        } else {
            *error = "unknown option \"" + arg + "\"";
            return false;
        }
    }
    *options = out;
    return true;
}

int RunStandInProgram(int argc, char** argv, const DialogControls& controls, int (*entry)()) {
    LauncherOptions options;
    std::string error;
    if (!ParseLauncherOptions(argc, argv, &options, &error)) {
        fprintf(stderr, "quorvenal: %s\n%s", Printable(error).c_str(), kUsage);
        return 2;
    }
    if (options.help) {
        fputs(kUsage, stdout);
        return 0;
    }

    std::unique_ptr<Machine> machine = MachineForOption(options.machine, &error);
    if (!machine) return Refuse(error);
    if (machine->SkippedFunctions() != 0) {
        // The program reaches one PCI domain: say what it will not list.
        fprintf(stderr, "quorvenal: %s: %u function(s) of PCI domains other than 0000 left out, %zu listed\n",
                Printable(options.machine.empty() ? "default machine" : options.machine).c_str(),
                machine->SkippedFunctions(), machine->Functions().size());
    }

    std::vector<ScriptAction> actions;
    if (!options.script.empty()) {
        std::string text;
        if (!ReadLauncherFile(options.script, "the script", kScriptFileLimit, &text, &error))
            return Refuse(error);
        if (!ParseScript(text, options.script, &actions, &error)) return Refuse(error);
    } else if (!isatty(STDIN_FILENO)) {
        return Refuse("the interactive window needs a terminal; give --script FILE to run headless");
    }

    ProcessEnd& end = End();
    end.finished = false;
    end.reportFile = nullptr;
    end.ownsReportFile = false;
    end.reportName.clear();
    end.report.reset();
    if (!options.report.empty()) {
        end.reportFile = fopen(options.report.c_str(), "w");
        if (!end.reportFile) return Refuse("cannot write the report " + options.report);
        end.ownsReportFile = true;
        end.reportName = options.report;
    } else if (!options.script.empty()) {
        end.reportFile = stderr;
    }

    SetCurrentMachine(std::move(machine));
    if (options.staleService && !StartStaleService(&error)) return Refuse(error);
    if (options.noServiceRights) SetAdministrator(false);

    if (end.reportFile) end.report = std::make_unique<Report>(end.reportFile);
    if (!options.script.empty()) {
        end.frontEnd = std::make_unique<HeadlessFrontEnd>(std::move(actions), end.report.get(),
                                                          options.script, controls);
    } else {
        end.frontEnd = std::make_unique<CursesFrontEnd>(end.report.get());
    }
    SetFrontEnd(end.frontEnd.get());
    atexit(FinishProcessAtExit);

    int status = entry();
    if (!FinishProcess()) return 2;
    return status;
}

}  // namespace ui
}  // namespace standin
