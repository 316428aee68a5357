// qvcli restore in one process on the stand-in: what the hardware changed
// after a dump comes back, a file of another machine changes nothing, and
// the order of the writes keeps BARs from decoding half written.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "driver_request.h"
#include "qvcli.h"
#include "qvcli_runner.h"
#include "win32/device_api.h"

namespace qvtest {

namespace {

using Space = std::vector<uint8_t>;

std::map<std::string, Space> Snapshot() {
    std::map<std::string, Space> spaces;
    standin::Machine& machine = standin::CurrentMachine();
    for (const standin::FunctionAddress& address : machine.Functions()) {
        Space bytes(standin::Machine::kConfigSpaceBytes);
        EXPECT_TRUE(machine.ReadConfig(address, 0, bytes.data(), static_cast<unsigned>(bytes.size())));
        char name[16];
        snprintf(name, sizeof name, "%02x:%02x.%x", address.bus, address.device, address.function);
        spaces[name] = bytes;
    }
    return spaces;
}

// Offsets (as "name+offset") where two snapshots differ.
std::set<std::string> Differences(const std::map<std::string, Space>& a,
                                  const std::map<std::string, Space>& b) {
    std::set<std::string> where;
    for (const auto& [name, bytes] : a) {
        const Space& other = b.at(name);
        for (size_t offset = 0; offset < bytes.size(); ++offset) {
            if (bytes[offset] != other[offset]) {
                char text[32];
                snprintf(text, sizeof text, "%s+%03zx", name.c_str(), offset);
                where.insert(text);
            }
        }
    }
    return where;
}

using QvcliRestore = QvcliTest;

TEST_F(QvcliRestore, BringsBackEveryWritableByteTheHardwareChanged) {
    standin::Machine& machine = standin::CurrentMachine();
    // A state other than power-on, which the dump then holds.
    machine.HardwareWrite(At("04:00.0"), 0x3C, 1, 0x05);         // interrupt line
    machine.HardwareWrite(At("04:00.0"), 0x108, 4, 0x00112233);  // AER severity, extended space
    machine.HardwareWrite(At("00:1c.0"), 0x1C, 2, 0x3020);       // bridge I/O window
    machine.HardwareWrite(At("08:00.0"), 0xFFC, 4, 0x11223344);  // the last row of all
    std::string path = folder_ + "/machine.txt";
    QvcliRun dump = Run({"dump"});
    ASSERT_EQ(dump.status, kExitDone) << dump.err;
    WriteFile("machine.txt", dump.out);
    std::map<std::string, Space> saved = Snapshot();

    // The hardware loses it, and more: decode off, BARs, bus numbers, the
    // CardBus bridge's windows, device-specific and extended bytes.
    machine.ResetFunction(At("04:00.0"));
    machine.HardwareWrite(At("00:1f.2"), 0x04, 2, 0x0000);
    machine.HardwareWrite(At("00:1f.2"), 0x24, 4, 0x00000000);
    machine.HardwareWrite(At("00:1c.0"), 0x18, 4, 0x00000000);
    machine.HardwareWrite(At("1c:03.0"), 0x1C, 4, 0x12345000);
    machine.HardwareWrite(At("00:1f.3"), 0x40, 4, 0xDEADBEEF);
    machine.HardwareWrite(At("08:00.0"), 0x400, 4, 0xCAFEF00D);
    machine.HardwareWrite(At("08:00.0"), 0xFFC, 4, 0x0BADCAFE);
    // Status bits the function sets and that only clear when written with 1.
    machine.HardwareWrite(At("00:1c.1"), 0x07, 1, 0x20);
    ASSERT_GE(Differences(saved, Snapshot()).size(), 19u);

    // Every function: those of --all and the bridges, named.
    QvcliRun restore = Run({"restore", "--all", path, "00:00.0", "00:1c.0", "00:1c.1", "00:1c.2", "00:1c.3",
                            "00:1c.4", "00:1e.0", "00:1f.0", "1c:03.0"});
    EXPECT_EQ(restore.status, kExitDone) << restore.out << restore.err;
    EXPECT_NE(restore.out.find(path + ": 29 of 29 function(s) restored, 0 skipped, 0 not restored in full\n"),
              std::string::npos)
        << restore.out;
    EXPECT_NE(restore.out.find("04:00.0: restored\n"), std::string::npos);
    EXPECT_EQ(restore.err, "");
    // Only the status bit the hardware keeps is left, and the error-reporting
    // status bits that were set when the space was saved: written back with
    // 1, they cleared, as on hardware (correctable status 0x110, and
    // 14:00.0's uncorrectable status 0x104).
    EXPECT_EQ(Differences(saved, Snapshot()),
              (std::set<std::string>{"00:1c.1+007", "04:00.0+111", "08:00.0+111", "10:00.0+111",
                                     "14:00.0+106", "14:00.0+111"}));
}

// The window moves where the driver cannot find it (not a candidate base):
// the extended write fails, and the restore says so instead of counting the
// function as restored.
TEST_F(QvcliRestore, AnExtendedWriteThatFailsIsNotCountedAsRestored) {
    QvcliRun save = Run({"save", "04:00.0", folder_ + "/nic.txt"});
    ASSERT_EQ(save.status, kExitDone) << save.err;
    standin::CurrentMachine().SetEcamBase(0xE8000000ull);
    QvcliRun restore = Run({"restore", folder_ + "/nic.txt"});
    EXPECT_EQ(restore.status, kExitNotAll) << restore.out;
    EXPECT_NE(restore.out.find("04:00.0: the extended space could not be written\n" + folder_ +
                               "/nic.txt: 0 of 1 function(s) restored, 0 skipped, 1 not restored in full\n"),
              std::string::npos)
        << restore.out;
}

// A request the driver never answers, at each step of one function's
// restore: the step is named, and the function is counted as not restored.
TEST_F(QvcliRestore, EachRequestThatFailsIsNamedAndNotCountedAsRestored) {
    QvcliRun save = Run({"save", "04:00.0", folder_ + "/nic.txt"});
    ASSERT_EQ(save.status, kExitDone) << save.err;
    const std::string summary =
        folder_ + "/nic.txt: 0 of 1 function(s) restored, 0 skipped, 1 not restored in full\n";
    struct Case {
        unsigned code;
        unsigned passing;  // requests of that code that still reach the driver
        const char* named;
    } cases[] = {
        {IOCTL_WRITE_CONFIG, 0, "04:00.0: the header could not be written\n"},  // decoding off
        {IOCTL_WRITE_CONFIG, 1, "04:00.0: the header could not be written\n"},  // decoding back on
        {IOCTL_WRITE_EXT_CONFIG, 0, "04:00.0: the extended space could not be written\n"},
        {IOCTL_READ_CONFIG, 1, "04:00.0: cannot be read back\n"},  // after the check before writing
        {IOCTL_READ_EXT_CONFIG, 1, "04:00.0: cannot be read back\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        FailRequests(c.code, c.passing, 1);
        QvcliRun restore = Run({"restore", folder_ + "/nic.txt"});
        FailRequests(0, 0, 0);
        EXPECT_EQ(restore.status, kExitNotAll) << restore.out;
        EXPECT_NE(restore.out.find(std::string(c.named) + summary), std::string::npos) << restore.out;
    }
    // The read that checks the function before anything is written.
    FailRequests(IOCTL_READ_CONFIG, 0, 1);
    QvcliRun planned = Run({"restore", folder_ + "/nic.txt"});
    FailRequests(0, 0, 0);
    EXPECT_EQ(planned.status, kExitNotAll) << planned.out;
    EXPECT_NE(
        planned.out.find("04:00.0: skipped: a request to the driver failed\nnothing to write\n" + folder_ +
                         "/nic.txt: 0 of 1 function(s) restored, 1 skipped, 0 not restored in full\n"),
        std::string::npos)
        << planned.out;

    // With every request answered again the same file restores in full.
    QvcliRun again = Run({"restore", folder_ + "/nic.txt"});
    EXPECT_EQ(again.status, kExitDone) << again.out;
}

// The memory-mapped window goes between the writes and the read-back: the
// extended space that was written cannot be checked, and the restore says so.
TEST_F(QvcliRestore, AnExtendedSpaceThatCannotBeReadBackIsNotCountedAsRestored) {
    QvcliRun save = Run({"save", "04:00.0", folder_ + "/nic.txt"});
    ASSERT_EQ(save.status, kExitDone) << save.err;
    unsigned extendedReads = 0;
    standin::SetDeviceControlHook([&](DWORD code) -> NTSTATUS {
        if (code == IOCTL_READ_EXT_CONFIG && ++extendedReads == 2) {
            standin::CurrentMachine().SetEcamBase(0xE8000000ull);
        }
        return 0;
    });
    QvcliRun restore = Run({"restore", folder_ + "/nic.txt"});
    standin::SetDeviceControlHook(nullptr);
    EXPECT_EQ(extendedReads, 2u);
    EXPECT_EQ(restore.status, kExitNotAll) << restore.out;
    EXPECT_EQ(restore.out,
              "will write 1 function(s): 04:00.0\n04:00.0: the extended space cannot be read back\n" +
                  folder_ + "/nic.txt: 0 of 1 function(s) restored, 0 skipped, 1 not restored in full\n");
}

// A file that gives only some extended rows, on a machine whose window is
// gone: the rows it does not give cannot be read, so the header alone is
// written and the function is not counted as restored.
TEST_F(QvcliRestore, ExtendedRowsThatCannotBeCompletedLeaveTheHeaderAlone) {
    std::string saved = Run({"dump", "04:00.0"}).out;
    size_t row = saved.find("\n100:");
    ASSERT_NE(row, std::string::npos) << saved;
    saved.erase(row + 1, saved.find('\n', row + 1) - row);
    std::string path = WriteFile("partial.txt", saved);
    standin::Machine& machine = standin::CurrentMachine();
    machine.HardwareWrite(At("04:00.0"), 0x3C, 1, 0x0E);
    machine.SetEcamBase(0xE8000000ull);
    QvcliRun restore = Run({"restore", path});
    EXPECT_EQ(restore.status, kExitNotAll) << restore.out;
    EXPECT_EQ(restore.out,
              "04:00.0: the extended space cannot be read: only the header is restored\n"
              "will write 1 function(s): 04:00.0\n" +
                  path + ": 0 of 1 function(s) restored, 0 skipped, 1 not restored in full\n");
    uint8_t line = 0;
    ASSERT_TRUE(machine.ReadConfig(At("04:00.0"), 0x3C, &line, 1));
    EXPECT_NE(line, 0x0E) << "the header was not written";
}

TEST_F(QvcliRestore, NamesTheBytesThatDidNotTake) {
    // The same machine with one function that ignores every write.
    std::string text = "# quorvenal read-only 00:1f.3\n# quorvenal read-only 04:00.0\n" +
                       ReadWholeFile(std::string(QUORVENAL_SOURCE_DIR) + "/machines/default.lspci");
    std::string error;
    std::unique_ptr<standin::Machine> machine = standin::LoadMachineText(text, "ro", &error);
    ASSERT_TRUE(machine) << error;
    standin::SetCurrentMachine(std::move(machine));
    QvcliRun dump = Run({"dump", "00:1f.3", "00:1f.2", "04:00.0"});
    std::string path = WriteFile("three.txt", dump.out);
    standin::CurrentMachine().HardwareWrite(At("00:1f.3"), 0x41, 1, 0x5A);
    standin::CurrentMachine().HardwareWrite(At("00:1f.2"), 0x3C, 1, 0x09);
    standin::CurrentMachine().HardwareWrite(At("04:00.0"), 0xFFF, 1, 0x5A);  // the last byte of all

    QvcliRun restore = Run({"restore", "--all", path});
    EXPECT_EQ(restore.status, kExitNotAll);
    uint8_t saved = 0;
    ASSERT_TRUE(standin::CurrentMachine().ReadPowerOnConfig(At("00:1f.3"), 0x41, &saved, 1));
    char line[64];
    snprintf(line, sizeof line, "00:1f.3: bytes that did not take:\n  041: wrote %02x, reads 5a\n", saved);
    EXPECT_NE(restore.out.find(line), std::string::npos) << restore.out;
    ASSERT_TRUE(standin::CurrentMachine().ReadPowerOnConfig(At("04:00.0"), 0xFFF, &saved, 1));
    snprintf(line, sizeof line, "04:00.0: bytes that did not take:\n  fff: wrote %02x, reads 5a\n", saved);
    EXPECT_NE(restore.out.find(line), std::string::npos) << restore.out;
    EXPECT_NE(restore.out.find("00:1f.2: restored\n"), std::string::npos);
    EXPECT_NE(restore.out.find(": 1 of 3 function(s) restored, 0 skipped, 2 not restored in full\n"),
              std::string::npos);
}

// What the hardware keeps whatever is written (identifiers, class, header
// type, capability headers, status bits that clear on a 1) is not counted
// against a restore; any other byte that does not take is.
TEST_F(QvcliRestore, DoesNotCountWhatHardwareRefusesToTake) {
    std::string dump = Run({"dump", "04:00.0", "00:1c.0", "1c:03.0"}).out;
    std::string expected = dump;
    // 04:00.0, an endpoint: capabilities at 48, 50, 5c, e0; AER at 100.
    EditDump(&dump, 0x08, 0x77);   // revision
    EditDump(&dump, 0x0B, 0x0D);   // class
    EditDump(&dump, 0x0E, 0x80);   // header type
    EditDump(&dump, 0x2C, 0x00);   // subsystem vendor
    EditDump(&dump, 0x07, 0xF9);   // status bits that clear on a 1
    EditDump(&dump, 0x49, 0x00);   // next pointer of the capability at 48
    EditDump(&dump, 0xE0, 0x11);   // identifier of the capability at e0
    EditDump(&dump, 0x102, 0x22);  // the extended capability's version and next pointer
    std::string path = WriteFile("refused.txt", dump);
    // Another revision and subsystem: written only when the user says so.
    QvcliRun restore = Run({"restore", path, "--accept-different", "04:00.0", "00:1c.0", "1c:03.0"});
    EXPECT_EQ(restore.status, kExitDone) << restore.out;

    // The interrupt pin is read-only too, but no identifier: it is named.
    EditDump(&dump, 0x3D, 0x04);
    path = WriteFile("pin.txt", dump);
    restore = Run({"restore", path, "--accept-different", "04:00.0", "00:1c.0", "1c:03.0"});
    EXPECT_EQ(restore.status, kExitNotAll);
    EXPECT_NE(
        restore.out.find("04:00.0: bytes that did not take:\n  03d: wrote 04, reads 01\n00:1c.0: restored\n"),
        std::string::npos)
        << restore.out;
}

// A dump an unprivileged lspci made holds 64 bytes: the rest is written
// back as the function reads now, and so stays as it is.
TEST_F(QvcliRestore, RowsTheFileDoesNotGiveKeepTheirValues) {
    std::string dump = Run({"dump", "00:1f.3"}).out;
    std::string path = WriteFile("short.txt", dump.substr(0, dump.find("\n40:") + 1));
    standin::Machine& machine = standin::CurrentMachine();
    machine.HardwareWrite(At("00:1f.3"), 0x3C, 1, 0x0E);
    machine.HardwareWrite(At("00:1f.3"), 0x40, 4, 0x01020304);
    QvcliRun restore = Run({"restore", path});
    EXPECT_EQ(restore.status, kExitDone) << restore.out;
    uint8_t line = 0;
    uint32_t specific = 0;
    ASSERT_TRUE(machine.ReadConfig(At("00:1f.3"), 0x3C, &line, 1));
    ASSERT_TRUE(machine.ReadConfig(At("00:1f.3"), 0x40, &specific, 4));
    EXPECT_NE(line, 0x0E);
    EXPECT_EQ(specific, 0x01020304u);

    // A CardBus bridge keeps its subsystem at 0x40, past the 64 bytes: such
    // a file cannot say it is another board's, and the bridge is written.
    std::string cardBus = Run({"dump", "1c:03.0"}).out;
    path = WriteFile("cardbus.txt", cardBus.substr(0, cardBus.find("\n40:") + 1));
    restore = Run({"restore", path, "1c:03.0"});
    EXPECT_EQ(restore.status, kExitDone) << restore.out;
    EXPECT_NE(restore.out.find("1c:03.0: restored\n"), std::string::npos) << restore.out;
}

// Extended rows in the file of a function that is no PCI Express function
// (an edited file) are not written: the header is, and reads back.
TEST_F(QvcliRestore, ExtendedRowsOfAConventionalFunctionAreNotWritten) {
    std::string dump = Run({"dump", "00:1f.3"}).out;
    ASSERT_EQ(dump.find("\n100:"), std::string::npos);
    std::string rows;
    for (unsigned offset = 0x100; offset < 0x1000; offset += 16) {
        char row[64];
        snprintf(row, sizeof row, "%03x: 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff 00\n", offset);
        rows += row;
    }
    std::string path = WriteFile("edited.txt", dump.substr(0, dump.size() - 1) + rows + "\n");
    QvcliRun restore = Run({"restore", path});
    EXPECT_EQ(restore.status, kExitDone) << restore.out;
    EXPECT_NE(restore.out.find("00:1f.3: restored\n"), std::string::npos) << restore.out;
}

TEST_F(QvcliRestore, AFileOfAnotherMachineChangesNothing) {
    for (const char* file : {"tests/fixtures/pcix-server.lspci", "machines/PCI-X-bridges-and-domains",
                             "machines/tree-fsl-p2020"}) {
        std::string path = std::string(QUORVENAL_SOURCE_DIR) + "/" + file;
        uint64_t writes = standin::CurrentMachine().ConfigWriteCount();
        std::map<std::string, Space> before = Snapshot();
        QvcliRun restore = Run({"restore", "--all", path});
        EXPECT_EQ(restore.status, kExitNotAll) << file;
        EXPECT_EQ(standin::CurrentMachine().ConfigWriteCount(), writes) << file << "\n" << restore.out;
        EXPECT_TRUE(Differences(before, Snapshot()).empty()) << file;
        EXPECT_EQ(restore.out.find(": restored\n"), std::string::npos) << restore.out;
    }
}

TEST_F(QvcliRestore, NamesEachFunctionItSkipsAndWhy) {
    std::string file = Run({"dump", "00:1f.3"}).out;  // 00:1f.3 as it is
    std::string copy = file;
    copy.replace(0, 7, "03:00.0");  // no function there
    std::string other = file;
    other.replace(0, 7, "00:02.0");  // the graphics function answers there
    std::string domain = file;
    domain.replace(0, 7, "0001:00:1f.3");
    std::string path = WriteFile("mixed.txt", file + copy + other + domain + Run({"dump", "00:00.0"}).out);

    QvcliRun restore = Run({"restore", "--all", path});
    EXPECT_EQ(restore.status, kExitNotAll);
    EXPECT_EQ(restore.out,
              "03:00.0: skipped: no function answers there\n"
              "00:02.0: skipped: the file holds 8086:283e, the function there is 8086:2a02\n"
              "0001:00:1f.3: skipped: PCI domain 0001 cannot be reached (only domain 0000)\n"
              "00:00.0: left out: a host bridge, written only when named\n"
              "will write 1 function(s): 00:1f.3\n"
              "00:1f.3: restored\n" +
                  path +
                  ": 1 of 4 function(s) restored, 3 skipped, 0 not restored in full, 1 bridge(s) left out\n");
}

TEST_F(QvcliRestore, AMalformedFileIsNamedAndNothingIsWritten) {
    std::string path = WriteFile("bad.txt", "00:00.0 x\n00: 86 80\n");
    uint64_t writes = standin::CurrentMachine().ConfigWriteCount();
    QvcliRun restore = Run({"--verbose", "restore", path});
    EXPECT_EQ(restore.status, kExitBadInput);
    EXPECT_EQ(restore.out, "");
    EXPECT_EQ(restore.err, path + ":2: a data line needs 16 bytes\n");  // and no driver diagnostics
    EXPECT_EQ(standin::CurrentMachine().ConfigWriteCount(), writes);

    // A file that opens but cannot be read (a folder, here) is named so.
    restore = Run({"restore", folder_});
    EXPECT_EQ(restore.status, kExitBadInput);
    EXPECT_EQ(restore.err, folder_ + ":0: cannot read the file\n");
    EXPECT_EQ(standin::CurrentMachine().ConfigWriteCount(), writes);
}

// Every BAR has its saved value before the first command write that turns
// decoding on; the extended space follows the header.
TEST_F(QvcliRestore, WritesTheHeaderWithDecodingOffThenOnThenTheExtendedSpace) {
    QvcliRun dump = Run({"dump", "00:1f.2", "04:00.0"});
    std::string path = WriteFile("two.txt", dump.out);
    standin::CurrentMachine().HardwareWrite(At("00:1f.2"), 0x04, 2, 0x0000);
    standin::CurrentMachine().HardwareWrite(At("04:00.0"), 0x10C, 4, 0x12345678);

    std::vector<standin::ConfigWrite> writes;
    standin::CurrentMachine().SetWriteObserver(
        [&writes](const standin::ConfigWrite& write) { writes.push_back(write); });
    QvcliRun restore = Run({"restore", "--all", path});
    standin::CurrentMachine().SetWriteObserver(nullptr);
    ASSERT_EQ(restore.status, kExitDone) << restore.out;

    for (const char* name : {"00:1f.2", "04:00.0"}) {
        standin::FunctionAddress address = At(name);
        std::set<unsigned> barsWritten;
        bool decoding = false;
        size_t lastPortWrite = 0;
        size_t firstEcamWrite = writes.size();
        for (size_t i = 0; i < writes.size(); ++i) {
            const standin::ConfigWrite& write = writes[i];
            if (!(write.address == address)) continue;
            if (write.path == standin::WritePath::Ports) lastPortWrite = i;
            if (write.path == standin::WritePath::Ecam && firstEcamWrite == writes.size()) firstEcamWrite = i;
            if (write.offset <= 0x04 && write.offset + write.size > 0x04) {
                uint32_t command = write.value >> (8 * (0x04 - write.offset));
                if ((command & 0x3) != 0 && !decoding) {
                    EXPECT_EQ(barsWritten.size(), 6u)
                        << name << ": decoding turned on before every BAR was written";
                    decoding = true;
                }
            }
            for (unsigned bar = 0x10; bar < 0x28; bar += 4) {
                if (write.offset <= bar && write.offset + write.size > bar) barsWritten.insert(bar);
            }
        }
        EXPECT_TRUE(decoding) << name;
        if (std::string(name) == "04:00.0") {
            EXPECT_LT(lastPortWrite, firstEcamWrite) << "the extended space was written before the header";
            EXPECT_LT(firstEcamWrite, writes.size()) << "the extended space was not written";
        }
    }
}

}  // namespace

}  // namespace qvtest
