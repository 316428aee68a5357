// Captures what the code under test writes to standard output (printf), so
// that diagnostics can be compared byte for byte.
#ifndef QUORVENAL_TESTS_SERVICE_CAPTURE_STDOUT_H
#define QUORVENAL_TESTS_SERVICE_CAPTURE_STDOUT_H

#include <string>

namespace qvtest {

class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Ends the capture and returns everything written since it began.
    std::string Finish();

private:
    int savedFd_ = -1;
    int captureFd_ = -1;
};

}  // namespace qvtest

#endif
