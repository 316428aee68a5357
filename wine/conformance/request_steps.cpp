#include "request_steps.h"

#include <stdio.h>
#include <string.h>

#include "quorvenal_ioctl.h"

namespace {

const DWORD kErrorInvalidFunction = 1;    // STATUS_INVALID_DEVICE_REQUEST
const DWORD kErrorInvalidParameter = 87;  // STATUS_INVALID_PARAMETER
const DWORD kUnknownCodes[] = {0x222418, 0x2223FC, 0x222000, 0x22E400, 0x0};

// One record large enough for either size, aligned as the records are.
union Record {
    ConfigRequest standard;
    ExtConfigRequest extended;
    ConfigRangeRequest range;
    ConfigRangeRequest2 range2;
    unsigned char bytes[kExtConfigRequestBytes];
};

Record record;
Record sent;  // the record as it was last sent

// Byte i of a freshly filled record; every byte the driver must not touch
// keeps it.
unsigned char PatternByte(DWORD i) { return (unsigned char)(i * 13 + 0x5A); }

void FillPattern(Record* r) {
    for (DWORD i = 0; i < sizeof r->bytes; ++i) {
        r->bytes[i] = PatternByte(i);
    }
}

// Whether bytes [from, to) of the record came back as they were sent.
bool KeptAsSent(const Record& r, DWORD from, DWORD to) {
    return memcmp(r.bytes + from, sent.bytes + from, to - from) == 0;
}

void SetAddress(Record* r, DWORD bus, DWORD device, DWORD function) {
    r->standard.Bus = bus;
    r->standard.Device = device;
    r->standard.Function = function;
}

bool AddressKept(const Record& r, DWORD bus, DWORD device, DWORD function) {
    return r.standard.Bus == bus && r.standard.Device == device && r.standard.Function == function;
}

Outcome Send(HANDLE device, DWORD code, Record* r, DWORD inLength, DWORD outLength) {
    memcpy(&sent, r, sizeof sent);
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(device, code, r, inLength, r, outLength, &returned, NULL);
    Outcome outcome;
    outcome.ok = ok;
    outcome.error = ok ? 0 : GetLastError();
    outcome.returned = ok ? returned : 0;
    return outcome;
}

// A failed request must leave the record as it was sent.
void ReportRefused(const char* step, const Outcome& outcome, DWORD expectedError, DWORD length) {
    char detail[64] = "";
    if (outcome.ok) {
        snprintf(detail, sizeof detail, "bytes=%lu", (unsigned long)outcome.returned);
    }
    Report(step, outcome, ExpectError(expectedError), detail);
    if (!outcome.ok && !KeptAsSent(record, 0, length)) {
        Violation(step, "a refused request changed the record");
    }
}

// Sends a standard read of the function into a pattern-filled record of
// `length` bytes and prints what came back. Returns the outcome; the header
// is left in `record`.
Outcome ReadHeader(const char* step, HANDLE device, DWORD bus, DWORD dev, DWORD fn, DWORD length,
                   bool print) {
    FillPattern(&record);
    SetAddress(&record, bus, dev, fn);
    Outcome outcome = Send(device, IOCTL_READ_CONFIG, &record, length, length);
    if (!print) {
        return outcome;
    }
    char detail[160] = "";
    if (outcome.ok) {
        DWORD result = record.standard.Result;
        const unsigned char* d = record.standard.Data;
        snprintf(detail, sizeof detail, "bytes=%lu result=%lu id=%02X%02X:%02X%02X data=%08lX",
                 (unsigned long)outcome.returned, (unsigned long)result, d[1], d[0], d[3], d[2],
                 (unsigned long)Fingerprint(d, kConfigHeaderBytes));
    }
    Report(step, outcome, ExpectOk(), detail);
    if (outcome.ok) {
        if (outcome.returned != length) {
            Violation(step, "transferred length is not the record's size");
        }
        if (!AddressKept(record, bus, dev, fn)) {
            Violation(step, "the address fields came back changed");
        }
        if (!KeptAsSent(record, kConfigRequestBytes, length)) {
            Violation(step, "bytes past the standard record were changed");
        }
        DWORD result = record.standard.Result;
        if (result == 2 && !(record.standard.Data[0] == 0xFF && record.standard.Data[1] == 0xFF)) {
            Violation(step, "no function answered but the vendor identifier is not 0xFFFF");
        }
    }
    return outcome;
}

Outcome ReadExtended(HANDLE device, const FunctionRef& f, DWORD length) {
    FillPattern(&record);
    SetAddress(&record, f.bus, f.device, f.function);
    return Send(device, IOCTL_READ_EXT_CONFIG, &record, length, length);
}

void ReportExtended(const char* step, const Outcome& outcome, DWORD expectedResult) {
    char detail[160] = "";
    if (outcome.ok) {
        bool kept = KeptAsSent(record, 12, 12 + kExtConfigBytes);
        snprintf(detail, sizeof detail, "bytes=%lu result=%lu data=%s%08lX", (unsigned long)outcome.returned,
                 (unsigned long)record.extended.Result, kept ? "as-sent:" : "",
                 (unsigned long)Fingerprint(record.extended.ExtData, kExtConfigBytes));
    }
    Report(step, outcome, ExpectOk(), detail);
    if (!outcome.ok) {
        return;
    }
    if (record.extended.Result != expectedResult) {
        Violation(step, expectedResult ? "the base was not yet known, Result should be 1"
                                       : "the base is known, Result should be 0");
    }
    if (record.extended.Result != 0 && !KeptAsSent(record, 12, 12 + kExtConfigBytes)) {
        Violation(step, "a failed extended read changed the data");
    }
    if (outcome.returned != kExtConfigRequestBytes) {
        Violation(step, "transferred length is not the record's size");
    }
}

void FunctionName(char* out, size_t size, const char* what, const FunctionRef& f) {
    snprintf(out, size, "%s %02lx:%02lx.%lx", what, (unsigned long)f.bus, (unsigned long)f.device,
             (unsigned long)f.function);
}

// A range read of `length` bytes at `offset`, in either layout.
void RangeRead(const char* step, HANDLE device, const FunctionRef& f, bool second, DWORD reserved,
               DWORD offset, DWORD length, DWORD recordLength) {
    FillPattern(&record);
    SetAddress(&record, f.bus, f.device, f.function);
    if (second) {
        record.range2.Reserved = reserved;
        record.range2.Offset = offset;
        record.range2.Length = length;
    } else {
        record.range.Offset = offset;
        record.range.Length = length;
    }
    DWORD code = second ? IOCTL_READ_CONFIG_RANGE2 : IOCTL_READ_CONFIG_RANGE;
    Outcome outcome = Send(device, code, &record, recordLength, recordLength);
    if (length > 4) {
        ReportRefused(step, outcome, kErrorInvalidParameter, recordLength);
        return;
    }
    char detail[160] = "";
    const unsigned char* b = second ? record.range2.Bytes : record.range.Bytes;
    DWORD result = second ? record.range2.Result : record.range.Result;
    if (outcome.ok) {
        char shown[16] = "";
        for (DWORD i = 0; i < 4; ++i) {
            snprintf(shown + 2 * i, sizeof shown - 2 * i, "%02X", b[i]);
        }
        snprintf(detail, sizeof detail, "bytes=%lu result=%lu read=%s", (unsigned long)outcome.returned,
                 (unsigned long)result, shown);
    }
    Report(step, outcome, ExpectOk(), detail);
    if (!outcome.ok) {
        return;
    }
    // Everything but the bytes read and Result comes back as sent.
    DWORD bytesAt = second ? 24 : 20;
    if (!KeptAsSent(record, 0, bytesAt) || !KeptAsSent(record, bytesAt + 4, 268) ||
        !KeptAsSent(record, kConfigRequestBytes, recordLength)) {
        Violation(step, "fields the range read does not fill came back changed");
    }
    if (result > length) {
        Violation(step, "more bytes reported than were asked for");
    }
}

}  // namespace

HANDLE StepOpenDevice(const char* step, DWORD disposition, const Expect& expect) {
    HANDLE device = CreateFileA(QUORVENAL_USER_DEVICE, GENERIC_READ | GENERIC_WRITE, 0, NULL, disposition,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    Outcome outcome;
    outcome.ok = device != INVALID_HANDLE_VALUE;
    outcome.error = outcome.ok ? 0 : GetLastError();
    outcome.returned = 0;
    Report(step, outcome, expect, "");
    return device;
}

void StepCloseDevice(const char* step, HANDLE device) {
    Outcome outcome;
    outcome.ok = CloseHandle(device);
    outcome.error = outcome.ok ? 0 : GetLastError();
    outcome.returned = 0;
    Report(step, outcome, ExpectOk(), "");
}

void StepExtendedReadOnce(const char* step, HANDLE device, DWORD expectedResult) {
    FunctionRef first = {0, 0, 0};
    Outcome outcome = ReadExtended(device, first, kExtConfigRequestBytes);
    ReportExtended(step, outcome, expectedResult);
}

void StepLengthRules(HANDLE device) {
    struct Case {
        const char* step;
        DWORD code;
        DWORD in;
        DWORD out;
        DWORD error;
    };
    const Case cases[] = {
        {"length in=0 out=0", IOCTL_READ_CONFIG, 0, 0, kErrorInvalidParameter},
        {"length in=0 out=272", IOCTL_READ_CONFIG, 0, 272, kErrorInvalidParameter},
        {"length in=272 out=0", IOCTL_READ_CONFIG, 272, 0, kErrorInvalidParameter},
        {"length in=272 out=3856", IOCTL_READ_CONFIG, 272, 3856, kErrorInvalidParameter},
        {"length in=3856 out=272", IOCTL_READ_CONFIG, 3856, 272, kErrorInvalidParameter},
        {"length in=271 out=271", IOCTL_READ_CONFIG, 271, 271, kErrorInvalidParameter},
        {"length in=273 out=273", IOCTL_READ_CONFIG, 273, 273, kErrorInvalidParameter},
        {"length in=3855 out=3855", IOCTL_READ_EXT_CONFIG, 3855, 3855, kErrorInvalidParameter},
        {"length in=100 out=100 unknown code", 0x222418, 100, 100, kErrorInvalidParameter},
        {"length in=0 out=0 write", IOCTL_WRITE_CONFIG, 0, 0, kErrorInvalidParameter},
        {"length in=272 out=272 extended read", IOCTL_READ_EXT_CONFIG, 272, 272, kErrorInvalidParameter},
        {"length in=272 out=272 extended write", IOCTL_WRITE_EXT_CONFIG, 272, 272, kErrorInvalidParameter},
    };
    for (const Case& c : cases) {
        FillPattern(&record);
        Outcome outcome = Send(device, c.code, &record, c.in, c.out);
        ReportRefused(c.step, outcome, c.error, sizeof record.bytes);
    }
    for (DWORD code : kUnknownCodes) {
        const DWORD lengths[] = {kConfigRequestBytes, kExtConfigRequestBytes};
        for (DWORD length : lengths) {
            char step[64];
            snprintf(step, sizeof step, "unknown code %06lX length %lu", (unsigned long)code,
                     (unsigned long)length);
            FillPattern(&record);
            Outcome outcome = Send(device, code, &record, length, length);
            ReportRefused(step, outcome, kErrorInvalidFunction, sizeof record.bytes);
        }
    }
}

void StepScan(HANDLE device, ScanFindings* findings) {
    findings->presentCount = 0;
    findings->haveAbsentFunction = false;
    findings->haveMissingBus = false;
    unsigned long missingBuses = 0;
    unsigned long emptySlots = 0;
    unsigned long failures = 0;
    for (DWORD bus = 0; bus < 256; ++bus) {
        for (DWORD dev = 0; dev < 32; ++dev) {
            for (DWORD fn = 0; fn < 8; ++fn) {
                Outcome outcome = ReadHeader("scan", device, bus, dev, fn, kConfigRequestBytes, false);
                if (!outcome.ok || outcome.returned != kConfigRequestBytes) {
                    ++failures;
                    break;
                }
                DWORD result = record.standard.Result;
                if (result == 0 || result == 2) {
                    if (result == 0) {
                        ++missingBuses;
                        if (!findings->haveMissingBus) {
                            findings->missingBus = bus;
                            findings->haveMissingBus = true;
                        }
                    } else {
                        ++emptySlots;
                        if (!findings->haveAbsentFunction) {
                            findings->absentFunction = FunctionRef{bus, dev, fn};
                            findings->haveAbsentFunction = true;
                        }
                    }
                    if (fn == 0) {
                        break;  // no function 0: the device is not there
                    }
                    continue;
                }
                if (findings->presentCount < ScanFindings::kMaxFunctions) {
                    findings->present[findings->presentCount++] = FunctionRef{bus, dev, fn};
                }
            }
        }
    }
    char detail[160];
    snprintf(detail, sizeof detail, "present=%d no-bus=%lu no-function=%lu failed=%lu",
             findings->presentCount, missingBuses, emptySlots, failures);
    Note("scan", detail);
    if (failures) {
        Violation("scan", "standard reads failed as requests");
    }
    for (int i = 0; i < findings->presentCount; ++i) {
        const FunctionRef& f = findings->present[i];
        char step[64];
        FunctionName(step, sizeof step, "read", f);
        ReadHeader(step, device, f.bus, f.device, f.function, kConfigRequestBytes, true);
    }
    if (findings->haveAbsentFunction) {
        const FunctionRef& f = findings->absentFunction;
        char step[64];
        FunctionName(step, sizeof step, "read absent", f);
        ReadHeader(step, device, f.bus, f.device, f.function, kConfigRequestBytes, true);
    }
    if (findings->haveMissingBus) {
        char step[64];
        snprintf(step, sizeof step, "read missing bus %02lx", (unsigned long)findings->missingBus);
        ReadHeader(step, device, findings->missingBus, 0, 0, kConfigRequestBytes, true);
    }
}

void StepAddressMasking(HANDLE device, const ScanFindings& findings) {
    if (findings.presentCount == 0) {
        Violation("masking", "no function to address");
        return;
    }
    const FunctionRef& f = findings.present[findings.presentCount - 1];
    ReadHeader("masking plain", device, f.bus, f.device, f.function, kConfigRequestBytes, false);
    DWORD plain = Fingerprint(record.standard.Data, kConfigHeaderBytes);
    ReadHeader("masking device+32 function+8", device, f.bus, f.device + 32, f.function + 8,
               kConfigRequestBytes, true);
    if (Fingerprint(record.standard.Data, kConfigHeaderBytes) != plain) {
        Violation("masking device+32 function+8", "did not read the same function");
    }
    ReadHeader("masking bus+256", device, f.bus + 256, f.device, f.function, kConfigRequestBytes, true);
    ReadHeader("read in a 3856-byte record", device, f.bus, f.device, f.function, kExtConfigRequestBytes,
               true);
}

void StepRanges(HANDLE device, const FunctionRef& target) {
    char step[96];
    for (DWORD length = 0; length <= 4; ++length) {
        snprintf(step, sizeof step, "range offset=0 length=%lu", (unsigned long)length);
        RangeRead(step, device, target, false, 0, 0, length, kConfigRequestBytes);
    }
    const DWORD offsets[] = {0x02, 0x3D, 0xFE, 0xFF, 0x100, 0xFFC, 0x1000, 0xFFFFFFFF};
    for (DWORD offset : offsets) {
        snprintf(step, sizeof step, "range offset=%lX length=4", (unsigned long)offset);
        RangeRead(step, device, target, false, 0, offset, 4, kConfigRequestBytes);
    }
    const DWORD tooLong[] = {5, 0x100, 0x80000000, 0xFFFFFFFF};
    for (DWORD length : tooLong) {
        snprintf(step, sizeof step, "range length=%lX", (unsigned long)length);
        RangeRead(step, device, target, false, 0, 0, length, kConfigRequestBytes);
        snprintf(step, sizeof step, "range2 length=%lX", (unsigned long)length);
        RangeRead(step, device, target, true, 0, 0, length, kConfigRequestBytes);
    }
    const DWORD reserved[] = {0, 1, 0xDEADBEEF};
    for (DWORD value : reserved) {
        snprintf(step, sizeof step, "range2 reserved=%lX offset=8 length=4", (unsigned long)value);
        RangeRead(step, device, target, true, value, 8, 4, kConfigRequestBytes);
    }
    RangeRead("range in a 3856-byte record", device, target, false, 0, 0, 4, kExtConfigRequestBytes);
    RangeRead("range2 in a 3856-byte record", device, target, true, 0, 0, 4, kExtConfigRequestBytes);
}

void StepHeaderWrites(HANDLE device, const ScanFindings& findings) {
    if (findings.presentCount == 0) {
        Violation("write", "no function to write");
        return;
    }
    const FunctionRef& f = findings.present[findings.presentCount - 1];
    unsigned char original[kConfigHeaderBytes];
    ReadHeader("write: read before", device, f.bus, f.device, f.function, kConfigRequestBytes, true);
    memcpy(original, record.standard.Data, sizeof original);

    // The interrupt line register (0x3C) keeps what is written to it.
    struct Write {
        const char* step;
        unsigned char line;
    };
    const Write writes[] = {{"write interrupt line 5A", 0x5A}, {"write interrupt line back", 0}};
    for (const Write& w : writes) {
        memset(&record, 0, sizeof record);
        SetAddress(&record, f.bus, f.device, f.function);
        memcpy(record.standard.Data, original, sizeof original);
        if (w.line) {
            record.standard.Data[0x3C] = w.line;
        }
        Outcome outcome = Send(device, IOCTL_WRITE_CONFIG, &record, kConfigRequestBytes, kConfigRequestBytes);
        char detail[64] = "";
        if (outcome.ok) {
            snprintf(detail, sizeof detail, "bytes=%lu result=%lu", (unsigned long)outcome.returned,
                     (unsigned long)record.standard.Result);
        }
        Report(w.step, outcome, ExpectOk(), detail);
        if (outcome.ok && record.standard.Result != 1) {
            Violation(w.step, "a header write reports Result 1");
        }
        RangeRead("write: range read of 0x3C", device, f, false, 0, 0x3C, 1, kConfigRequestBytes);
        if (record.range.Bytes[0] != (w.line ? w.line : original[0x3C])) {
            Violation(w.step, "the interrupt line did not keep the value written");
        }
    }
    ReadHeader("write: read after", device, f.bus, f.device, f.function, kConfigRequestBytes, true);

    if (findings.haveAbsentFunction) {
        const FunctionRef& a = findings.absentFunction;
        for (int allOnes = 0; allOnes < 2; ++allOnes) {
            memset(&record, 0, sizeof record);
            SetAddress(&record, a.bus, a.device, a.function);
            if (allOnes) {
                memset(record.standard.Data, 0xFF, kConfigHeaderBytes);
            } else {
                memcpy(record.standard.Data, original, sizeof original);
            }
            Outcome outcome =
                Send(device, IOCTL_WRITE_CONFIG, &record, kConfigRequestBytes, kConfigRequestBytes);
            char step[96];
            FunctionName(step, sizeof step, allOnes ? "write all ones to absent" : "write to absent", a);
            char detail[64] = "";
            if (outcome.ok) {
                snprintf(detail, sizeof detail, "bytes=%lu result=%lu", (unsigned long)outcome.returned,
                         (unsigned long)record.standard.Result);
            }
            Report(step, outcome, ExpectOk(), detail);
        }
    }
}

void StepExtended(HANDLE device, const ScanFindings& findings) {
    // Every function's extended space, now that the base is known.
    const FunctionRef* writable = NULL;
    unsigned char saved[kExtConfigBytes];
    for (int i = 0; i < findings.presentCount; ++i) {
        const FunctionRef& f = findings.present[i];
        char step[64];
        FunctionName(step, sizeof step, "extended read", f);
        Outcome outcome = ReadExtended(device, f, kExtConfigRequestBytes);
        ReportExtended(step, outcome, 0);
        const unsigned char* d = record.extended.ExtData;
        bool hasCapability = outcome.ok && record.extended.Result == 0 && !(d[0] == 0 && d[1] == 0) &&
                             !(d[0] == 0xFF && d[1] == 0xFF);
        if (hasCapability && writable == NULL) {
            writable = &f;
            memcpy(saved, d, sizeof saved);
        }
    }
    if (writable == NULL) {
        Note("extended write", "no function with extended capabilities");
        return;
    }
    char step[64];
    FunctionName(step, sizeof step, "extended write back", *writable);
    memset(&record, 0, sizeof record);
    SetAddress(&record, writable->bus, writable->device, writable->function);
    memcpy(record.extended.ExtData, saved, sizeof saved);
    Outcome outcome =
        Send(device, IOCTL_WRITE_EXT_CONFIG, &record, kExtConfigRequestBytes, kExtConfigRequestBytes);
    char detail[64] = "";
    if (outcome.ok) {
        snprintf(detail, sizeof detail, "bytes=%lu result=%lu", (unsigned long)outcome.returned,
                 (unsigned long)record.extended.Result);
    }
    Report(step, outcome, ExpectOk(), detail);
    if (outcome.ok && record.extended.Result != 0) {
        Violation(step, "the base is known, Result should be 0");
    }
    FunctionName(step, sizeof step, "extended read after write", *writable);
    outcome = ReadExtended(device, *writable, kExtConfigRequestBytes);
    ReportExtended(step, outcome, 0);

    // The extended space takes the bus number's low 8 bits only.
    FunctionName(step, sizeof step, "extended read bus+256", *writable);
    FunctionRef wrapped = {writable->bus + 256, writable->device, writable->function};
    outcome = ReadExtended(device, wrapped, kExtConfigRequestBytes);
    ReportExtended(step, outcome, 0);
}

void StepManyHandles(int count) {
    HANDLE handles[16];
    int opened = 0;
    for (int i = 0; i < count && i < 16; ++i) {
        handles[i] = CreateFileA(QUORVENAL_USER_DEVICE, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, NULL);
        if (handles[i] != INVALID_HANDLE_VALUE) {
            ++opened;
        }
    }
    int closed = 0;
    for (int i = 0; i < count && i < 16; ++i) {
        if (handles[i] != INVALID_HANDLE_VALUE && CloseHandle(handles[i])) {
            ++closed;
        }
    }
    char detail[64];
    snprintf(detail, sizeof detail, "opened=%d closed=%d of %d", opened, closed, count);
    Note("many handles", detail);
    if (opened != count || closed != count) {
        Violation("many handles", "every open and close of the device succeeds");
    }
}
