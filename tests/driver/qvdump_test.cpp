// qvdump, run as a user runs it: what it prints is the default machine as
// the driver reads it, in a form that our parser and pciutils both read back.
#include <cstdio>
#include <string>

#include "driver_fixture.h"

namespace qvtest {
namespace {

std::string RunCommand(const std::string& command, int* status) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    if (pipe == nullptr) return output;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    *status = pclose(pipe);
    return output;
}

TEST(QvdumpTest, PrintsEveryFunctionOfTheDefaultMachineAsTheDriverReadsIt) {
    int status = -1;
    std::string output = RunCommand(QV_BUILD_ROOT "/qvdump 2>/dev/null", &status);
    ASSERT_EQ(status, 0);
    std::string error;
    std::unique_ptr<standin::Machine> printed = standin::LoadMachineText(output, "qvdump", &error);
    ASSERT_NE(printed, nullptr) << error;
    std::unique_ptr<standin::Machine> machine = standin::DefaultMachine();
    ASSERT_EQ(printed->Functions().size(), machine->Functions().size());
    for (const standin::FunctionAddress& f : machine->Functions()) {
        unsigned char expected[4096];
        unsigned char got[4096];
        ASSERT_TRUE(machine->ReadConfig(f, 0, expected, 256));
        ASSERT_TRUE(printed->ReadConfig(f, 0, got, 256)) << f.bus << ":" << f.device;
        EXPECT_EQ(std::memcmp(expected, got, 256), 0);
    }
    // A PCI Express endpoint's extended space comes through the window.
    unsigned char expected[3840];
    unsigned char got[3840];
    ASSERT_TRUE(machine->ReadConfig({8, 0, 0}, 0x100, expected, sizeof expected));
    ASSERT_TRUE(printed->ReadConfig({8, 0, 0}, 0x100, got, sizeof got));
    EXPECT_EQ(std::memcmp(expected, got, sizeof got), 0);
}

TEST(QvdumpTest, RefusesAMalformedMachineFile) {
    const std::string path = QV_BUILD_ROOT "/qvdump-test-bad.lspci";
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("00:00.0 Host\n00: 86 80\n", file);
    std::fclose(file);
    int status = -1;
    std::string output = RunCommand(QV_BUILD_ROOT "/qvdump --machine " + path + " 2>&1", &status);
    std::remove(path.c_str());
    EXPECT_NE(status, 0);
    EXPECT_NE(output.find("qvdump-test-bad.lspci:2: a data line needs 16 bytes"), std::string::npos)
        << output;
}

}  // namespace
}  // namespace qvtest
