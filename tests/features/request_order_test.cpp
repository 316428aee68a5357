// What the program asks of the driver, and in which order the writes reach
// the hardware, seen from the machine's side: a traced copy of the program
// records every request and every configuration write (trace_hook.cpp).
// Script lines "hw write 00:00.0 fc 1 fc" (a byte written with the value it
// already holds) mark where a user action begins and ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "program_run.h"

namespace qvtest {
namespace {

const char* const kMarker = "hw write 00:00.0 fc 1 fc\n";
const char* const kMarkerTrace = "write hw 00:00.0 0fc 1";

// The trace lines between marker `n` and marker `n + 1`.
std::vector<std::string> Between(const ProgramRun& run, int n) {
    std::vector<std::string> lines;
    int seen = 0;
    for (const std::string& line : run.trace) {
        if (line == kMarkerTrace) {
            ++seen;
            continue;
        }
        if (seen == n + 1) lines.push_back(line);
    }
    EXPECT_GE(seen, n + 2) << "markers missing from the trace";
    return lines;
}

std::vector<std::string> Requests(const std::vector<std::string>& lines) {
    std::vector<std::string> requests;
    for (const std::string& line : lines) {
        if (line.rfind("request ", 0) == 0) requests.push_back(line.substr(8));
    }
    return requests;
}

TEST(RequestOrder, ReloadWritesTheHeaderBeforeTheExtendedSpace) {
    // The extended space is changed after the save, so that the write-back
    // has extended bytes to restore (the machine sees only the bytes a
    // memory-mapped write changes).
    ProgramRun run = RunProgram(std::string("select 4\nclick 1013\n"
                                            "hw write 00:02.0 200 4 cafef00d\n"
                                            "hw write 00:02.0 ffc 4 12345678\n") +
                                    kMarker + "click 1008\n" + kMarker,
                                TracedOnMachine(Fixture("kinds.lspci")));
    ASSERT_FALSE(run.trace.empty()) << "no trace: is quorvenal_traced built?";
    std::vector<std::string> reload = Between(run, 0);
    std::vector<std::string> requests = Requests(reload);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ("222404 00:02.0", requests[0]);
    EXPECT_EQ("222414 00:02.0", requests[1]);
    // After the write-back the function is read and shown: standard reads
    // and extended reads only.
    for (size_t i = 2; i < requests.size(); ++i) {
        EXPECT_TRUE(requests[i] == "222400 00:02.0" || requests[i] == "222410 00:02.0") << requests[i];
    }

    // The machine saw the 64 header doublewords through the ports, in
    // ascending order, every one of them before the first extended write,
    // and then the changed extended bytes through memory-mapped access.
    std::vector<unsigned> portOffsets;
    std::set<unsigned> ecamBytes;
    bool ecamStarted = false;
    for (const std::string& line : reload) {
        char path[8];
        unsigned bus, device, function, offset, size;
        if (sscanf(line.c_str(), "write %7s %x:%x.%x %x %u", path, &bus, &device, &function, &offset,
                   &size) != 6)
            continue;
        EXPECT_EQ(2u, device) << line;
        if (std::string(path) == "ports") {
            EXPECT_FALSE(ecamStarted) << "header written after the extended space: " << line;
            EXPECT_EQ(4u, size);
            portOffsets.push_back(offset);
        } else if (std::string(path) == "ecam") {
            ecamStarted = true;
            EXPECT_GE(offset, 0x100u) << line;
            for (unsigned b = 0; b < size; ++b) ecamBytes.insert(offset + b);
        }
    }
    std::vector<unsigned> ascending;
    for (unsigned offset = 0; offset < 0x100; offset += 4) ascending.push_back(offset);
    EXPECT_EQ(ascending, portOffsets);
    for (unsigned offset : {0x200u, 0x201u, 0x202u, 0x203u, 0xFFCu, 0xFFDu, 0xFFEu, 0xFFFu}) {
        EXPECT_TRUE(ecamBytes.count(offset)) << std::hex << offset;
    }
}

TEST(RequestOrder, EveryRequestIsOneZeroFilledRecordInPlace) {
    // Scan, view, save and reload a PCI Express function and a conventional
    // one: every record goes out zero but for the fields the program sets.
    ProgramRun run = RunProgram(
        "select 4\nclick 1013\nclick 1008\n"
        "select 0\nclick 1014\nclick 1009\nclick 1001\n",
        TracedOnMachine(Fixture("kinds.lspci")));
    ASSERT_FALSE(run.trace.empty()) << "no trace: is quorvenal_traced built?";
    size_t requests = 0;
    for (const std::string& line : run.trace) {
        if (line.rfind("request ", 0) == 0) ++requests;
        EXPECT_EQ(line.find("unclean"), std::string::npos) << line;
        EXPECT_EQ(line.find("split"), std::string::npos) << line;
    }
    EXPECT_GT(requests, 100u);
}

TEST(RequestOrder, ConventionalFunctionGetsOneWriteRequest) {
    ProgramRun run = RunProgram(std::string("click 1013\n") + kMarker + "click 1008\n" + kMarker,
                                TracedOnMachine(Fixture("kinds.lspci")));
    ASSERT_FALSE(run.trace.empty());
    std::vector<std::string> requests = Requests(Between(run, 0));
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ("222404 00:00.0", requests[0]);
    EXPECT_EQ(1, std::count(requests.begin(), requests.end(), "222404 00:00.0"));
    for (const std::string& r : requests) {
        EXPECT_EQ(std::string::npos, r.find("222414")) << r;
        EXPECT_EQ(std::string::npos, r.find("222410")) << r;
    }
}

TEST(RequestOrder, ViewAndSaveReadTheExtendedSpaceOnlyForPciExpress) {
    ProgramRun run = RunProgram(std::string(kMarker) + "select 4\n" + kMarker + "click 1013\n" + kMarker +
                                    "select 3\n" + kMarker + "click 1014\n" + kMarker,
                                TracedOnMachine(Fixture("kinds.lspci")));
    ASSERT_FALSE(run.trace.empty());
    std::vector<std::string> express = {"222400 00:02.0", "222410 00:02.0"};
    std::vector<std::string> pcix = {"222400 00:01.0"};
    EXPECT_EQ(express, Requests(Between(run, 0)));  // view of 00:02.0
    EXPECT_EQ(express, Requests(Between(run, 1)));  // its save
    EXPECT_EQ(pcix, Requests(Between(run, 2)));     // view of the PCI-X function
    EXPECT_EQ(pcix, Requests(Between(run, 3)));     // its save
}

TEST(RequestOrder, EmptySlotsSendNothing) {
    // Never filled, and emptied by a failed save: a reload sends no request.
    ProgramRun run = RunProgram(std::string(kMarker) + "click 1008\nclick 1012\n" + kMarker +
                                    "select 4\nclick 1013\nhw remove 00:02.0\nclick 1013\n" + kMarker +
                                    "click 1008\n" + kMarker,
                                TracedOnMachine(Fixture("kinds.lspci")));
    ASSERT_FALSE(run.trace.empty());
    EXPECT_TRUE(Requests(Between(run, 0)).empty());
    EXPECT_TRUE(Requests(Between(run, 2)).empty());
    ASSERT_EQ(1u, run.msgboxes.size());
}

TEST(RequestOrder, ScanProbesEveryFunctionOfADeviceThatAnswers) {
    // 00:01.0 is a single-function device (header type 0x00), yet functions
    // 1 to 7 are probed; 00:05.0 does not answer, so 00:05.1 is not probed.
    ProgramRun run = RunProgram(kMarker, TracedOnMachine(Fixture("kinds.lspci")));
    ASSERT_FALSE(run.trace.empty());
    std::set<std::string> probed;
    size_t requests = 0;
    for (const std::string& line : run.trace) {
        if (line == kMarkerTrace) break;
        if (line.rfind("request 222400 ", 0) == 0) {
            probed.insert(line.substr(15));
            ++requests;
        }
    }
    for (int f = 1; f < 8; ++f) {
        EXPECT_TRUE(probed.count("00:01." + std::to_string(f))) << f;
        EXPECT_TRUE(probed.count("00:00." + std::to_string(f))) << f;
    }
    EXPECT_TRUE(probed.count("00:05.0"));
    EXPECT_FALSE(probed.count("00:05.1"));
    EXPECT_TRUE(probed.count("ff:1f.0"));
    // 256 x 32 function-0 probes, 7 more for each of the 9 devices whose
    // function 0 answers, and the read that shows row 0 after the scan.
    EXPECT_EQ(8192u + 9 * 7 + 1, requests);
}

}  // namespace
}  // namespace qvtest
