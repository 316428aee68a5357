// qvcli restore's safety rules on the stand-in, each seen on the machine's
// write trace: only the functions named (or the one function of a file),
// --all without host bridges and bridges, a named bridge written, a file of
// another board skipped function by function, and a dry run that lists the
// registers that differ and writes nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "qvcli.h"
#include "restore_args.h"
#include "qvcli_runner.h"

namespace qvtest {

namespace {

// The default machine's host bridge and bridges (class 06, or a bridge's
// header): 00:1f.0 is the LPC bridge, 1c:03.0 a CardBus bridge.
const std::set<std::string> kBridges = {"00:00.0", "00:1c.0", "00:1c.1", "00:1c.2", "00:1c.3",
                                        "00:1c.4", "00:1e.0", "00:1f.0", "1c:03.0"};

std::string Name(const standin::FunctionAddress& address) {
    char text[16];
    snprintf(text, sizeof text, "%02x:%02x.%x", address.bus, address.device, address.function);
    return text;
}

std::set<std::string> AllFunctions() {
    std::set<std::string> names;
    for (const standin::FunctionAddress& address : standin::CurrentMachine().Functions())
        names.insert(Name(address));
    return names;
}

std::set<std::string> Without(std::set<std::string> names, const std::set<std::string>& gone) {
    for (const std::string& name : gone) names.erase(name);
    return names;
}

// The addresses after "will write N function(s):" in a transcript.
std::set<std::string> Announced(const std::string& out) {
    size_t at = out.find("will write ");
    if (at == std::string::npos) return {};
    std::istringstream words(out.substr(out.find(':', at) + 1, out.find('\n', at) - out.find(':', at) - 1));
    std::set<std::string> names;
    for (std::string word; words >> word;) names.insert(word);
    return names;
}

uint32_t ReadNow(const char* function, unsigned offset, unsigned size) {
    uint32_t value = 0;
    EXPECT_TRUE(standin::CurrentMachine().ReadConfig(At(function), offset, &value, size));
    return value;
}

class QvcliRestoreChoice : public QvcliTest {
protected:
    // qvcli with these arguments; the functions the machine received writes
    // for, and how much of the transcript stood before the first write.
    QvcliRun RunTraced(const std::vector<std::string>& args, std::set<std::string>* written,
                       long* beforeFirstWrite = nullptr) {
        std::vector<standin::ConfigWrite> writes;
        long before = -1;
        standin::CurrentMachine().SetWriteObserver([&](const standin::ConfigWrite& write) {
            if (writes.empty()) before = ftell(runningOut_);
            writes.push_back(write);
        });
        QvcliRun run = Run(args);
        standin::CurrentMachine().SetWriteObserver(nullptr);
        if (beforeFirstWrite != nullptr) *beforeFirstWrite = before;
        written->clear();
        for (const standin::ConfigWrite& write : writes) written->insert(Name(write.address));
        return run;
    }

    std::string DumpFile(const std::string& name, const std::vector<std::string>& functions) {
        std::vector<std::string> args = {"dump"};
        args.insert(args.end(), functions.begin(), functions.end());
        QvcliRun dump = Run(args);
        EXPECT_EQ(dump.status, kExitDone) << dump.err;
        return WriteFile(name, dump.out);
    }
};

// Refused before the driver is opened: --verbose shows no diagnostic of it,
// and the machine sees no write.
TEST_F(QvcliRestoreChoice, WithoutANameOnlyTheFunctionOfAOneFunctionFileIsTaken) {
    std::string machine = DumpFile("machine.txt", {});
    std::string host = DumpFile("host.txt", {"00:00.0"});
    std::string bridges = DumpFile("bridges.txt", {"00:1c.0", "1c:03.0"});
    const std::string naming = "qvcli: " + machine +
                               " holds 29 functions, and restore writes only those named:\n"
                               "    qvcli restore " +
                               machine +
                               " 00:02.0\n"
                               "or, for every function of the file but host bridges and bridges (which are "
                               "written only when named):\n"
                               "    qvcli restore --all " +
                               machine +
                               "\n--dry-run before either says what would change and writes nothing.\n";
    struct Refusal {
        std::vector<std::string> args;
        std::string err;
    } refusals[] = {
        {{"restore", machine}, naming},
        {{"restore", "--dry-run", machine}, naming},
        {{"restore", host},
         "qvcli: " + host +
             " holds 00:00.0, a host bridge, which is written only when named:\n    qvcli restore " + host +
             " 00:00.0\n"},
        // Without --all the example to name is the first function, as no
        // other is an endpoint.
        {{"restore", bridges},
         "qvcli: " + bridges +
             " holds 2 functions, and restore writes only those named:\n    qvcli restore " + bridges +
             " 00:1c.0\nor, for every function of the file but host bridges and bridges (which are "
             "written only when named):\n    qvcli restore --all " +
             bridges + "\n--dry-run before either says what would change and writes nothing.\n"},
        {{"restore", "--all", bridges},
         "qvcli: every function of " + bridges +
             " is a host bridge or a bridge, written only when named, e.g.:\n    qvcli restore " + bridges +
             " 00:1c.0\n"},
        {{"restore", machine, "00:1f.3", "00:19.0"}, "qvcli: " + machine + " holds no function 00:19.0\n"},
    };
    for (const Refusal& refusal : refusals) {
        std::vector<std::string> args = {"--verbose"};
        args.insert(args.end(), refusal.args.begin(), refusal.args.end());
        std::set<std::string> written;
        QvcliRun run = RunTraced(args, &written);
        EXPECT_EQ(run.status, kExitBadInput) << refusal.err;
        EXPECT_EQ(run.err, refusal.err);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(written.empty()) << refusal.err;
    }

    std::set<std::string> written;
    QvcliRun one = RunTraced({"restore", DumpFile("smbus.txt", {"00:1f.3"})}, &written);
    EXPECT_EQ(one.status, kExitDone) << one.out;
    EXPECT_EQ(written, std::set<std::string>{"00:1f.3"});
    QvcliRun named = RunTraced({"restore", machine, "00:1f.3", "04:00.0"}, &written);
    EXPECT_EQ(named.status, kExitDone) << named.out;
    EXPECT_EQ(written, (std::set<std::string>{"00:1f.3", "04:00.0"}));
}

TEST_F(QvcliRestoreChoice, AllWritesEveryFunctionButHostBridgesAndBridges) {
    std::string path = DumpFile("machine.txt", {});
    std::set<std::string> written;
    long beforeFirstWrite = 0;
    QvcliRun run = RunTraced({"restore", "--all", path}, &written, &beforeFirstWrite);
    EXPECT_EQ(run.status, kExitDone) << run.out;
    std::set<std::string> expected = Without(AllFunctions(), kBridges);
    ASSERT_EQ(expected.size(), 20u);
    EXPECT_EQ(written, expected);
    // The functions to be written are named before the first write.
    EXPECT_EQ(Announced(run.out.substr(0, beforeFirstWrite)), expected) << run.out;
    EXPECT_NE(run.out.find("00:00.0: left out: a host bridge, written only when named\n"), std::string::npos);
    EXPECT_NE(run.out.find("1c:03.0: left out: a bridge, written only when named\n"), std::string::npos);
    EXPECT_NE(run.out.find(path + ": 20 of 20 function(s) restored, 0 skipped, 0 not restored in full, 9 "
                                  "bridge(s) left out\n"),
              std::string::npos)
        << run.out;

    // Named, a host bridge and a bridge are written, with --all or alone.
    run = RunTraced({"restore", "--all", path, "00:00.0", "1c:03.0"}, &written);
    EXPECT_EQ(run.status, kExitDone) << run.out;
    expected.insert({"00:00.0", "1c:03.0"});
    EXPECT_EQ(written, expected);
    EXPECT_EQ(Announced(run.out), expected);
    run = RunTraced({"restore", DumpFile("host.txt", {"00:00.0"}), "00:00.0"}, &written);
    EXPECT_EQ(run.status, kExitDone) << run.out;
    EXPECT_EQ(written, std::set<std::string>{"00:00.0"});
    EXPECT_NE(run.out.find("will write 1 function(s): 00:00.0\n00:00.0: restored\n"), std::string::npos);
}

// A file that calls a bridge something else does not get it written: what
// the function reads decides as well.
TEST_F(QvcliRestoreChoice, ABridgeByWhatItReadsIsWrittenOnlyWhenNamed) {
    std::string dump = Run({"dump", "00:1f.0"}).out;
    EditDump(&dump, 0x0B, 0x0C);  // serial bus controller, not ISA bridge
    EditDump(&dump, 0x0A, 0x05);
    std::string path = WriteFile("lpc.txt", dump);
    std::set<std::string> written;
    QvcliRun run = RunTraced({"restore", path}, &written);
    EXPECT_EQ(run.status, kExitNotAll);
    EXPECT_TRUE(written.empty());
    EXPECT_EQ(run.out,
              "00:1f.0: skipped: a bridge here, though not in the file; written only when named\n"
              "nothing to write\n" +
                  path + ": 0 of 1 function(s) restored, 1 skipped, 0 not restored in full\n");
    run = RunTraced({"restore", path, "00:1f.0"}, &written);
    EXPECT_EQ(run.status, kExitDone) << run.out;
    EXPECT_EQ(written, std::set<std::string>{"00:1f.0"});
}

// The same chips on another board: another subsystem vendor or number
// throughout, and one function of another revision.
TEST_F(QvcliRestoreChoice, AFileOfAnotherBoardIsSkippedFunctionByFunction) {
    std::string machine = Run({"dump"}).out;
    std::string other;
    std::map<std::string, std::string> subsystems;  // function: "file:here"
    for (size_t start = 0; start < machine.size();) {
        size_t end = machine.find("\n\n", start) + 2;
        std::string function = machine.substr(start, end - start);
        std::string name = function.substr(0, 7);
        start = end;
        unsigned layout = ReadNow(name.c_str(), 0x0E, 1) & 0x7F;
        unsigned at = layout == 0 ? 0x2C : layout == 2 ? 0x40 : 0;
        if (at != 0) {
            uint32_t here = ReadNow(name.c_str(), at, 4);
            // Another board's subsystem vendor, or its subsystem number, in turn:
            // either alone tells the boards apart.
            uint32_t file = here ^ (subsystems.size() % 2 == 0 ? 0x00000001u : 0x00010000u);
            for (unsigned i = 0; i < 4; ++i) EditDump(&function, at + i, (file >> (8 * i)) & 0xFF);
            char text[64];
            snprintf(text, sizeof text, "%04x:%04x in the file, %04x:%04x here", file & 0xFFFF, file >> 16,
                     here & 0xFFFF, here >> 16);
            subsystems[name] = text;
        }
        if (name == "00:1f.2") EditDump(&function, 0x08, ReadNow("00:1f.2", 0x08, 1) + 1);
        other += function;
    }
    std::string path = WriteFile("other.txt", other);

    std::set<std::string> written;
    QvcliRun run = RunTraced({"restore", "--all", path, "1c:03.0"}, &written);
    EXPECT_EQ(run.status, kExitNotAll);
    EXPECT_TRUE(written.empty()) << run.out;
    EXPECT_NE(run.out.find("nothing to write\n" + path +
                           ": 0 of 21 function(s) restored, 21 skipped, 0 not restored in full, 8 bridge(s) "
                           "left out\n"),
              std::string::npos)
        << run.out;
    for (const auto& [name, text] : subsystems) {
        if ((kBridges.count(name) != 0 && name != "1c:03.0") || name == "00:1f.2") continue;
        EXPECT_NE(run.out.find(name + ": skipped: not the function the file was saved from: subsystem " +
                               text + " (--accept-different " + name + " writes it all the same)\n"),
                  std::string::npos)
            << name << "\n"
            << run.out;
    }
    // Both differences of 00:1f.2 are named.
    char revision[192];
    snprintf(
        revision, sizeof revision,
        "00:1f.2: skipped: not the function the file was saved from: revision %02x in the file, %02x here; "
        "subsystem %s (--accept-different 00:1f.2 writes it all the same)\n",
        ReadNow("00:1f.2", 0x08, 1) + 1, ReadNow("00:1f.2", 0x08, 1), subsystems["00:1f.2"].c_str());
    EXPECT_NE(run.out.find(revision), std::string::npos) << revision << "\n" << run.out;
    // Each line of the transcript names a function, or is the summary.
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        bool named = line.size() > 8 && line[2] == ':' && line[5] == '.' && line[7] == ':';
        EXPECT_TRUE(named || line == "nothing to write" || line.rfind(path + ": ", 0) == 0) << line;
    }

    // The user means it for one function: that one alone is written.
    run = RunTraced({"restore", path, "--accept-different", "04:00.0", "--accept-different", "00:1f.2"},
                    &written);
    EXPECT_EQ(run.status, kExitDone) << run.out;
    EXPECT_EQ(written, (std::set<std::string>{"00:1f.2", "04:00.0"}));
}

TEST_F(QvcliRestoreChoice, ADryRunListsTheRegistersThatDifferAndWritesNothing) {
    std::string path = DumpFile("four.txt", {"04:00.0", "00:1c.0", "1c:03.0", "00:1f.3"});
    uint32_t line = ReadNow("04:00.0", 0x3C, 1);
    uint32_t bar = ReadNow("04:00.0", 0x10, 4);
    uint32_t aer = ReadNow("04:00.0", 0x108, 4);
    uint32_t ioBase = ReadNow("00:1c.0", 0x1C, 1);
    uint32_t control = ReadNow("00:1c.0", 0x3E, 2);
    uint32_t base1 = ReadNow("1c:03.0", 0x1C, 4);
    uint32_t legacy = ReadNow("1c:03.0", 0x44, 4);
    standin::Machine& machine = standin::CurrentMachine();
    machine.HardwareWrite(At("04:00.0"), 0x3C, 1, line ^ 0x0F);
    machine.HardwareWrite(At("04:00.0"), 0x10, 4, bar ^ 0xF0000000);
    machine.HardwareWrite(At("04:00.0"), 0x108, 4, aer ^ 0x00112233);
    machine.HardwareWrite(At("04:00.0"), 0x07, 1, ReadNow("04:00.0", 0x07, 1) | 0x40);  // clears on a 1: kept
    machine.HardwareWrite(At("00:1c.0"), 0x1C, 1, ioBase ^ 0x30);
    machine.HardwareWrite(At("00:1c.0"), 0x3E, 2, control ^ 0x0004);
    machine.HardwareWrite(At("1c:03.0"), 0x1C, 4, base1 ^ 0x12345000);
    machine.HardwareWrite(At("1c:03.0"), 0x44, 4, legacy ^ 0x000003E0);

    char expected[1024];
    snprintf(
        expected, sizeof expected,
        "04:00.0: registers that would change (now, file):\n"
        "  010 BAR0: now %08x, file %08x\n"
        "  03c Interrupt Line: now %02x, file %02x\n"
        "  108: now %08x, file %08x\n"
        "00:1c.0: registers that would change (now, file):\n"
        "  01c IO Base: now %02x, file %02x\n"
        "  03e Bridge Control: now %04x, file %04x\n"
        "1c:03.0: registers that would change (now, file):\n"
        "  01c Base1: now %08x, file %08x\n"
        "  044: now %08x, file %08x\n"
        "00:1f.3: nothing would change\n"
        "%s: dry run, nothing written: 3 of 4 function(s) would change, 0 skipped, 0 not compared in full\n",
        bar ^ 0xF0000000, bar, line ^ 0x0F, line, aer ^ 0x00112233, aer, ioBase ^ 0x30, ioBase,
        control ^ 0x0004, control, base1 ^ 0x12345000, base1, legacy ^ 0x000003E0, legacy, path.c_str());
    std::vector<std::string> dryRun = {"restore", "--dry-run", path,     "04:00.0",
                                       "00:1c.0", "1c:03.0",   "00:1f.3"};
    std::set<std::string> written;
    QvcliRun run = RunTraced(dryRun, &written);
    EXPECT_EQ(run.status, kExitNotAll);
    EXPECT_EQ(run.out, expected);
    EXPECT_TRUE(written.empty());

    // After the restore nothing would change; the status bit stays as it is.
    std::vector<std::string> restore = dryRun;
    restore.erase(restore.begin() + 1);
    ASSERT_EQ(Run(restore).status, kExitDone);
    run = RunTraced(dryRun, &written);
    EXPECT_EQ(run.status, kExitDone) << run.out;
    EXPECT_NE(run.out.find(": dry run, nothing written: 0 of 4 function(s) would change"), std::string::npos);
    EXPECT_TRUE(written.empty());
}

// A dry run compares only what the restore would write: a function skipped
// and a bridge left out give no registers, and a function whose extended
// space cannot be read now is compared in its header only and counted.
TEST_F(QvcliRestoreChoice, ADryRunComparesOnlyWhatTheRestoreWouldWrite) {
    std::string dump = Run({"dump", "04:00.0", "00:1c.0"}).out;
    EditDump(&dump, 0x00, ReadNow("04:00.0", 0x00, 1) ^ 0x01);  // another vendor's chip
    std::string path = WriteFile("skipped.txt", dump);
    std::set<std::string> written;
    QvcliRun run = RunTraced({"restore", "--dry-run", "--all", path}, &written);
    EXPECT_EQ(run.status, kExitNotAll);
    EXPECT_TRUE(written.empty());
    EXPECT_NE(run.out.find("04:00.0: skipped: the file holds "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("00:1c.0: left out: a bridge, written only when named\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("would change (now, file)"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("nothing would change"), std::string::npos) << run.out;
    EXPECT_NE(
        run.out.find(path + ": dry run, nothing written: 0 of 1 function(s) would change, 1 skipped, 0 not "
                            "compared in full, 1 bridge(s) left out\n"),
        std::string::npos)
        << run.out;

    // The whole space saved; then the extended space cannot be read.
    std::string whole = DumpFile("whole.txt", {"04:00.0"});
    standin::CurrentMachine().SetEcamBase(standin::Machine::kNoEcam);
    run = RunTraced({"restore", "--dry-run", whole}, &written);
    EXPECT_EQ(run.status, kExitNotAll);
    EXPECT_TRUE(written.empty());
    EXPECT_EQ(run.out,
              "04:00.0: nothing would change\n"
              "04:00.0: the extended space cannot be read, so it is not compared\n" +
                  whole +
                  ": dry run, nothing written: 0 of 1 function(s) would change, 0 skipped, 1 "
                  "not compared in full\n");
}

// A function named twice is one name, written although it differs when
// either naming said --accept-different.
TEST(RestoreArgs, AFunctionNamedTwiceIsNamedOnce) {
    const std::vector<std::vector<std::string>> cases = {
        {"f", "04:00.0", "--accept-different", "04:00.0"},
        {"f", "--accept-different", "4:0.0", "04:00.0"},
        {"--dry-run", "f", "04:00.0", "00:1f.3", "4:00.0"},
    };
    const bool accepted[] = {true, true, false};
    for (size_t c = 0; c < cases.size(); ++c) {
        std::vector<std::string> words = cases[c];
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(&word[0]);
        RestoreArgs args;
        ASSERT_TRUE(ParseRestoreArgs(argv.data(), static_cast<unsigned>(argv.size()), &args, stderr)) << c;
        EXPECT_STREQ(args.Path, "f");
        ASSERT_EQ(args.Names.size(), c == 2 ? 2u : 1u) << c;
        EXPECT_EQ(args.Names[0].Address.Bus, 4u);
        EXPECT_EQ(args.Names[0].AcceptDifferent, accepted[c]) << c;
        EXPECT_EQ(args.DryRun, c == 2);
    }
}

}  // namespace

}  // namespace qvtest
