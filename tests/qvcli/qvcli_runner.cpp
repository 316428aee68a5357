#include "qvcli_runner.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "qvcli.h"
#include "win32/device_api.h"

namespace qvtest {

namespace {

std::string Drain(FILE* file) {
    std::string text;
    rewind(file);
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    fclose(file);
    return text;
}

}  // namespace

void QvcliTest::SetUp() {
    ServiceTest::SetUp();
    folder_ = MakeFolder("run");
    PutDriver(folder_);
    Enter(folder_);
}

void QvcliTest::TearDown() {
    standin::SetDeviceControlHook(nullptr);
    ServiceTest::TearDown();
}

void QvcliTest::FailRequests(unsigned code, unsigned passing, unsigned failing) {
    if (failing == 0) {
        standin::SetDeviceControlHook(nullptr);
        return;
    }
    auto seen = std::make_shared<unsigned>(0);
    standin::SetDeviceControlHook([=](DWORD sent) -> NTSTATUS {
        if (sent != code) return 0;
        unsigned index = (*seen)++;
        const NTSTATUS kDeviceGone = static_cast<NTSTATUS>(0xC00000C0L);  // STATUS_DEVICE_DOES_NOT_EXIST
        return index >= passing && index < passing + failing ? kDeviceGone : 0;
    });
}

QvcliRun QvcliTest::Run(const std::vector<std::string>& args) {
    std::vector<std::string> words = {"qvcli"};
    words.insert(words.end(), args.begin(), args.end());
    // Exactly as long as the arguments and their end mark, so that a read
    // past the end is caught.
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    QvcliRun run;
    runningOut_ = out;
    run.status = RunQvcli(static_cast<int>(words.size()), argv.data(), out, err);
    runningOut_ = nullptr;
    run.out = Drain(out);
    run.err = Drain(err);
    return run;
}

std::string QvcliTest::WriteFile(const std::string& name, const std::string& text) {
    std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

void QvcliTest::UseMachine(const std::string& sourcePath) {
    std::string error;
    std::unique_ptr<standin::Machine> machine =
        standin::LoadMachineFile(std::string(QUORVENAL_SOURCE_DIR) + "/" + sourcePath, &error);
    ASSERT_TRUE(machine) << error;
    standin::SetCurrentMachine(std::move(machine));
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void EditDump(std::string* text, unsigned offset, unsigned value) {
    char label[8];
    snprintf(label, sizeof label, offset < 0x100 ? "\n%02x:" : "\n%03x:", offset & ~0xFu);
    size_t row = text->find(label);
    ASSERT_NE(row, std::string::npos) << label;
    size_t at = row + strlen(label) + 1 + 3 * (offset & 0xF);
    char byte[3];
    snprintf(byte, sizeof byte, "%02x", value);
    text->replace(at, 2, byte);
}

standin::FunctionAddress At(const char* text) {
    standin::FunctionAddress address{};
    EXPECT_TRUE(standin::ParseFunctionAddress(text, &address)) << text;
    return address;
}

}  // namespace qvtest
