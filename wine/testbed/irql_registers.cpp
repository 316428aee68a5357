// CR8 for the test-bed driver under Wine: on x86-64 the DDK's KeRaiseIrql,
// KeLowerIrql and KeGetCurrentIrql are inline reads and writes of CR8, which a
// user-mode driver host cannot execute. They come here instead and become the
// stand-in kernel's IRQL (host/kernel/irql.cpp), with its checks.
#include <ntddk.h>

extern "C" unsigned long long __readcr8(void) {
    return KeGetCurrentIrql();
}

extern "C" void __writecr8(unsigned long long value) {
    KIRQL level = static_cast<KIRQL>(value);
    if (level >= KeGetCurrentIrql()) {
        KfRaiseIrql(level);
    } else {
        KfLowerIrql(level);
    }
}
