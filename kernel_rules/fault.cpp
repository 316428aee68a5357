#include "fault.h"

namespace kernel_rules {

namespace {

struct Writer {
    char* text;
    unsigned size;
    unsigned used;

    void Put(char c) {
        if (used + 1 < size) text[used++] = c;
    }
    void Put(const char* s) {
        while (s != nullptr && *s != '\0') Put(*s++);
    }
    void Put(unsigned value) {
        char digits[10];
        unsigned count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0) Put(digits[--count]);
    }
    // A raise or lower that went the wrong way, with the bug check's name.
    void PutMove(const Fault& fault, const char* stop) {
        Put(" to IRQL ");
        Put(fault.level);
        Put(" from ");
        Put(fault.limit);
        Put(": ");
        Put(stop);
    }
};

}  // namespace

const char* DescribeFault(const Fault& fault, char* text, unsigned size) {
    if (size == 0) return text;
    Writer out = {text, size, 0};
    out.Put(fault.routine);
    switch (fault.kind) {
        case FaultKind::CalledAboveItsLevel:
            out.Put(" called at IRQL ");
            out.Put(fault.level);
            out.Put(" (allowed up to ");
            out.Put(fault.limit);
            out.Put(")");
            break;
        case FaultKind::RaisedBelow: out.PutMove(fault, "IRQL_NOT_GREATER_OR_EQUAL"); break;
        case FaultKind::LoweredAbove: out.PutMove(fault, "IRQL_NOT_LESS_OR_EQUAL"); break;
        case FaultKind::ReturnedRaised:
            out.Put(" returned at IRQL ");
            out.Put(fault.level);
            break;
        case FaultKind::MappedRam: out.Put(" on a page of RAM"); break;
        case FaultKind::FreedUnknownBlock: out.Put(" of a block the kernel did not hand out"); break;
    }
    text[out.used] = '\0';
    return text;
}

}  // namespace kernel_rules
