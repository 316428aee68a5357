#include "scanned_functions.h"

#include <stdlib.h>

#include "../bus_walk.h"
#include "../class_code.h"

namespace {

QvU32 HeaderWord(const ConfigRequest& header, unsigned offset) {
    return header.Data[offset] | (header.Data[offset + 1] << 8);
}

void AddScanned(const ConfigRequest& header, void* context) {
    ScannedList* list = static_cast<ScannedList*>(context);
    if (list->OutOfMemory) return;
    if (list->Count == list->Capacity) {
        unsigned capacity = list->Capacity == 0 ? 64 : list->Capacity * 2;
        ScannedFunction* items =
            static_cast<ScannedFunction*>(realloc(list->Items, capacity * sizeof(ScannedFunction)));
        if (items == NULL) {
            list->OutOfMemory = true;
            return;
        }
        list->Items = items;
        list->Capacity = capacity;
    }
    ScannedFunction* function = &list->Items[list->Count++];
    function->Address.Domain = 0;
    function->Address.Bus = header.Bus;
    function->Address.Device = header.Device;
    function->Address.Function = header.Function;
    function->Vendor = HeaderWord(header, 0x00);
    function->DeviceId = HeaderWord(header, 0x02);
    function->ClassCode = (header.Data[0x0B] << 16) | (header.Data[0x0A] << 8) | header.Data[0x09];
    function->Express = ClassifyCapabilities(header.Data) == kCapPciExpress;
}

}  // namespace

bool ScanFunctions(ScannedList* list) {
    list->Items = NULL;
    list->Count = 0;
    list->Capacity = 0;
    list->OutOfMemory = false;
    bool walked = WalkBus(AddScanned, list);
    return walked && !list->OutOfMemory;
}

void FreeScannedList(ScannedList* list) {
    free(list->Items);
    list->Items = NULL;
    list->Count = 0;
    list->Capacity = 0;
}
