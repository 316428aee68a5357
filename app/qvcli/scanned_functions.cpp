#include "scanned_functions.h"

#include "../bus_walk.h"
#include "../class_code.h"
#include "../../ioctl/sys/pci_registers.h"

namespace {

void AddScanned(const ConfigRequest& header, void* context) {
    ScannedFunction function;
    function.Address.Domain = 0;
    function.Address.Bus = header.Bus;
    function.Address.Device = header.Device;
    function.Address.Function = header.Function;
    function.Vendor = PciVendorId(header.Data);
    function.DeviceId = PciDeviceId(header.Data);
    function.ClassCode = PciClassCode(header.Data);
    function.Express = ClassifyCapabilities(header.Data) == kCapPciExpress;
    static_cast<std::vector<ScannedFunction>*>(context)->push_back(function);
}

}  // namespace

bool ScanFunctions(std::vector<ScannedFunction>* functions) {
    functions->clear();
    return WalkBus(AddScanned, functions);
}
