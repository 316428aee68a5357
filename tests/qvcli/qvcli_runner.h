// Runs qvcli's RunQvcli in this process, on the stand-in's current machine,
// from a folder that holds the driver, and collects what it writes.
#ifndef QUORVENAL_TESTS_QVCLI_RUNNER_H
#define QUORVENAL_TESTS_QVCLI_RUNNER_H

#include <memory>
#include <string>
#include <vector>

#include "machine/machine.h"
#include "service_fixture.h"

namespace qvtest {

struct QvcliRun {
    int status;
    std::string out;
    std::string err;
};

class QvcliTest : public ServiceTest {
protected:
    void SetUp() override;

    // qvcli with these arguments (argv[0] is added).
    QvcliRun Run(const std::vector<std::string>& args);
    // Writes text to a file in the test's folder and returns its path.
    std::string WriteFile(const std::string& name, const std::string& text);
    // The current machine from a file under the source tree, e.g. "tests/fixtures/kinds.lspci".
    void UseMachine(const std::string& sourcePath);
    // From now on the requests with this control code after the first
    // `passing` of them fail as a device the driver lost would (the driver
    // never sees them); FailRequests(0, 0, 0) or the end of the test stops it.
    void FailRequests(unsigned code, unsigned passing, unsigned failing);
    void TearDown() override;

    std::string folder_;
    FILE* runningOut_ = nullptr;  // qvcli's standard output while Run runs
};

std::string ReadWholeFile(const std::string& path);
// Sets the byte at offset of the first function in dump text to value.
void EditDump(std::string* text, unsigned offset, unsigned value);
standin::FunctionAddress At(const char* text);

}  // namespace qvtest

#endif
