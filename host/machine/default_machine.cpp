// The machine shipped with the stand-in: the text of machines/default.lspci,
// embedded at build time so that the program runs without any file.
#include <cstdio>

#include "machine/machine.h"

namespace standin {

extern const unsigned char kDefaultMachineText[];

std::unique_ptr<Machine> DefaultMachine() {
    std::string error;
    std::unique_ptr<Machine> machine =
        LoadMachineText(reinterpret_cast<const char*>(kDefaultMachineText), "default.lspci", &error);
    if (!machine) {
        // The embedded file is checked by the tests; report rather than crash.
        std::fprintf(stderr, "default machine: %s\n", error.c_str());
        machine = std::make_unique<Machine>();
    }
    return machine;
}

}  // namespace standin
