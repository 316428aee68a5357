// The device list compared with what pciutils' lspci, an independent reader,
// reports for the same machine: the real-hardware fixture files, the default
// machine's own file, and this host's functions.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "program_run.h"
#include "type_texts.h"

namespace qvtest {
namespace {

// One function as lspci describes it, in the device list's own terms.
struct Described {
    std::string address;    // item data: 8 upper-case hex digits
    std::string vendor;     // "%04X"
    std::string device;     // "%04X"
    std::string classCode;  // "%06x"
    int headerType = 0;     // 0, 1 or 2; -1 for a type lspci does not know
    bool express = false;   // first capability of interest is PCI Express
};

std::string Upper(std::string s) {
    for (char& c : s) c = (char)toupper((unsigned char)c);
    return s;
}

// Runs a shell command and returns what it wrote to standard output.
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

// lspci is part of what the test command installs: without it the
// comparisons fail rather than pass unseen.
bool HaveLspci() { return system("lspci --version >/dev/null 2>&1") == 0; }
const char kNoLspci[] = "lspci (pciutils) is not installed; tools/install-deps.sh test installs it";

// Address "[DDDD:]BB:DD.F" to item data; false for another domain.
bool ItemData(const std::string& address, std::string* itemData) {
    std::string bdf = address;
    if (bdf.size() > 8) {
        if (bdf.substr(0, 5) != "0000:") return false;
        bdf = bdf.substr(5);
    }
    unsigned bus = strtoul(bdf.substr(0, 2).c_str(), nullptr, 16);
    unsigned dev = strtoul(bdf.substr(3, 2).c_str(), nullptr, 16);
    unsigned fn = strtoul(bdf.substr(6, 1).c_str(), nullptr, 16);
    char text[16];
    snprintf(text, sizeof text, "%08X", (bus << 16) | (dev << 8) | fn);
    *itemData = text;
    return true;
}

// Reads `lspci -nmm` (identifiers, class, programming interface) and
// `lspci -vvv` (capabilities, bridge windows) for source, e.g. "-F FILE".
std::vector<Described> Lspci(const std::string& source) {
    std::vector<Described> functions;
    std::map<std::string, size_t> index;
    std::istringstream mm(Capture("lspci " + source + " -D -nmm 2>/dev/null"));
    std::string line;
    while (std::getline(mm, line)) {
        // 0000:00:1f.2 "0106" "8086" "2829" -r03 -p01 "10cf" "1423"
        std::istringstream fields(line);
        std::string address, cls, vendor, device, word;
        fields >> address >> cls >> vendor >> device;
        Described d;
        if (!ItemData(address, &d.address)) continue;
        std::string progIf = "00";
        while (fields >> word) {
            if (word.size() == 4 && word.substr(0, 2) == "-p") progIf = word.substr(2);
        }
        auto unquote = [](const std::string& s) { return s.substr(1, s.size() - 2); };
        d.classCode = unquote(cls) + progIf;
        d.vendor = Upper(unquote(vendor));
        d.device = Upper(unquote(device));
        index[d.address] = functions.size();
        functions.push_back(d);
    }

    std::istringstream vvv(Capture("lspci " + source + " -D -vvv 2>/dev/null"));
    Described* current = nullptr;
    bool decided = false;
    while (std::getline(vvv, line)) {
        if (!line.empty() && line[0] != '\t' && line[0] != ' ') {
            std::string address = line.substr(0, line.find(' '));
            std::string data;
            current = nullptr;
            if (ItemData(address, &data) && index.count(data)) {
                current = &functions[index[data]];
            }
            decided = false;
            continue;
        }
        if (!current) continue;
        if (line.find("behind bridge:") != std::string::npos) current->headerType = 1;
        if (line.find("Unknown header type") != std::string::npos) current->headerType = -1;
        if (line.find("Memory window 0:") != std::string::npos ||
            line.find("I/O window 0:") != std::string::npos)
            current->headerType = 2;
        // Top-level capabilities only ("[e0]", not "[100 v1]"), in list order.
        size_t cap = line.find("Capabilities: [");
        if (cap == std::string::npos || decided) continue;
        size_t close = line.find(']', cap);
        if (close - cap != 17) continue;  // two hex digits between the brackets
        std::string rest = line.substr(close + 2);
        if (rest.rfind("Express", 0) == 0) {
            current->express = true;
            decided = true;
        } else if (rest.rfind("PCI-X", 0) == 0) {
            decided = true;
        }
    }
    return functions;
}

// The "Type" text the device list shows for lspci's class code "ccss[pp]".
std::string TypeText(const std::string& classCode) {
    unsigned baseClass = strtoul(classCode.substr(0, 2).c_str(), nullptr, 16);
    unsigned subclass = strtoul(classCode.substr(2, 2).c_str(), nullptr, 16);
    return ExpectedTypeText(baseClass, subclass);
}

// Runs the program on machine, selects every row and dumps it, and checks
// each row against lspci's description of the same function.
void CompareWithLspci(const std::string& machine, const std::string& lspciSource, bool checkHeaderTypes) {
    std::vector<Described> expected = Lspci(lspciSource);
    // A machine file always lists something; a host may have no PCI
    // functions, and then the program must list none either.
    if (!lspciSource.empty()) {
        ASSERT_FALSE(expected.empty()) << "lspci " << lspciSource << " listed nothing";
    }

    std::string script = "dump\n";
    if (checkHeaderTypes) {
        for (size_t row = 0; row < expected.size(); ++row) {
            script += "select " + std::to_string(row) + "\ndump\n";
        }
    }
    ProgramRun run = RunProgram(script, OnMachine(machine));
    ASSERT_FALSE(run.dumps.empty()) << run.out << run.err;
    const Dump& list = run.dumps[0];
    ASSERT_EQ(expected.size(), list.devices.size());
    for (size_t row = 0; row < expected.size(); ++row) {
        const Described& want = expected[row];
        const ReportLine& got = list.devices[row];
        ASSERT_EQ(9u, got.size());
        SCOPED_TRACE("row " + std::to_string(row) + " " + want.address);
        EXPECT_EQ(want.address, got[0]);
        EXPECT_EQ(TypeText(want.classCode), got[1]);
        unsigned long item = strtoul(want.address.c_str(), nullptr, 16);
        EXPECT_EQ(std::to_string(item >> 16), got[2]);  // decimal numbers
        EXPECT_EQ(std::to_string((item >> 8) & 0xFF), got[3]);
        EXPECT_EQ(std::to_string(item & 0xFF), got[4]);
        EXPECT_EQ(want.classCode, got[5]);
        EXPECT_EQ(want.vendor, got[6]);
        EXPECT_EQ(want.device, got[7]);
        EXPECT_EQ(want.express ? "PCI Express" : "", got[8]);
        if (!checkHeaderTypes) continue;
        ASSERT_GT(run.dumps.size(), row + 1);
        // A header type without a layout has no "Header Type" row to show.
        std::string headerByte = RegisterValue(run.dumps[row + 1], "Header Type");
        int type =
            headerByte.rfind("<no row", 0) == 0 ? -1 : (int)(strtoul(headerByte.c_str(), nullptr, 16) & 0x7F);
        EXPECT_EQ(want.headerType, type) << headerByte;
        // A PCI Express function shows its extended space too.
        std::vector<std::string> names = RegisterNames(run.dumps[row + 1]);
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(want.express ? "Device Specific [FF0]" : "Device Specific [F0]", names.back());
    }
}

class AgainstLspci : public ::testing::TestWithParam<const char*> {};

TEST_P(AgainstLspci, MatchesLspciOnTheSameFile) {
    ASSERT_TRUE(HaveLspci()) << kNoLspci;
    std::string file = Fixture(GetParam());
    CompareWithLspci(file, "-F " + file, true);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AgainstLspci,
                         ::testing::Values("fujitsu-p8010.lspci", "pcix-server.lspci", "cap-aer-root.lspci",
                                           "cap-pcie-2.lspci", "cap-ht.lspci", "kinds.lspci",
                                           "cardbus-express.lspci"));

TEST(DefaultMachine, MatchesLspciOnItsFile) {
    ASSERT_TRUE(HaveLspci()) << kNoLspci;
    std::string file = std::string(QUORVENAL_SOURCE_DIR) + "/" + QUORVENAL_DEFAULT_MACHINE;
    struct stat info;
    ASSERT_EQ(0, stat(file.c_str(), &info)) << file;
    CompareWithLspci("", "-F " + file, true);
}

TEST(ThisHost, SysfsMachineMatchesLspci) {
    ASSERT_TRUE(HaveLspci()) << kNoLspci;
    CompareWithLspci("sysfs", "", false);
}

}  // namespace
}  // namespace qvtest
