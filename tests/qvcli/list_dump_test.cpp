// qvcli list, dump and save in one process on the stand-in, from a folder
// that holds the driver, and its refusals of bad command lines.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <sstream>

#include "driver_request.h"
#include "qvcli.h"
#include "qvcli_runner.h"
#include "win32/device_api.h"
#include "win32/process_options.h"

namespace qvtest {

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

using QvcliList = QvcliTest;

// Every function of a machine whose devices all answer at function 0 is
// listed, in bus, device, function order, with the machine's own bytes.
TEST_F(QvcliList, ListsEveryFunctionWithItsIdentifiersInOrder) {
    UseMachine("tests/fixtures/kinds.lspci");
    QvcliRun run = Run({"list"});
    ASSERT_EQ(run.status, kExitDone) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    std::vector<standin::FunctionAddress> present = standin::CurrentMachine().Functions();
    ASSERT_EQ(lines.size(), present.size()) << run.out;
    for (size_t i = 0; i < present.size(); ++i) {
        uint8_t header[12];
        ASSERT_TRUE(standin::CurrentMachine().ReadConfig(present[i], 0, header, sizeof header));
        char expected[64];
        snprintf(expected, sizeof expected, "%02x:%02x.%x %02x%02x%02x %02x%02x:%02x%02x", present[i].bus,
                 present[i].device, present[i].function, header[11], header[10], header[9], header[1],
                 header[0], header[3], header[2]);
        EXPECT_EQ(lines[i].substr(0, 24), expected) << "row " << i;
    }
}

TEST_F(QvcliList, MarksPciExpressFunctionsAsTheDialogDoes) {
    QvcliRun run = Run({"list"});
    ASSERT_EQ(run.status, kExitDone) << run.err;
    EXPECT_NE(run.out.find("00:1c.0 060400 8086:283f PCI Express\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("04:00.0 020000 11ab:4363 PCI Express\n"), std::string::npos);
    EXPECT_NE(run.out.find("00:1e.0 060401 8086:2448\n"), std::string::npos);
    EXPECT_NE(run.out.find("1c:03.0 060700 1217:7136\n"), std::string::npos);
}

// A machine where no function answers: an empty list, and an empty array.
TEST_F(QvcliList, NoFunctionGivesAnEmptyListAndArray) {
    for (const standin::FunctionAddress& address : standin::CurrentMachine().Functions()) {
        ASSERT_TRUE(standin::CurrentMachine().RemoveFunction(address));
    }
    QvcliRun text = Run({"list"});
    EXPECT_EQ(text.status, kExitDone) << text.err;
    EXPECT_EQ(text.out, "");
    QvcliRun json = Run({"list", "--json"});
    EXPECT_EQ(json.status, kExitDone) << json.err;
    EXPECT_EQ(json.out, "[]\n");
}

TEST_F(QvcliList, JsonHoldsTheSameFunctions) {
    QvcliRun text = Run({"list"});
    QvcliRun json = Run({"list", "--json"});
    ASSERT_EQ(json.status, kExitDone) << json.err;
    EXPECT_EQ(json.out.substr(0, 2), "[\n");
    EXPECT_EQ(json.out.substr(json.out.size() - 3), "\n]\n");
    EXPECT_NE(
        json.out.find(
            "{\"bus\": 0, \"device\": 28, \"function\": 0, \"vendor\": \"8086\", \"device_id\": \"283f\", "
            "\"class_code\": \"060400\", \"class_text\": \"Bridge device\", \"pci_express\": true}"),
        std::string::npos)
        << json.out;
    EXPECT_EQ(Lines(json.out).size(), Lines(text.out).size() + 2);
    // One object a line, each but the last followed by a comma; a
    // conventional function says false.
    std::vector<std::string> lines = Lines(json.out);
    ASSERT_GT(lines.size(), 3u);
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        std::string end = i + 2 < lines.size() ? "}," : "}";
        EXPECT_EQ(lines[i].substr(0, 3), "  {") << lines[i];
        EXPECT_EQ(lines[i].substr(lines[i].size() - end.size()), end) << lines[i];
    }
    EXPECT_NE(
        json.out.find("{\"bus\": 0, \"device\": 30, \"function\": 0, \"vendor\": \"8086\", \"device_id\": "
                      "\"2448\", \"class_code\": \"060401\", "),
        std::string::npos);
    EXPECT_NE(json.out.find("\"060401\", \"class_text\": \"Bridge device\", \"pci_express\": false},\n"),
              std::string::npos)
        << json.out;
}

using QvcliDump = QvcliTest;

TEST_F(QvcliDump, GivesTheHeaderOfEveryFunctionAndTheExtendedSpaceOfPciExpressOnes) {
    QvcliRun run = Run({"dump", "00:1f.3", "04:00.0"});
    ASSERT_EQ(run.status, kExitDone) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    // 00:1f.3: device line, 16 rows, blank; 04:00.0: device line, 256 rows, blank.
    ASSERT_EQ(lines.size(), 18u + 258u);
    EXPECT_EQ(lines[0], "00:1f.3 Serial bus controller: Device 8086:283e (rev 03)");
    EXPECT_EQ(lines[16].substr(0, 3), "f0:");
    EXPECT_EQ(lines[17], "");
    EXPECT_EQ(lines[18].substr(0, 8), "04:00.0 ");
    EXPECT_EQ(lines[18 + 17].substr(0, 4), "100:");
    EXPECT_EQ(lines[18 + 256].substr(0, 4), "ff0:");

    uint8_t expected[16];
    ASSERT_TRUE(standin::CurrentMachine().ReadConfig(At("04:00.0"), 0x100, expected, sizeof expected));
    char row[80];
    int at = snprintf(row, sizeof row, "100:");
    for (uint8_t byte : expected) at += snprintf(row + at, sizeof row - at, " %02x", byte);
    EXPECT_EQ(lines[18 + 17], row);
}

// The device line names the class from all three class bytes: the subclass
// makes 01 06 01 a Serial ATA controller.
TEST_F(QvcliDump, TheDeviceLineNamesTheClassFromItsSubclassToo) {
    QvcliRun run = Run({"dump", "00:1f.2"});
    ASSERT_EQ(run.status, kExitDone) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "00:1f.2 Serial ATA controller: Device 8086:2829 (rev 03)");
}

TEST_F(QvcliDump, WithoutAddressesDumpsWhatListLists) {
    QvcliRun list = Run({"list"});
    QvcliRun dump = Run({"dump"});
    ASSERT_EQ(dump.status, kExitDone) << dump.err;
    std::string addresses;
    for (const std::string& line : Lines(dump.out)) {
        if (!line.empty() && line[2] == ':' && line[5] == '.') addresses += line.substr(0, 7) + "\n";
    }
    std::string listed;
    for (const std::string& line : Lines(list.out)) listed += line.substr(0, 7) + "\n";
    EXPECT_EQ(addresses, listed);
}

TEST_F(QvcliDump, AnAddressWhereNobodyAnswersIsBadInputAndNothingIsPrinted) {
    QvcliRun run = Run({"dump", "00:00.0", "03:00.0"});
    EXPECT_EQ(run.status, kExitBadInput);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "qvcli: 03:00.0: no function answers at this address\n");
}

// Device lines ("bb:dd.f ...") of dump text, as "bb:dd.f".
std::string DumpedAddresses(const std::string& text) {
    std::string addresses;
    for (const std::string& line : Lines(text)) {
        if (line.size() > 7 && line[2] == ':' && line[5] == '.') addresses += line.substr(0, 7) + " ";
    }
    return addresses;
}

// A request the driver never answers (a device it lost): the command names
// it, exits with "not all", and keeps what it read in full.
TEST_F(QvcliDump, ARequestTheDriverNeverAnswersIsNamedAndWhatWasReadIsKept) {
    const std::string everything = DumpedAddresses(Run({"dump"}).out);
    ASSERT_NE(everything.find("04:00.0 "), std::string::npos) << everything;

    FailRequests(IOCTL_READ_CONFIG, 2, 1);  // the bus scan's third read
    QvcliRun list = Run({"list"});
    EXPECT_EQ(list.status, kExitNotAll);
    EXPECT_EQ(list.out, "");
    EXPECT_EQ(list.err, "qvcli: the bus scan stopped: a request to the driver failed\n");

    // The same in a dump of every function: what the scan found before it
    // stopped is dumped.
    FailRequests(IOCTL_READ_CONFIG, 2, 1);
    QvcliRun scan = Run({"dump"});
    EXPECT_EQ(scan.status, kExitNotAll);
    EXPECT_EQ(scan.err, "qvcli: the bus scan stopped: a request to the driver failed\n");
    EXPECT_EQ(DumpedAddresses(scan.out), everything.substr(0, 8)) << scan.out;

    FailRequests(IOCTL_READ_EXT_CONFIG, 0, 1);
    QvcliRun one = Run({"dump", "04:00.0"});
    EXPECT_EQ(one.status, kExitNotAll);
    EXPECT_EQ(one.out, "");
    EXPECT_EQ(one.err, "qvcli: 04:00.0: a request to the driver failed\n");

    // The whole machine with the first PCI Express function's extended read
    // failing: every other function is still dumped.
    FailRequests(IOCTL_READ_EXT_CONFIG, 0, 1);
    QvcliRun all = Run({"dump"});
    EXPECT_EQ(all.status, kExitNotAll);
    ASSERT_EQ(all.err.rfind("qvcli: ", 0), 0u) << all.err;
    std::string lost = all.err.substr(7, 7);
    EXPECT_EQ(all.err, "qvcli: " + lost + ": a request to the driver failed\n");
    std::string rest = everything;
    rest.erase(rest.find(lost + " "), 8);
    EXPECT_EQ(DumpedAddresses(all.out), rest);

    // A request answered as done but with nothing brought back (a status of
    // success that is not STATUS_SUCCESS, without the driver) is not taken.
    standin::SetDeviceControlHook([](DWORD) -> NTSTATUS { return static_cast<NTSTATUS>(0x40000000L); });
    QvcliRun empty = Run({"dump", "04:00.0"});
    standin::SetDeviceControlHook(nullptr);
    EXPECT_EQ(empty.status, kExitNotAll);
    EXPECT_EQ(empty.out, "");
    EXPECT_EQ(empty.err, "qvcli: 04:00.0: a request to the driver failed\n");

    FailRequests(IOCTL_READ_CONFIG, 0, 1);
    QvcliRun save = Run({"save", "04:00.0", folder_ + "/nic.txt"});
    EXPECT_EQ(save.status, kExitNotAll);
    EXPECT_EQ(save.out, "");
    EXPECT_EQ(save.err, "qvcli: 04:00.0: a request to the driver failed\n");
    EXPECT_NE(access((folder_ + "/nic.txt").c_str(), F_OK), 0) << "a file was written";
}

// Addresses are checked before the driver is installed: with --verbose the
// service manager's diagnostics would show otherwise.
TEST_F(QvcliDump, AMalformedAddressIsRefusedBeforeTheDriverIsTouched) {
    QvcliRun run = Run({"--verbose", "dump", "00:1f"});
    EXPECT_EQ(run.status, kExitBadInput);
    EXPECT_EQ(
        run.err,
        "qvcli: '00:1f' is not a function address (bus:device.function in hexadecimal, e.g. 00:1f.3)\n");
    run = Run({"--verbose", "save", "0001:00:02.0", "f.txt"});
    EXPECT_EQ(run.status, kExitBadInput);
    EXPECT_EQ(run.err, "qvcli: 0001:00:02.0: PCI domain 0001 cannot be reached (only domain 0000)\n");
}

TEST_F(QvcliDump, WithoutMemoryMappedConfigurationTheHeaderIsGivenAndTheFailureNamed) {
    std::string text = "# quorvenal ecam-base none\n" +
                       ReadWholeFile(std::string(QUORVENAL_SOURCE_DIR) + "/tests/fixtures/cap-pcie-2.lspci");
    std::string error;
    std::unique_ptr<standin::Machine> machine = standin::LoadMachineText(text, "no-ecam", &error);
    ASSERT_TRUE(machine) << error;
    standin::SetCurrentMachine(std::move(machine));
    std::string express;
    for (const std::string& line : Lines(Run({"list"}).out)) {
        if (express.empty() && line.size() > 12 && line.substr(line.size() - 12) == " PCI Express") {
            express = line.substr(0, 7);
        }
    }
    ASSERT_FALSE(express.empty());

    QvcliRun run = Run({"dump", express});
    EXPECT_EQ(run.status, kExitNotAll);
    EXPECT_EQ(Lines(run.out).size(), 18u) << run.out;
    EXPECT_EQ(run.err,
              "qvcli: " + express +
                  ": the extended space could not be read (no memory-mapped configuration was found)\n");
}

TEST_F(QvcliDump, SaveWritesWhatDumpPrints) {
    QvcliRun dump = Run({"dump", "08:00.0"});
    std::string path = folder_ + "/nvme.txt";
    QvcliRun save = Run({"save", "08:00.0", path});
    ASSERT_EQ(save.status, kExitDone) << save.err;
    EXPECT_EQ(save.out, "08:00.0 saved to " + path + "\n");
    EXPECT_EQ(ReadWholeFile(path), dump.out);

    QvcliRun absent = Run({"save", "08:00.1", folder_ + "/none.txt"});
    EXPECT_EQ(absent.status, kExitBadInput);
    EXPECT_EQ(ReadWholeFile(folder_ + "/none.txt"), "");
}

TEST_F(QvcliDump, WithoutTheRightToManageServicesTheDriverCannotBeOpened) {
    standin::SetAdministrator(false);
    QvcliRun run = Run({"list"});
    EXPECT_EQ(run.status, 1);  // the number docs/qvcli.md gives, as scripts test it
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "qvcli: the driver could not be opened (QUORVENAL.sys must be in the current folder, and qvcli "
              "must run with the right to manage services; --verbose says more)\n");
}

// Output that cannot be written is named, and a save leaves no file behind.
TEST_F(QvcliDump, OutputThatCannotBeWrittenIsNamed) {
    FILE* full = fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    setvbuf(full, nullptr, _IONBF, 0);
    FILE* err = tmpfile();
    std::vector<std::string> words = {"qvcli", "dump", "00:1f.3"};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    int status = RunQvcli(static_cast<int>(words.size()), argv.data(), full, err);
    fclose(full);
    rewind(err);
    char message[256] = {};
    size_t got = fread(message, 1, sizeof message - 1, err);
    fclose(err);
    EXPECT_EQ(status, kExitNotAll);
    EXPECT_EQ(std::string(message, got), "qvcli: the dump could not be written\n");

    QvcliRun run = Run({"save", "00:1f.3", "no-such-folder/smbus.txt"});
    EXPECT_EQ(run.status, kExitBadInput);
    EXPECT_EQ(run.err, "qvcli: no-such-folder/smbus.txt: cannot write the file\n");
    EXPECT_EQ(run.out, "");

    // A file that may not grow past 512 bytes: the function's header text
    // (about 900) is held back until the file is closed, and fails there.
    struct rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    struct rlimit small = limit;
    small.rlim_cur = 512;
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    run = Run({"save", "00:1f.3", "smbus.txt"});
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(run.status, kExitNotAll);
    EXPECT_EQ(run.err, "qvcli: smbus.txt: cannot write the file\n");
    EXPECT_EQ(run.out, "");
    EXPECT_NE(access((folder_ + "/smbus.txt").c_str(), F_OK), 0);
}

// The driver's life around a command: a "QUORVENAL" service an earlier run
// left, with a driver in another folder that does not start, is removed
// before the driver is installed from this one, and no service is left afterwards. -v is
// --verbose.
TEST_F(QvcliDump, AServiceLeftByAnEarlierRunIsReplacedAndNoneIsLeft) {
    std::string elsewhere = MakeFolder("elsewhere");
    PutBrokenDriver(elsewhere);  // registered, but it does not start
    EXPECT_NE(standin::RegisterRunningService("QUORVENAL", ImagePath(elsewhere)), (DWORD)ERROR_SUCCESS);
    ASSERT_NE(ServiceState("QUORVENAL"), 0u);

    QvcliRun run = Run({"list"});
    EXPECT_EQ(run.status, kExitDone) << run.err;
    EXPECT_NE(run.out.find("00:1f.3 "), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ServiceState("QUORVENAL"), 0u);

    QvcliRun verbose = Run({"--verbose", "list"});
    QvcliRun shortly = Run({"-v", "list"});
    EXPECT_NE(verbose.err, "");
    EXPECT_EQ(shortly.err, verbose.err);
    EXPECT_EQ(shortly.out, run.out);
    EXPECT_EQ(ServiceState("QUORVENAL"), 0u);
}

// The usage docs/qvcli.md shows, the indented block after "`qvcli --help`
// prints", is the one the program prints.
std::string DocumentedUsage() {
    std::istringstream doc(ReadWholeFile(std::string(QUORVENAL_SOURCE_DIR) + "/docs/qvcli.md"));
    std::string line;
    while (std::getline(doc, line) && line.rfind("`qvcli --help` prints", 0) != 0) {
    }
    std::getline(doc, line);  // the blank line before the block
    std::string usage;
    while (std::getline(doc, line) && line.rfind("    ", 0) == 0) usage += line.substr(4) + "\n";
    return usage;
}

TEST_F(QvcliDump, BadCommandLinesGetTheUsage) {
    std::string usage = DocumentedUsage();
    ASSERT_EQ(usage.substr(0, 13), "usage: qvcli ");
    for (const char* word : {"--help", "help", "-h"}) {
        QvcliRun help = Run({word});
        EXPECT_EQ(help.status, 0) << word;  // the numbers docs/qvcli.md gives, as scripts test them
        EXPECT_EQ(help.out, usage) << word;
        EXPECT_EQ(help.err, "") << word;
    }

    // Each refusal: what was wrong, then the usage.
    struct Refusal {
        std::vector<std::string> args;
        std::string why;
    } refusals[] = {
        {{}, "qvcli: no command given\n"},
        {{"lsit"}, "qvcli: unknown command 'lsit'\n"},
        {{"list", "--jsn"}, "qvcli: list takes only --json\n"},
        {{"save"}, "qvcli: save takes a function address and a file\n"},
        {{"save", "00:00.0"}, "qvcli: save takes a function address and a file\n"},
        {{"restore"}, "qvcli: restore needs the file to restore from\n"},
        {{"restore", "a", "b"},
         "qvcli: 'b' is not a function address (bus:device.function in hexadecimal, e.g. 00:1f.3)\n"},
        {{"restore", "--dry-run"}, "qvcli: restore needs the file to restore from\n"},
        {{"restore", "--force", "a"}, "qvcli: restore has no option '--force'\n"},
        {{"restore", "a", "--accept-different", "0:0"},
         "qvcli: '0:0' is not a function address (bus:device.function in hexadecimal, e.g. 00:1f.3)\n"},
        {{"restore", "a", "--accept-different"},
         "qvcli: --accept-different needs the function it is for (e.g. --accept-different 04:00.0)\n"}};
    for (const Refusal& refusal : refusals) {
        QvcliRun run = Run(refusal.args);
        EXPECT_EQ(run.status, 2) << refusal.args.size();
        ASSERT_GE(run.err.size(), usage.size()) << run.err;
        EXPECT_EQ(run.err.substr(run.err.size() - usage.size()), usage);
        EXPECT_EQ(run.err.substr(0, run.err.size() - usage.size()), refusal.why);
        EXPECT_EQ(run.out, "");
    }
}

}  // namespace

}  // namespace qvtest
