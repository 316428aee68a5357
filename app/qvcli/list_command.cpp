// qvcli list [--json]: one line (or one JSON object) per function the
// dialog's scan lists, in its order.
#include "qvcli.h"

#include "../class_code.h"
#include "scanned_functions.h"

namespace {

enum { kClassTextBytes = 64 };

void WriteListLine(FILE* out, const ScannedFunction& function) {
    char address[kPciAddressText];
    FormatPciAddress(function.Address, address);
    fprintf(out, "%s %06x %04x:%04x%s\n", address, (unsigned)function.ClassCode, (unsigned)function.Vendor,
            (unsigned)function.DeviceId, function.Express ? " PCI Express" : "");
}

// A JSON string: quotes, backslashes and control characters escaped.
void WriteJsonString(FILE* out, const char* text) {
    fputc('"', out);
    for (const unsigned char* at = (const unsigned char*)text; *at != '\0'; ++at) {
        if (*at == '"' || *at == '\\') {
            fprintf(out, "\\%c", *at);
        } else if (*at < 0x20) {
            fprintf(out, "\\u%04x", *at);
        } else {
            fputc(*at, out);
        }
    }
    fputc('"', out);
}

void WriteJsonObject(FILE* out, const ScannedFunction& function) {
    char classText[kClassTextBytes];
    DescribeClassCode(function.ClassCode, classText);
    fprintf(out,
            "{\"bus\": %u, \"device\": %u, \"function\": %u, \"vendor\": \"%04x\", \"device_id\": \"%04x\", "
            "\"class_code\": \"%06x\", \"class_text\": ",
            (unsigned)function.Address.Bus, (unsigned)function.Address.Device,
            (unsigned)function.Address.Function, (unsigned)function.Vendor, (unsigned)function.DeviceId,
            (unsigned)function.ClassCode);
    WriteJsonString(out, classText);
    fprintf(out, ", \"pci_express\": %s}", function.Express ? "true" : "false");
}

}  // namespace

int ListCommand(bool json, FILE* out, FILE* err) {
    std::vector<ScannedFunction> functions;
    if (!ScanFunctions(&functions)) {
        fprintf(err, "qvcli: the bus scan stopped: a request to the driver failed\n");
        return kExitNotAll;
    }
    if (json) {
        fputc('[', out);
        for (size_t i = 0; i < functions.size(); ++i) {
            fputs(i == 0 ? "\n  " : ",\n  ", out);
            WriteJsonObject(out, functions[i]);
        }
        fputs(functions.empty() ? "]\n" : "\n]\n", out);
    } else {
        for (const ScannedFunction& function : functions) WriteListLine(out, function);
    }
    return kExitDone;
}
