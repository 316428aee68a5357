// Function numbers of a multi-function device need not be contiguous (0, 2, 3
// is common), so once function 0 has answered every function number 1..7 is
// probed, and one that does not answer is passed over. A device whose
// function 0 does not answer is left at once; the multi-function bit of the
// header type is not consulted.
#include "bus_walk.h"

#include <string.h>

#include "diagnostics.h"
#include "../ioctl/sys/pci_registers.h"

namespace {

enum {
    kBusCount = 256,
    kDeviceCount = 32,
    kFunctionCount = 8,
};

const unsigned int kNobodyHome = 0xFFFF;

}  // namespace

bool WalkBus(FunctionVisitor visit, void* context) {
    ConfigRequest request;
    for (QvU32 bus = 0; bus < kBusCount; ++bus) {
        for (QvU32 device = 0; device < kDeviceCount; ++device) {
            for (QvU32 function = 0; function < kFunctionCount; ++function) {
                memset(&request, 0, sizeof request);
                request.Bus = bus;
                request.Device = device;
                request.Function = function;
                if (!SendDriverRequest(IOCTL_READ_CONFIG, &request, sizeof request)) return false;
                if (!FunctionAnswered(request)) {
                    if (request.Result == kResultNoFunction && PciVendorId(request.Data) != kNobodyHome) {
                        PrintDiagnostic("Error\n");
                    }
                    if (function == 0) break;
                    continue;
                }
                visit(request, context);
            }
        }
    }
    return true;
}
