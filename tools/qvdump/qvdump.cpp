// qvdump: loads QUORVENAL.sys into the stand-in kernel over a simulated
// machine and prints what the driver reads of every function, in the text
// format of `lspci -xxxx` (so `lspci -F` can read the output back).
//
//   qvdump [--machine FILE | --sysfs] [--driver PATH]
//
// Without --machine the default machine is used; without --driver the
// QUORVENAL.sys beside this program.
#include <ntddk.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "kernel/io_manager.h"
#include "machine/machine.h"
#include "quorvenal_ioctl.h"

namespace {

std::string ProgramFolder() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    path[length] = '\0';
    std::string text(path);
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? "." : text.substr(0, slash);
}

void PrintRows(const unsigned char* bytes, unsigned firstOffset, unsigned length) {
    for (unsigned row = 0; row < length; row += 16) {
        std::printf("%02x:", firstOffset + row);
        for (unsigned i = 0; i < 16; ++i) std::printf(" %02x", bytes[row + i]);
        std::printf("\n");
    }
}

// Whether the header's capability list holds a PCI Express capability.
bool IsExpress(const unsigned char* header) {
    if (!(header[0x06] & 0x10)) return false;
    unsigned pointer = (header[0x0E] & 0x7F) == 2 ? 0x14 : 0x34;
    unsigned next = header[pointer] & 0xFC;
    for (int guard = 0; next >= 0x40 && guard < 48; ++guard) {
        if (header[next] == 0x10) return true;
        next = header[next + 1] & 0xFC;
    }
    return false;
}

int Usage() {
    std::fprintf(stderr, "usage: qvdump [--machine FILE | --sysfs] [--driver PATH]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string machinePath;
    bool sysfs = false;
    std::string driverPath = ProgramFolder() + "/" QUORVENAL_DRIVER_NAME ".sys";
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--machine" && i + 1 < argc) {
            machinePath = argv[++i];
        } else if (argument == "--driver" && i + 1 < argc) {
            driverPath = argv[++i];
        } else if (argument == "--sysfs") {
            sysfs = true;
        } else {
            return Usage();
        }
    }

    std::string error;
    if (!machinePath.empty()) {
        std::unique_ptr<standin::Machine> machine = standin::LoadMachineFile(machinePath, &error);
        if (!machine) {
            std::fprintf(stderr, "qvdump: %s\n", error.c_str());
            return 1;
        }
        standin::SetCurrentMachine(std::move(machine));
    } else if (sysfs) {
        std::unique_ptr<standin::Machine> machine = standin::SysfsMachine(&error);
        if (!machine) {
            std::fprintf(stderr, "qvdump: %s\n", error.c_str());
            return 1;
        }
        standin::SetCurrentMachine(std::move(machine));
    }

    standin::LoadedDriver* driver = nullptr;
    NTSTATUS status = standin::LoadDriver(driverPath, QUORVENAL_DRIVER_NAME, &driver);
    if (status != STATUS_SUCCESS) {
        std::fprintf(stderr, "qvdump: cannot load %s (status 0x%08X)\n", driverPath.c_str(),
                     static_cast<unsigned>(status));
        return 1;
    }
    standin::OpenFile* file = nullptr;
    status = standin::OpenDevice(QUORVENAL_LINK_NAME, &file);
    if (status != STATUS_SUCCESS) {
        std::fprintf(stderr, "qvdump: cannot open the device (status 0x%08X)\n",
                     static_cast<unsigned>(status));
        standin::UnloadDriver(driver);
        return 1;
    }

    int functions = 0;
    int failures = 0;
    static ExtConfigRequest ext;
    for (unsigned bus = 0; bus < 256; ++bus) {
        for (unsigned device = 0; device < 32; ++device) {
            for (unsigned function = 0; function < 8; ++function) {
                ConfigRequest request;
                std::memset(&request, 0, sizeof request);
                request.Bus = bus;
                request.Device = device;
                request.Function = function;
                ULONG returned = 0;
                status = standin::DeviceControl(file, IOCTL_READ_CONFIG, &request, sizeof request, &request,
                                                sizeof request, &returned);
                if (status != STATUS_SUCCESS || returned != sizeof request) {
                    ++failures;
                    continue;
                }
                if (request.Result == kResultNoBus || request.Result == kResultNoFunction) continue;
                ++functions;
                std::printf("%02x:%02x.%u Class %02x%02x: Device %02x%02x:%02x%02x (rev %02x)\n", bus, device,
                            function, request.Data[0x0B], request.Data[0x0A], request.Data[1],
                            request.Data[0], request.Data[3], request.Data[2], request.Data[0x08]);
                PrintRows(request.Data, 0, 256);
                if (IsExpress(request.Data)) {
                    std::memset(&ext, 0, sizeof ext);
                    ext.Bus = bus;
                    ext.Device = device;
                    ext.Function = function;
                    status = standin::DeviceControl(file, IOCTL_READ_EXT_CONFIG, &ext, sizeof ext, &ext,
                                                    sizeof ext, &returned);
                    if (status == STATUS_SUCCESS && ext.Result == kResultExtDone) {
                        PrintRows(ext.ExtData, 0x100, sizeof ext.ExtData);
                    } else {
                        ++failures;
                    }
                }
                std::printf("\n");
            }
        }
    }
    standin::CloseDevice(file);
    standin::UnloadDriver(driver);
    std::fprintf(stderr, "qvdump: %d functions read, %d requests failed\n", functions, failures);
    return failures == 0 ? 0 : 1;
}
