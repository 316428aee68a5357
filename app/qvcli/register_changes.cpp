#include "register_changes.h"

#include "../../ioctl/sys/pci_registers.h"
#include "../register_layout.h"
#include "expected_refusals.h"

namespace {

const unsigned kLayoutEnd = 0x40;  // the header's registers with names; the layouts end here

struct RegisterSpan {
    unsigned Offset;
    unsigned Bytes;
    const char* Name;   // NULL for a doubleword of no name
    bool AddressOrder;  // the bytes are shown in address order, not as a little-endian value
};

unsigned WidthBytes(RegisterWidth width) {
    switch (width) {
        case kWidth8: return 1;
        case kWidth16: return 2;
        case kWidthClassCode:
        case kWidthThreeBytes: return 3;
        case kWidth32:
        default: return 4;
    }
}

// The row of rows[0..count) that begins at offset, or NULL.
const RegisterRow* RowAt(const RegisterRow* rows, int count, unsigned offset) {
    for (int i = 0; i < count; ++i) {
        if (rows[i].offset == offset) return &rows[i];
    }
    return NULL;
}

// The register that begins at offset: a named row of the layout, or else the
// bytes up to the next doubleword boundary or named row.
RegisterSpan SpanAt(const RegisterLayout& layout, unsigned offset) {
    const RegisterRow* row = NULL;
    if (offset < kLayoutEnd) {
        row = RowAt(kCommonRegisters, kCommonRegisterRows, offset);
        if (row == NULL) row = RowAt(layout.rows, layout.count, offset);
    }
    if (row != NULL)
        return RegisterSpan{offset, WidthBytes(row->width), row->name, row->width == kWidthThreeBytes};
    unsigned end = (offset | 3) + 1;
    for (unsigned at = offset + 1; at < end && at < kLayoutEnd; ++at) {
        if (RowAt(kCommonRegisters, kCommonRegisterRows, at) != NULL ||
            RowAt(layout.rows, layout.count, at) != NULL) {
            end = at;
        }
    }
    return RegisterSpan{offset, end - offset, NULL, false};
}

void PrintValue(const RegisterSpan& span, const QvU8* bytes, FILE* out) {
    for (unsigned i = 0; i < span.Bytes; ++i) {
        unsigned at = span.AddressOrder ? span.Offset + i : span.Offset + span.Bytes - 1 - i;
        fprintf(out, "%02x", bytes[at]);
    }
}

bool Differs(const RegisterSpan& span, const SpaceImage& target, const SpaceImage& current,
             const QvU8* ignore) {
    for (unsigned at = span.Offset; at < span.Offset + span.Bytes; ++at) {
        if (((target.Bytes[at] ^ current.Bytes[at]) & (QvU8)~ignore[at]) != 0) return true;
    }
    return false;
}

}  // namespace

unsigned PrintRegisterChanges(const SpaceImage& target, const SpaceImage& current, FILE* out) {
    char text[kPciAddressText];
    FormatPciAddress(target.Address, text);
    QvU8 ignore[kSpaceBytes];
    ExpectedRefusals(target, current, target.RowGiven[kHeaderRows] != 0, ignore);
    RegisterLayout layout = LayoutForHeaderType((int)PciHeaderLayout(current.Bytes));
    unsigned differing = 0;
    unsigned offset = 0;
    while (offset < kSpaceBytes) {
        RegisterSpan span = SpanAt(layout, offset);
        offset += span.Bytes;
        unsigned row = span.Offset / 16;
        if (!target.RowGiven[row] || !current.RowGiven[row] || !Differs(span, target, current, ignore))
            continue;
        if (differing++ == 0) fprintf(out, "%s: registers that would change (now, file):\n", text);
        fprintf(out, "  %03x%s%s: now ", span.Offset, span.Name != NULL ? " " : "",
                span.Name != NULL ? span.Name : "");
        PrintValue(span, current.Bytes, out);
        fprintf(out, ", file ");
        PrintValue(span, target.Bytes, out);
        fprintf(out, "\n");
    }
    if (differing == 0) fprintf(out, "%s: nothing would change\n", text);
    return differing;
}
