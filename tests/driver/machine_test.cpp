// The simulated machine: its file format, register semantics, the port pair
// and the memory-mapped window as hardware behaves, and the default machine.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver_fixture.h"

namespace qvtest {
namespace {

std::string LoadError(const std::string& text) {
    std::string error;
    std::unique_ptr<standin::Machine> machine = standin::LoadMachineText(text, "bad.lspci", &error);
    EXPECT_EQ(machine, nullptr) << "accepted:\n" << text;
    return error;
}

const char kHeaderRows[] =
    "00: 86 80 00 2a 06 00 90 20 03 00 00 06 00 00 00 00\n"
    "10: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "20: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "30: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";

TEST(MachineFileTest, MalformedFilesNameTheFileTheLineAndTheFault) {
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {"00:00.0 Host\n00: 86 80\n", "bad.lspci:2: a data line needs 16 bytes"},
        {"00:00.0 Host\n" + std::string(kHeaderRows) +
             "45: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n",
         "bad.lspci:6: data offset must be 00..ff0 in steps of 10"},
        {"00:00.0 Host\n00: 86 80 00 2a 06 00 90 20 03 00 00 06 00 00 00 zz\n", "bad.lspci:2: bad byte 'zz'"},
        {"00: 86 80 00 2a 06 00 90 20 03 00 00 06 00 00 00 00\n", "bad.lspci:1: data line outside a device"},
        {"00:00.0 Host\n00: 86 80 00 2a 06 00 90 20 03 00 00 06 00 00 00 00\n",
         "bad.lspci:1: the function has no data for offsets 00..3f"},
        {"00:00.0 Host\n" + std::string(kHeaderRows).substr(52),
         "bad.lspci:1: the function has no data for offsets 00..3f"},
        // A blank line ends the function: a row after it belongs to none.
        {"00:00.0 Host\n" + std::string(kHeaderRows) + "\n40: " + std::string(47, '0').replace(2, 1, " ") +
             "\n",
         "bad.lspci:7: data line outside a device"},
        // Not a device line (a bus number is two hexadecimal digits), so its rows belong to none.
        {"0g:00.0 Host\n" + std::string(kHeaderRows), "bad.lspci:2: data line outside a device"},
        {"00:00.8 Host\n" + std::string(kHeaderRows), "bad.lspci:2: data line outside a device"},
        {"00:00.0 Host\n00: 86 80 00 2a 06 00 90 20 03 00 00 06 00 00 00 0z\n", "bad.lspci:2: bad byte '0z'"},
        {"00:00.0 Host\n00:\n", "bad.lspci:2: a data line needs 16 bytes"},
        // A long bad byte is quoted up to 64 characters.
        {"00:00.0 Host\n00: 86 80 00 2a 06 00 90 20 03 00 00 06 00 00 00 " + std::string(70, 'z') + "\n",
         "bad.lspci:2: bad byte '" + std::string(64, 'z') + "'"},
        {"00:00.0 Host\n00: 86 80 00 2a 06 00 90 20 03 00 00 06 00 00 00 z0\n", "bad.lspci:2: bad byte 'z0'"},
        {"00:00.0x\n" + std::string(kHeaderRows), "bad.lspci:2: data line outside a device"},
        {"00:20.0 Host\n" + std::string(kHeaderRows), "bad.lspci:1: device number 20 is above 1f"},
        {"00:00.0 Host\n" + std::string(kHeaderRows) + "\n00:00.0 Again\n" + kHeaderRows,
         "bad.lspci:7: function listed twice"},
        {"00:00.0 Host\n" + std::string(kHeaderRows) + "00: " + std::string(47, '0').replace(2, 1, " ") +
             "\n",
         "bad.lspci:6: "},
        {"# quorvenal ecam-base 0x1234\n00:00.0 Host\n" + std::string(kHeaderRows),
         "bad.lspci:1: ecam-base needs a hexadecimal address aligned to 1 MiB, or none"},
        {"# quorvenal read-only 00:01.0\n00:00.0 Host\n" + std::string(kHeaderRows),
         "bad.lspci:1: read-only names a function the file does not hold"},
        {"# quorvenal bar-size 00:00.0 0 0x3000\n00:00.0 Host\n" + std::string(kHeaderRows),
         "bad.lspci:1: BAR size must be a power of two"},
        {"# quorvenal memory 0xe0000000 0x1000\n00:00.0 Host\n" + std::string(kHeaderRows),
         "bad.lspci:1: memory range overlaps the configuration window"},
        {"00:00.0 Host\n" + std::string(kHeaderRows) + "# quorvenal frobnicate 1\n",
         "bad.lspci:6: unknown directive 'frobnicate 1'"},
        {"just some text\n", "bad.lspci:1: the file holds no function"},
    };
    for (const Case& c : cases) {
        std::string error = LoadError(c.text);
        EXPECT_EQ(error.compare(0, c.message.size(), c.message), 0)
            << "got: " << error << "\nwanted: " << c.message;
    }
    std::string error;
    EXPECT_EQ(standin::LoadMachineFile(QV_BUILD_ROOT "/no-such.lspci", &error), nullptr);
    EXPECT_EQ(error, QV_BUILD_ROOT "/no-such.lspci:0: cannot open the file");
}

// What lspci -v prints between a function's rows (one word, a word with a
// colon inside) is passed over without ending the function, and so is space
// at the end of a row.
TEST(MachineFileTest, OtherLinesAndTrailingSpaceDoNotEndAFunction) {
    std::string rows(kHeaderRows);
    std::string text = "00:00.0 Host\n" + rows.substr(0, 52) + "x\nfade:cafe\n" + rows.substr(52, 51) +
                       "\t\n" + rows.substr(104, 51) + " \t \n" + rows.substr(156);
    std::string error;
    std::unique_ptr<standin::Machine> machine = standin::LoadMachineText(text, "ok.lspci", &error);
    ASSERT_NE(machine, nullptr) << error << "\n" << text;
    uint8_t id[4] = {};
    ASSERT_TRUE(machine->ReadConfig({0, 0, 0}, 0, id, sizeof id));
    EXPECT_EQ(id[0] | id[1] << 8 | id[2] << 16 | id[3] << 24, 0x2A008086);

    // A file saved with carriage returns reads the same, directives and a
    // device line of the address alone too.
    std::string crlf = "# quorvenal ecam-base 0x80000000\n# quorvenal bus 05\n00:00.0\n" + rows;
    for (size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2))
        crlf.insert(at, "\r");
    machine = standin::LoadMachineText(crlf, "crlf.lspci", &error);
    ASSERT_NE(machine, nullptr) << error;
    EXPECT_EQ(machine->EcamBase(), 0x80000000ull);
    EXPECT_TRUE(machine->BusExists(5));
}

TEST(MachineFileTest, DirectivesAndOtherDomains) {
    std::string text =
        "# quorvenal ecam-base 0x80000000\n"
        "# quorvenal bus 05\n"
        "# quorvenal read-only 00:00.0\n"
        "# quorvenal bar-size 01:00.0 0 0x1000\n"
        "# quorvenal memory 0x1000 0x1000\n"
        "# quorvenal bytes 0x1800 aa bb\n"
        "00:00.0 Host bridge\n" +
        std::string(kHeaderRows) +
        "\tSubsystem: decoded text that lspci prints is passed over\n\n"
        "0001:00:00.0 Another domain\n" +
        kHeaderRows +
        "\n"
        "01:00.0 Ethernet\n" +
        kHeaderRows + "\n";
    std::string error;
    std::unique_ptr<standin::Machine> machine = standin::LoadMachineText(text, "ok.lspci", &error);
    ASSERT_NE(machine, nullptr) << error;
    EXPECT_EQ(machine->EcamBase(), 0x80000000ull);
    EXPECT_TRUE(machine->BusExists(5));
    EXPECT_FALSE(machine->BusExists(6));
    EXPECT_TRUE(machine->IsReadOnly({0, 0, 0}));
    EXPECT_EQ(machine->SkippedFunctions(), 1u);
    EXPECT_EQ(machine->Functions().size(), 2u);
    unsigned char bytes[2] = {};
    ASSERT_TRUE(machine->PhysicalRead(0x1800, bytes, 2));
    EXPECT_EQ(bytes[0], 0xAA);
    EXPECT_EQ(bytes[1], 0xBB);
    EXPECT_EQ(machine->ClassifyPhysical(0x2000, 2), standin::PhysicalKind::Nothing);

    // BAR 0 of 01:00.0 decodes 4 KiB: sizing reads back 0xFFFFF000.
    machine->PortWrite32(0xCF8, 0x80010010);
    machine->PortWrite32(0xCFC, 0xFFFFFFFF);
    EXPECT_EQ(machine->PortRead32(0xCFC), 0xFFFFF000u);
    // A read-only function keeps everything.
    machine->PortWrite32(0xCF8, 0x80000004);
    machine->PortWrite32(0xCFC, 0);
    EXPECT_EQ(machine->PortRead32(0xCFC), 0x20900006u);

    machine = standin::LoadMachineText("# quorvenal ecam-base none\n00:00.0 H\n" + std::string(kHeaderRows),
                                       "none.lspci", &error);
    ASSERT_NE(machine, nullptr) << error;
    EXPECT_EQ(machine->ClassifyPhysical(0xE0000000, 2), standin::PhysicalKind::Nothing);
}

// A window that starts at a 64 MiB boundary and ends at bus 0x3f: the places
// of the buses past it are whatever lies there (memory a file stores right
// after it, or nothing), while the port pair reaches every bus.
TEST(MachineFileTest, AWindowEndsAtItsLastBus) {
    std::string text =
        "# quorvenal ecam-base 0xf8000000\n"
        "# quorvenal ecam-last-bus 3f\n"
        "# quorvenal bytes 0xfc000000 5a\n"
        "00:00.0 Host bridge\n" +
        std::string(kHeaderRows) + "\n40:00.0 Beyond\n" + kHeaderRows + "\n";
    std::string error;
    std::unique_ptr<standin::Machine> machine = standin::LoadMachineText(text, "end.lspci", &error);
    ASSERT_NE(machine, nullptr) << error;
    EXPECT_EQ(machine->EcamLastBus(), 0x3Fu);
    EXPECT_EQ(machine->ClassifyPhysical(0xF8000000, 2), standin::PhysicalKind::Ecam);
    EXPECT_EQ(machine->ClassifyPhysical(0xFBFFFFFE, 2), standin::PhysicalKind::Ecam) << "bus 0x3f";
    EXPECT_EQ(machine->ClassifyPhysical(0xFC000000, 1), standin::PhysicalKind::Memory) << "bus 0x40's place";
    EXPECT_EQ(machine->ClassifyPhysical(0xFC100000, 2), standin::PhysicalKind::Nothing);
    machine->PortWrite32(0xCF8, 0x80400000);
    EXPECT_EQ(machine->PortRead32(0xCFC), 0x2a008086u) << "40:00.0 through the ports";

    EXPECT_EQ(
        standin::LoadMachineText("# quorvenal ecam-last-bus 100\n00:00.0 H\n" + std::string(kHeaderRows),
                                 "bad.lspci", &error),
        nullptr);
    EXPECT_EQ(error, "bad.lspci:1: ecam-last-bus needs 00..ff");
    EXPECT_EQ(standin::LoadMachineText(
                  "# quorvenal ecam-last-bus 3f\n# quorvenal memory 0xe3f00000 0x1000\n00:00.0 H\n" +
                      std::string(kHeaderRows),
                  "overlap.lspci", &error),
              nullptr)
        << "RAM inside the shorter window";
}

// `memory` lines are the RAM the kernel lists: sorted, touching or
// overlapping ranges joined. `bytes` outside RAM are memory that is not RAM.
TEST(MachineFileTest, MemoryLinesAreTheRamListedAndBytesOutsideThemAreNot) {
    std::string text =
        "# quorvenal memory 0x100000 0x100000\n"
        "# quorvenal memory 0x0 0xa0000\n"
        "# quorvenal memory 0x180000 0x100000\n"
        "# quorvenal memory 0x300000 0x1000\n"
        "# quorvenal bytes 0x20000000 86 80\n"
        "# quorvenal bytes 0x300010 01\n"
        "00:00.0 Host bridge\n" +
        std::string(kHeaderRows);
    std::string error;
    std::unique_ptr<standin::Machine> machine = standin::LoadMachineText(text, "ram.lspci", &error);
    ASSERT_NE(machine, nullptr) << error;
    std::vector<std::pair<uint64_t, uint64_t>> expected = {
        {0x0, 0xa0000}, {0x100000, 0x180000}, {0x300000, 0x1000}};
    EXPECT_EQ(machine->RamRanges(), expected);
    EXPECT_FALSE(machine->IsRam(0x20000000, 2));
    EXPECT_EQ(machine->ClassifyPhysical(0x20000000, 2), standin::PhysicalKind::Memory);
    EXPECT_TRUE(machine->IsRam(0x300010, 1));
    EXPECT_FALSE(machine->IsRam(0xa0000, 0x60000)) << "the hole below 1 MiB";
    EXPECT_TRUE(machine->IsRam(0x9ffff, 0x2));

    machine = standin::DefaultMachine();
    expected = {{0x0, 0xc0000000}};
    EXPECT_EQ(machine->RamRanges(), expected);
}

std::vector<std::string> ListedByPciutils(const std::string& path) {
    std::string command = "lspci -F " + path + " -n 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::vector<std::string> listed;
    if (pipe == nullptr) return listed;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) listed.push_back(std::string(line).substr(0, 7));
    pclose(pipe);
    return listed;
}

// pciutils lists the same functions from our files, passing over every
// kind of directive line.
TEST(MachineFileTest, PciutilsReadsOurFilesTheSameWay) {
    ASSERT_EQ(std::system("lspci --version > /dev/null 2>&1"), 0)
        << "lspci (pciutils) is not installed; tools/install-deps.sh test installs it";
    const std::string withDirectives = QV_BUILD_ROOT "/machine-test-directives.lspci";
    {
        std::ofstream out(withDirectives);
        out << "# quorvenal ecam-base 0x80000000\n# quorvenal bus 05\n"
               "# quorvenal memory 0x1000 0x1000\n# quorvenal bytes 0x1800 aa bb\n"
            << SmallMachineText() << "# quorvenal read-only 00:1d.1\n# quorvenal bar-size 01:00.0 0 0x1000\n";
    }
    for (const std::string& path : {std::string(QV_SOURCE_ROOT "/machines/default.lspci"), withDirectives}) {
        std::string error;
        std::unique_ptr<standin::Machine> machine = standin::LoadMachineFile(path, &error);
        ASSERT_NE(machine, nullptr) << error;
        std::vector<std::string> ours;
        for (const standin::FunctionAddress& f : machine->Functions()) {
            char text[16];
            std::snprintf(text, sizeof text, "%02x:%02x.%u", f.bus, f.device, f.function);
            ours.push_back(text);
        }
        EXPECT_EQ(ListedByPciutils(path), ours) << path;
    }
    std::remove(withDirectives.c_str());
}

class HardwareTest : public ::testing::Test {
protected:
    void SetUp() override { machine_ = MachineFromText(SmallMachineText()); }
    uint32_t ConfigRead(uint32_t address) {
        machine_->PortWrite32(0xCF8, address);
        return machine_->PortRead32(0xCFC);
    }
    void ConfigWrite(uint32_t address, uint32_t value) {
        machine_->PortWrite32(0xCF8, address);
        machine_->PortWrite32(0xCFC, value);
    }
    std::unique_ptr<standin::Machine> machine_;
};

TEST_F(HardwareTest, MechanismOneNeedsTheEnableBitAndAPresentFunction) {
    machine_->PortWrite32(0xCF8, 0x8001ABCF);
    EXPECT_EQ(machine_->PortRead32(0xCF8), 0x8001ABCCu) << "the address register reads back";
    EXPECT_EQ(ConfigRead(0x80000000), 0x2A008086u);
    EXPECT_EQ(ConfigRead(0x00000000), 0xFFFFFFFFu) << "enable bit clear";
    EXPECT_EQ(ConfigRead(0x80002800), 0xFFFFFFFFu) << "no function at 00:05.0";
    uint64_t writes = machine_->ConfigWriteCount();
    ConfigWrite(0x0000003C, 0x0A);  // enable bit clear: nothing is written
    ConfigWrite(0x8000283C, 0x0A);  // absent function
    EXPECT_EQ(machine_->ConfigWriteCount(), writes);
    EXPECT_EQ(ConfigRead(0x8000003C) & 0xFF, 0u);
    EXPECT_EQ(machine_->PortRead32(0x80), 0xFFFFFFFFu) << "a port nobody decodes";
}

TEST_F(HardwareTest, RegisterSemantics) {
    const uint32_t nic = 0x80010000;
    ConfigWrite(nic + 0x00, 0x12345678);
    EXPECT_EQ(ConfigRead(nic + 0x00), 0x436311ABu) << "identification is read-only";
    ConfigWrite(nic + 0x08, 0xFFFFFFFF);
    EXPECT_EQ(ConfigRead(nic + 0x08), 0x02000014u) << "class and revision are read-only";
    ConfigWrite(nic + 0x0C, 0xFFFFFFFF);
    EXPECT_EQ(ConfigRead(nic + 0x0C) & 0x00FF0000, 0u) << "header type is read-only";

    ASSERT_TRUE(machine_->HardwareWrite({1, 0, 0}, 0x06, 2, 0xF910));
    ConfigWrite(nic + 0x04, 0x80000007);  // clear one status bit, set the command
    EXPECT_EQ(ConfigRead(nic + 0x04), 0x79100007u) << "only the bit written with 1 clears";

    // 64-bit memory BAR guessed from its value 0xfe000000: 1 MiB.
    ConfigWrite(nic + 0x10, 0xFFFFFFFF);
    EXPECT_EQ(ConfigRead(nic + 0x10), 0xFFF00004u);
    ConfigWrite(nic + 0x14, 0xFFFFFFFF);
    EXPECT_EQ(ConfigRead(nic + 0x14), 0xFFFFFFFFu) << "the upper half is all address";
    ConfigWrite(nic + 0x18, 0xFFFFFFFF);
    EXPECT_EQ(ConfigRead(nic + 0x18), 0u) << "an unimplemented BAR";

    // An I/O BAR at 0x1880: 128 bytes by its alignment.
    ConfigWrite(0x8000E820, 0xFFFFFFFF);
    EXPECT_EQ(ConfigRead(0x8000E820), 0xFFFFFF81u);

    ASSERT_TRUE(machine_->ResetFunction({1, 0, 0}));
    EXPECT_EQ(ConfigRead(nic + 0x10), 0xFE000004u);
    EXPECT_EQ(ConfigRead(nic + 0x04), 0x00100407u);
}

TEST_F(HardwareTest, CapabilityHeadersAreReadOnlyAndTheRestIsReadWrite) {
    // The extended capability header at 0x100 through the window.
    const uint64_t nicWindow = 0xE0000000ull + (1u << 20);
    unsigned char ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_TRUE(machine_->PhysicalWrite(nicWindow + 0x100, ones, 4));
    ASSERT_TRUE(machine_->PhysicalWrite(nicWindow + 0x108, ones, 4));  // uncorrectable error mask
    unsigned char back[12];
    ASSERT_TRUE(machine_->ReadConfig({1, 0, 0}, 0x100, back, 12));
    EXPECT_EQ(back[0], 0x01);
    EXPECT_EQ(back[2], 0x01);
    EXPECT_EQ(back[8], 0xFF);
    EXPECT_EQ(back[11], 0xFF);
    // A conventional function's offsets past 0xFF read 0 and ignore writes.
    const uint64_t hostWindow = 0xE0000000ull;
    ASSERT_TRUE(machine_->PhysicalWrite(hostWindow + 0x200, ones, 4));
    unsigned char read[2];
    ASSERT_TRUE(machine_->PhysicalRead(hostWindow + 0x200, read, 2));
    EXPECT_EQ(read[0], 0);
    // An absent function reads all ones through the window.
    ASSERT_TRUE(machine_->PhysicalRead(hostWindow + (5u << 15), read, 2));
    EXPECT_EQ(read[0], 0xFF);
}

// The error-reporting capability of the NIC (at 0x100): its status
// registers clear the bits written with 1 and keep the others; the mask is
// plain read/write; the header log is read-only.
TEST_F(HardwareTest, ErrorReportingStatusClearsWhenWrittenWithOne) {
    const standin::FunctionAddress nic{1, 0, 0};
    const uint64_t nicWindow = 0xE0000000ull + (1u << 20);
    for (unsigned status : {0x104u, 0x110u}) {
        ASSERT_TRUE(machine_->HardwareWrite(nic, status, 4, 0x00003011));
        uint32_t value = 0x00001001;  // clears two of the three bits set
        ASSERT_TRUE(machine_->PhysicalWrite(nicWindow + status, &value, 4));
        ASSERT_TRUE(machine_->ReadConfig(nic, status, &value, 4));
        EXPECT_EQ(value, 0x00002010u) << std::hex << status;
        value = 0;  // writing 0 changes nothing
        ASSERT_TRUE(machine_->PhysicalWrite(nicWindow + status, &value, 4));
        ASSERT_TRUE(machine_->ReadConfig(nic, status, &value, 4));
        EXPECT_EQ(value, 0x00002010u) << std::hex << status;
    }
    uint32_t log = 0;
    ASSERT_TRUE(machine_->ReadConfig(nic, 0x11C, &log, 4));
    uint32_t ones = 0xFFFFFFFF;
    ASSERT_TRUE(machine_->PhysicalWrite(nicWindow + 0x11C, &ones, 4));
    uint32_t after = 0;
    ASSERT_TRUE(machine_->ReadConfig(nic, 0x11C, &after, 4));
    EXPECT_EQ(after, log) << "the header log is read-only";
}

TEST_F(HardwareTest, RemovedFunctionsStopAnsweringUntilRestored) {
    ASSERT_TRUE(machine_->RemoveFunction({0, 0x1d, 1}));
    EXPECT_FALSE(machine_->IsPresent({0, 0x1d, 1}));
    EXPECT_EQ(ConfigRead(0x8000E900), 0xFFFFFFFFu);
    EXPECT_TRUE(machine_->BusExists(0));
    ASSERT_TRUE(machine_->RestoreFunction({0, 0x1d, 1}));
    EXPECT_EQ(ConfigRead(0x8000E900), 0x28358086u);
    EXPECT_FALSE(machine_->RemoveFunction({0, 3, 0}));
}

TEST_F(HardwareTest, BusesExistWhereFunctionsOrBridgesPutThem) {
    EXPECT_TRUE(machine_->BusExists(0));
    EXPECT_TRUE(machine_->BusExists(1));  // behind the root port, and holding the NIC
    EXPECT_FALSE(machine_->BusExists(2));
    EXPECT_FALSE(machine_->BusExists(256));
}

// A bridge whose bus numbers run to ff opens every bus up to the last one, a
// bridge with no secondary bus opens none, and declared buses count too.
TEST(MachineBusesTest, BridgeRangesReachTheLastBusAndNoFurther) {
    std::string bridgeToTheEnd =
        "00:01.0 Bridge\n"
        "00: 86 80 01 2a 07 00 10 00 00 00 04 06 00 00 01 00\n"
        "10: 00 00 00 00 00 00 00 00 00 f0 ff 00 00 00 00 00\n"
        "20: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
        "30: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n\n"
        "00:02.0 Bridge without a secondary bus\n"
        "00: 86 80 01 2a 07 00 10 00 00 00 04 06 00 00 01 00\n"
        "10: 00 00 00 00 00 00 00 00 00 00 40 00 00 00 00 00\n"
        "20: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
        "30: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n\n"
        "# quorvenal bus 30\n";
    std::string error;
    std::unique_ptr<standin::Machine> machine =
        standin::LoadMachineText(bridgeToTheEnd, "ends.lspci", &error);
    ASSERT_NE(machine, nullptr) << error;
    std::vector<unsigned> buses;
    for (unsigned bus = 0; bus < 300; ++bus) {
        if (machine->BusExists(bus)) buses.push_back(bus);
    }
    std::vector<unsigned> expected = {0, 0x30};
    for (unsigned bus = 0xF0; bus <= 0xFF; ++bus) expected.push_back(bus);
    EXPECT_EQ(buses, expected);
    EXPECT_FALSE(machine->BusExists(0xFFFFFFFFu));
    // Taking a function off the bus leaves its bus in place, as before.
    ASSERT_TRUE(machine->RemoveFunction({0, 1, 0}));
    EXPECT_TRUE(machine->BusExists(0xF5));
}

// A hardware write is bounded by the end of configuration space whatever its
// offset: offsets near 2^32 must not wrap around into the bytes at the start.
TEST_F(HardwareTest, HardwareWritesPastTheEndAreRefusedWithoutWrapping) {
    const standin::FunctionAddress nic = {1, 0, 0};
    unsigned char before[4];
    ASSERT_TRUE(machine_->ReadConfig(nic, 0, before, 4));
    EXPECT_FALSE(machine_->HardwareWrite(nic, 0xFFFFFFFEu, 4, 0x11223344));
    EXPECT_FALSE(machine_->HardwareWrite(nic, 0xFFFFFFFCu, 4, 0x11223344));
    EXPECT_FALSE(machine_->HardwareWrite(nic, 0xFFE, 4, 0x11223344));
    EXPECT_FALSE(machine_->HardwareWrite(nic, 0x1000, 1, 0x11));
    unsigned char after[4];
    ASSERT_TRUE(machine_->ReadConfig(nic, 0, after, 4));
    EXPECT_EQ(0, std::memcmp(before, after, 4));
    EXPECT_TRUE(machine_->HardwareWrite(nic, 0xFFC, 4, 0x11223344)) << "the last doubleword";
    ASSERT_TRUE(machine_->ReadConfig(nic, 0xFFC, after, 4));
    EXPECT_EQ(after[0], 0x44);
    EXPECT_EQ(after[3], 0x11);
}

TEST(DefaultMachineTest, HoldsTheFunctionsThatTheToolMustHandle) {
    std::unique_ptr<standin::Machine> machine = standin::DefaultMachine();
    ASSERT_GE(machine->Functions().size(), 25u);
    // The window of a mobile chipset of its time: 64 MiB at 0xF0000000, clear
    // of every range the functions on bus 0 decode (graphics at 0xE0000000).
    EXPECT_EQ(machine->EcamBase(), 0xF0000000ull);
    EXPECT_EQ(machine->EcamLastBus(), 0x3Fu);
    auto header = [&](standin::FunctionAddress f, unsigned offset) {
        unsigned char byte = 0;
        EXPECT_TRUE(machine->ReadConfig(f, offset, &byte, 1));
        return byte;
    };
    EXPECT_EQ(header({0x1c, 3, 0}, 0x0E) & 0x7F, 2) << "a CardBus bridge";
    EXPECT_EQ(header({0, 0x1e, 0}, 0x0E) & 0x7F, 1) << "a PCI-to-PCI bridge";
    EXPECT_EQ(header({8, 0, 0}, 0x0B), 0x01);  // NVMe: mass storage 01 08 02
    EXPECT_EQ(header({8, 0, 0}, 0x0A), 0x08);
    EXPECT_EQ(header({0x1c, 5, 0}, 0xE4), 0x07) << "a PCI-X capability";
    // Endpoints of every kind behind root ports: network, NVMe, USB, SATA.
    EXPECT_EQ(header({4, 0, 0}, 0x0B), 0x02);
    EXPECT_EQ(header({0x0c, 0, 0}, 0x0B), 0x0C);  // USB 3.0 xHCI: serial bus 0c 03 30
    EXPECT_EQ(header({0x0c, 0, 0}, 0x09), 0x30);
    EXPECT_EQ(header({0x10, 0, 0}, 0x0B), 0x01);  // SATA AHCI: mass storage 01 06 01
    EXPECT_EQ(header({0x10, 0, 0}, 0x0A), 0x06);
    for (unsigned port = 0; port < 4; ++port) {
        EXPECT_EQ(header({0, 0x1c, port}, 0x0E) & 0x7F, 1) << "root port 1c." << port;
    }
    // Gaps in function numbers.
    EXPECT_TRUE(machine->IsPresent({0, 0x1a, 7}));
    EXPECT_FALSE(machine->IsPresent({0, 0x1a, 2}));
    // Extended capabilities at 0x100 and beyond on the endpoints.
    uint32_t ext = 0;
    ASSERT_TRUE(machine->ReadConfig({4, 0, 0}, 0x100, &ext, 4));
    EXPECT_EQ(ext & 0xFFFF, 0x0001u) << "advanced error reporting";
    // Every function's bus is reachable from bus 0.
    for (const standin::FunctionAddress& f : machine->Functions()) {
        EXPECT_TRUE(machine->BusExists(f.bus)) << f.bus;
    }
}

TEST(SysfsMachineTest, SnapshotIsReadOnly) {
    std::string error;
    std::unique_ptr<standin::Machine> machine = standin::SysfsMachine(&error);
    if (!machine) GTEST_SKIP() << error;
    for (const standin::FunctionAddress& f : machine->Functions()) {
        EXPECT_TRUE(machine->IsReadOnly(f));
        uint32_t before = 0;
        ASSERT_TRUE(machine->ReadConfig(f, 0x3C, &before, 4));
        machine->PortWrite32(0xCF8, 0x80000000u | f.bus << 16 | f.device << 11 | f.function << 8 | 0x3C);
        machine->PortWrite32(0xCFC, ~before);
        uint32_t after = 0;
        ASSERT_TRUE(machine->ReadConfig(f, 0x3C, &after, 4));
        EXPECT_EQ(after, before);
    }
}

}  // namespace
}  // namespace qvtest
