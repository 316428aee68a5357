#include "access_steps.h"

#include <stdio.h>
#include <string.h>

#include "quorvenal_ioctl.h"

namespace {

const DWORD kErrorAccessDenied = 5;

union Record {
    ConfigRequest standard;
    ExtConfigRequest extended;
    unsigned char bytes[kExtConfigRequestBytes];
};

Record record;

HANDLE OpenWith(const char* step, DWORD access) {
    HANDLE device =
        CreateFileA(QUORVENAL_USER_DEVICE, access, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    Outcome outcome;
    outcome.ok = device != INVALID_HANDLE_VALUE;
    outcome.error = outcome.ok ? 0 : GetLastError();
    outcome.returned = 0;
    Report(step, outcome, ExpectOk(), "");
    return device;
}

Outcome Send(HANDLE device, DWORD code, DWORD length) {
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(device, code, &record, length, &record, length, &returned, NULL);
    Outcome outcome;
    outcome.ok = ok;
    outcome.error = ok ? 0 : GetLastError();
    outcome.returned = ok ? returned : 0;
    return outcome;
}

void Address(const FunctionRef& f) {
    record.standard.Bus = f.bus;
    record.standard.Device = f.device;
    record.standard.Function = f.function;
}

// The function's header through the handle; false when it was not served.
bool ReadHeader(HANDLE device, const FunctionRef& f, unsigned char* header) {
    memset(&record, 0, sizeof record);
    Address(f);
    Outcome outcome = Send(device, IOCTL_READ_CONFIG, kConfigRequestBytes);
    if (!outcome.ok) {
        return false;
    }
    memcpy(header, record.standard.Data, kConfigHeaderBytes);
    return true;
}

// A header write of the function's own header with the interrupt line set to
// `line`; its outcome.
Outcome WriteLine(HANDLE device, const FunctionRef& f, const unsigned char* original, unsigned char line) {
    memset(&record, 0, sizeof record);
    Address(f);
    memcpy(record.standard.Data, original, kConfigHeaderBytes);
    record.standard.Data[0x3C] = line;
    record.standard.Result = 0xEEEEEEEE;
    return Send(device, IOCTL_WRITE_CONFIG, kConfigRequestBytes);
}

// What a write on the reading handle did, as an observation: the driver can
// refuse it only where the system hands it the access granted at the open.
void Observe(const char* step, const Outcome& outcome, const char* effect) {
    char detail[96];
    if (outcome.ok) {
        snprintf(detail, sizeof detail, "served%s%s", effect[0] ? " " : "", effect);
    } else {
        snprintf(detail, sizeof detail, "refused error=%lu%s%s", (unsigned long)outcome.error,
                 effect[0] ? " " : "", effect);
    }
    Note(step, detail);
}

}  // namespace

void StepHandleAccess(const ScanFindings& findings) {
    if (findings.presentCount == 0) {
        Violation("access", "no function to address");
        return;
    }
    const FunctionRef& f = findings.present[findings.presentCount - 1];
    HANDLE reader = OpenWith("access: open for reading only", GENERIC_READ);
    HANDLE writer = OpenWith("access: open for writing only", GENERIC_WRITE);
    if (reader == INVALID_HANDLE_VALUE || writer == INVALID_HANDLE_VALUE) {
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        return;
    }
    unsigned char original[kConfigHeaderBytes];
    bool read = ReadHeader(reader, f, original);
    Outcome readOutcome = {read, read ? 0 : GetLastError(), 0};
    char detail[64];
    snprintf(detail, sizeof detail, "result=%lu", (unsigned long)record.standard.Result);
    Report("access: header read on the reading handle", readOutcome, ExpectOk(), read ? detail : "");
    if (!read) {
        CloseHandle(reader);
        CloseHandle(writer);
        return;
    }

    unsigned char other = (unsigned char)(original[0x3C] ^ 0x0F);
    Outcome header = WriteLine(reader, f, original, other);
    bool recordKept = header.ok || record.standard.Result == 0xEEEEEEEE;
    unsigned char after[kConfigHeaderBytes];
    bool changed = ReadHeader(reader, f, after) && after[0x3C] != original[0x3C];
    Observe("handle access: header write on the reading handle", header,
            changed ? "interrupt line changed" : "interrupt line unchanged");
    if (!recordKept || (!header.ok && changed)) {
        Violation("handle access: header write on the reading handle",
                  "a refused request changed the record or the function");
    }
    memset(&record, 0x5A, sizeof record);
    Address(f);
    record.extended.Result = 0xEEEEEEEE;
    Outcome ext = Send(reader, IOCTL_WRITE_EXT_CONFIG, kExtConfigRequestBytes);
    Observe("handle access: extended write on the reading handle", ext, "");
    if (!ext.ok && record.extended.Result != 0xEEEEEEEE) {
        Violation("handle access: extended write on the reading handle",
                  "a refused request changed the record");
    }

    Outcome write = WriteLine(writer, f, original, other);
    Report("access: header write on the writing handle", write, ExpectOk(), "");
    if (ReadHeader(reader, f, after) && after[0x3C] != other) {
        Violation("access: header write on the writing handle", "the interrupt line did not change");
    }
    write = WriteLine(writer, f, original, original[0x3C]);
    Report("access: header written back on the writing handle", write, ExpectOk(), "");
    CloseHandle(reader);
    CloseHandle(writer);
}
