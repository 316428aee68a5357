// A machine made from this host's own functions: a snapshot of
// /sys/bus/pci/devices/*/config taken once. Every function is read-only and
// the snapshot is all the machine knows, so no write ever reaches the host's
// hardware. Only domain 0000 is taken; an unprivileged reader sees 64 bytes
// of each function, which is what the snapshot then holds.
#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "machine/machine.h"

namespace standin {

std::unique_ptr<Machine> SysfsMachine(std::string* error) {
    const std::string root = "/sys/bus/pci/devices";
    DIR* dir = opendir(root.c_str());
    if (!dir) {
        *error = root + ": cannot read the directory";
        return nullptr;
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() == 12 && name.compare(0, 5, "0000:") == 0)
            names.push_back(name);
        else if (name.size() == 12 && name[4] == ':')
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());

    auto machine = std::make_unique<Machine>();
    for (const std::string& name : names) {
        if (name.compare(0, 5, "0000:") != 0) {
            machine->NoteSkippedFunction();
            continue;
        }
        FunctionAddress address{};
        if (!ParseFunctionAddress(name.substr(5), &address)) continue;
        std::ifstream in(root + "/" + name + "/config", std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() < 64) continue;
        if (bytes.size() > Machine::kConfigSpaceBytes) bytes.resize(Machine::kConfigSpaceBytes);
        std::string why;
        if (!machine->AddFunction(address, bytes.data(), static_cast<unsigned>(bytes.size()), &why) ||
            !machine->SetReadOnly(address)) {
            *error = root + "/" + name + ": " + why;
            return nullptr;
        }
    }
    if (machine->Functions().empty()) {
        *error = root + ": no readable function in domain 0000";
        return nullptr;
    }
    return machine;
}

}  // namespace standin
