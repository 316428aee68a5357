// qvcli's dump files and the stand-in's machine files are read by one
// lspci-text reader, each with its own layer over it: qvcli keeps every
// function with its domain and passes over the directives, the stand-in
// applies its directives and builds a machine. The same text must be refused
// by both with the same "FILE:LINE: what", and accepted by both alike. And
// the writer's text must read back to its bytes.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "dump_file.h"
#include "dump_text.h"
#include "machine/machine.h"

namespace qvtest {

namespace {

// A data line of sixteen bytes, each the row number plus its column.
std::string Row(unsigned offset) {
    char text[80];
    int at = snprintf(text, sizeof text, offset < 0x100 ? "%02x:" : "%03x:", offset);
    for (unsigned i = 0; i < 16; ++i)
        at += snprintf(text + at, sizeof text - at, " %02x", (offset / 16 + i) & 0xFF);
    return std::string(text) + "\n";
}

// A device line and its rows 00..(rows-1)*16.
std::string Function(const std::string& address, unsigned rows) {
    std::string text = address + " Some device\n";
    for (unsigned row = 0; row < rows; ++row) text += Row(row * 16);
    return text;
}

std::string ReaderError(const std::string& text) {
    std::vector<SpaceImage> functions(1);  // a refused file leaves none of what was there
    std::string error;
    bool ok = ParseDumpText(text, "m.lspci", &functions, &error);
    if (!ok) {
        EXPECT_EQ(functions.size(), 0u) << "a refused file leaves no function";
    }
    return ok ? "accepted" : error;
}

std::string MachineError(const std::string& text) {
    std::string error;
    return standin::LoadMachineText(text, "m.lspci", &error) ? "accepted" : error;
}

struct Malformed {
    const char* what;
    std::string text;
    const char* message;  // the reader's message, which the machine parser must give too
};

class MalformedFile : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedFile, IsRefusedWithTheMachineParsersMessage) {
    const Malformed& c = GetParam();
    EXPECT_EQ(ReaderError(c.text), c.message) << c.what;
    EXPECT_EQ(MachineError(c.text), c.message) << c.what;
}

const std::string kHeader = Function("00:00.0", 4);

INSTANTIATE_TEST_SUITE_P(
    BothParsers, MalformedFile,
    ::testing::Values(
        Malformed{"data before any device", Row(0) + kHeader, "m.lspci:1: data line outside a device"},
        Malformed{"offset not a multiple of 10", kHeader + "48:" + Row(0).substr(3),
                  "m.lspci:6: data offset must be 00..ff0 in steps of 10"},
        Malformed{"offset of four digits", kHeader + "1000:" + Row(0).substr(3),
                  "m.lspci:6: data offset must be 00..ff0 in steps of 10"},
        Malformed{"fifteen bytes", "00:00.0 x\n00: 86 80 00 00 00 00 00 00 00 00 00 00 00 00 00\n",
                  "m.lspci:2: a data line needs 16 bytes"},
        Malformed{"seventeen bytes", kHeader + "40: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n",
                  "m.lspci:6: a data line needs 16 bytes"},
        Malformed{"a row twice", kHeader + Row(0x10), "m.lspci:6: data offset given twice"},
        Malformed{"a byte that is not hexadecimal",
                  kHeader + "40: 00 00 zz 00 00 00 00 00 00 00 00 00 00 00 00 00\n",
                  "m.lspci:6: bad byte 'zz'"},
        Malformed{"a byte of three digits",
                  kHeader + "40: 00 00 100 00 00 00 00 00 00 00 00 00 00 00 00 00\n",
                  "m.lspci:6: bad byte '100'"},
        Malformed{"device number 20", "00:20.0 x\n" + Row(0), "m.lspci:1: device number 20 is above 1f"},
        Malformed{"device number 3f with a domain", "0000:00:3f.1 x\n",
                  "m.lspci:1: device number 3f is above 1f"},
        Malformed{"rows 00..3f missing, noticed at the next device", Function("00:01.0", 3) + kHeader,
                  "m.lspci:1: the function has no data for offsets 00..3f"},
        Malformed{"rows 00..3f missing at the end of the file", kHeader + "\n" + Function("00:01.0", 2),
                  "m.lspci:7: the function has no data for offsets 00..3f"},
        Malformed{"a function twice", kHeader + "\n" + kHeader, "m.lspci:7: function listed twice"},
        Malformed{"the same function with and without its domain", kHeader + Function("0000:00:00.0", 4),
                  "m.lspci:6: function listed twice"},
        Malformed{"an empty file", "", "m.lspci:0: the file holds no function"},
        Malformed{"only comments", "# a dump\n\nnothing here\n", "m.lspci:3: the file holds no function"},
        Malformed{"carriage returns do not excuse a short line", "00:00.0 x\r\n00: 00\r\n",
                  "m.lspci:2: a data line needs 16 bytes"}),
    [](const ::testing::TestParamInfo<Malformed>& info) {
        std::string name;
        for (const char* at = info.param.what; *at != '\0'; ++at)
            name += isalnum((unsigned char)*at) ? *at : '_';
        return name;
    });

TEST(DumpFileReader, AcceptsWhatTheMachineParserAccepts) {
    const std::string files[] = {
        kHeader,
        kHeader + "\n" + Function("00:1f.3", 16) + "\n" + Function("01:00.0", 256),
        // Carriage returns, no final line end, decoded text between the rows.
        "00:00.0 Host bridge\r\n" + Row(0) + "\tControl: I/O+\r\n" + Row(0x10) + Row(0x20) +
            Row(0x30).substr(0, Row(0x30).size() - 1),
        // Another domain's function needs no rows 00..3f and may repeat.
        kHeader + "0001:00:00.0 x\n\n0001:00:00.0 x\n",
    };
    for (const std::string& text : files) {
        EXPECT_EQ(ReaderError(text), "accepted") << text;
        EXPECT_EQ(MachineError(text), "accepted") << text;
    }
}

TEST(DumpFileReader, KeepsBytesRowsDomainsAndLines) {
    std::string text = "# quorvenal ecam-base none\n" + Function("00:1c.0", 4) + "\tCapabilities: [100] x\n" +
                       Row(0x100) + "\n0002:41:01.0 x\n" + Row(0);
    std::vector<SpaceImage> functions;
    std::string error;
    ASSERT_TRUE(ParseDumpText(text, "f", &functions, &error)) << error;
    ASSERT_EQ(functions.size(), 2u);

    const SpaceImage& first = functions[0];
    EXPECT_EQ(first.Address.Bus, 0x00u);
    EXPECT_EQ(first.Address.Device, 0x1Cu);
    EXPECT_EQ(first.Line, 2);
    EXPECT_EQ(first.Bytes[0x31], 0x04);  // row 3, column 1
    EXPECT_EQ(first.Bytes[0x10F], (0x10 + 15) & 0xFF);
    EXPECT_TRUE(first.RowGiven[0x10]);
    EXPECT_FALSE(first.RowGiven[0x04]);
    EXPECT_TRUE(HasExtendedRows(first));

    const SpaceImage& second = functions[1];
    EXPECT_EQ(second.Address.Domain, 2u);
    EXPECT_EQ(second.Address.Bus, 0x41u);
    EXPECT_EQ(second.Line, 10);
    EXPECT_FALSE(HasExtendedRows(second));
}

// Lines "# quorvenal ..." describe a simulated machine, which a dump does
// not restore: the reader passes over them, even those the machine parser refuses.
TEST(DumpFileReader, PassesOverMachineDirectives) {
    std::string text = "# quorvenal no-such-directive\n" + kHeader;
    EXPECT_EQ(ReaderError(text), "accepted");
    EXPECT_EQ(MachineError(text), "m.lspci:1: unknown directive 'no-such-directive'");
}

TEST(DumpFileReader, NamesAMissingFile) {
    std::vector<SpaceImage> functions;
    std::string error;
    EXPECT_FALSE(ReadDumpFile("/nonexistent/dump.txt", &functions, &error));
    EXPECT_EQ(error, "/nonexistent/dump.txt:0: cannot open the file");
    std::string machineError;
    EXPECT_FALSE(standin::LoadMachineFile("/nonexistent/dump.txt", &machineError));
    EXPECT_EQ(machineError, error);
}

// Read in chunks: a last chunk of one byte is kept, and the file is closed
// again, however often it is read.
TEST(DumpFileReader, ReadsToTheLastByteAndLeavesNoFileOpen) {
    std::string text = Function("00:02.0", 16);
    text.pop_back();  // the last row ends the file without a newline
    const size_t kChunk = 8192;
    text.insert(text.find('\n'), kChunk + 1 - text.size(), 'x');  // the device line is for people
    ASSERT_EQ(text.size(), kChunk + 1);
    std::string path = testing::TempDir() + "qv_one_byte_past_a_chunk.txt";
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fwrite(text.data(), 1, text.size(), file);
    ASSERT_EQ(fclose(file), 0);

    auto openFiles = [] {
        size_t count = 0;
        for (int fd = 0; fd < 1024; ++fd) count += fcntl(fd, F_GETFD) != -1 ? 1 : 0;
        return count;
    };
    size_t before = openFiles();
    for (int round = 0; round < 3; ++round) {
        std::vector<SpaceImage> functions;
        std::string error;
        ASSERT_TRUE(ReadDumpFile(path.c_str(), &functions, &error)) << error;
        ASSERT_EQ(functions.size(), 1u);
        EXPECT_EQ(functions[0].Bytes[0xFF], 0x1E);  // row f0, column 15
        EXPECT_EQ(functions[0].Bytes[0xFE], 0x1D);
    }
    EXPECT_EQ(openFiles(), before);
    remove(path.c_str());
}

TEST(SpaceImage, AnyRowPastTheHeaderIsAnExtendedRow) {
    SpaceImage image;
    memset(&image, 0, sizeof image);
    memset(image.RowGiven, 1, kHeaderRows);
    EXPECT_FALSE(HasExtendedRows(image));
    for (unsigned row : {kHeaderRows + 0u, 0x80u, kSpaceRows - 1u}) {
        image.RowGiven[row] = 1;
        EXPECT_TRUE(HasExtendedRows(image)) << row;
        image.RowGiven[row] = 0;
    }
}

TEST(DumpText, ReadsBackToTheSameBytesAndRows) {
    SpaceImage image;
    memset(&image, 0, sizeof image);
    image.Address = {0, 0x1c, 0x03, 4};
    for (unsigned i = 0; i < kSpaceBytes; ++i) image.Bytes[i] = static_cast<QvU8>(i * 7 + i / 256);
    image.Bytes[0x08] = 0;  // no revision: the device line says none
    memset(image.RowGiven, 1, kSpaceRows);

    char* buffer = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&buffer, &length);
    ASSERT_TRUE(WriteSpaceText(out, image));
    fclose(out);
    std::string text(buffer, length);
    free(buffer);

    EXPECT_EQ(text.substr(0, text.find('\n')), "1c:03.4 Unknown: Device 0700:150e");
    EXPECT_NE(text.find("\nf0: "), std::string::npos);
    EXPECT_NE(text.find("\n100: "), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");

    std::vector<SpaceImage> functions;
    std::string error;
    ASSERT_TRUE(ParseDumpText(text, "t", &functions, &error)) << error;
    ASSERT_EQ(functions.size(), 1u);
    EXPECT_EQ(memcmp(functions[0].Bytes, image.Bytes, kSpaceBytes), 0);
    EXPECT_EQ(memcmp(functions[0].RowGiven, image.RowGiven, kSpaceRows), 0);
    EXPECT_TRUE(SamePciAddress(functions[0].Address, image.Address));
}

}  // namespace

}  // namespace qvtest
