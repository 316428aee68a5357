#include "cpu.h"

#include "driver_image.h"
#include "irql.h"
#include "processors.h"
#include "serial.h"

extern "C" {
extern const ULONG trap_vectors[20];
void EnterRing3(void (*continuation)());
}

struct TrapFrame {
    ULONG es, ds;
    ULONG edi, esi, ebp, espAtPusha, ebx, edx, ecx, eax;
    ULONG vector, error;
    ULONG eip, cs, eflags;
};

namespace {

const USHORT kKernelCode = 0x08;
const ULONG kFirstTrappedPort = 0xCF8;
const ULONG kLastTrappedPort = 0xCFF;
const ULONG kBitmapBytes = 8192;
const USHORT kDebugExitPort = 0xF4;

struct __attribute__((packed)) TaskState {
    ULONG previous, esp0, ss0, esp1, ss1, esp2, ss2, cr3, eip, eflags;
    ULONG eax, ecx, edx, ebx, esp, ebp, esi, edi;
    ULONG es, cs, ss, ds, fs, gs, ldt;
    USHORT trap, ioMapBase;
    UCHAR ioBitmap[kBitmapBytes];
    UCHAR ioBitmapEnd;  // all ones, as the processor requires after the map
};

struct __attribute__((packed)) TableRegister {
    USHORT limit;
    ULONG base;
};

ULONGLONG gGdt[6] __attribute__((aligned(8)));
ULONGLONG gIdt[32] __attribute__((aligned(8)));
TaskState gTss __attribute__((aligned(16)));
UCHAR gTrapStack[16384] __attribute__((aligned(16)));
ULONG gPortTraps;
ULONG gDriverPortTraps;

ULONGLONG Segment(ULONG base, ULONG limit, UCHAR access, UCHAR flags) {
    return (ULONGLONG)(limit & 0xFFFF) | (ULONGLONG)(base & 0xFFFFFF) << 16 | (ULONGLONG)access << 40 |
           (ULONGLONG)((limit >> 16) & 0xF) << 48 | (ULONGLONG)(flags & 0xF) << 52 |
           (ULONGLONG)(base >> 24) << 56;
}

ULONGLONG InterruptGate(ULONG handler) {
    return (ULONGLONG)(handler & 0xFFFF) | (ULONGLONG)kKernelCode << 16 | (ULONGLONG)0x8E << 40 |
           (ULONGLONG)(handler >> 16) << 48;
}

void SetPortTrap(ULONG port, bool trapped) {
    UCHAR bit = (UCHAR)(1u << (port & 7));
    if (trapped)
        gTss.ioBitmap[port / 8] |= bit;
    else
        gTss.ioBitmap[port / 8] &= (UCHAR)~bit;
}

bool InDriverImage(ULONG address) {
    const PeImage& image = DriverImage();
    ULONG base = (ULONG)(ULONG_PTR)image.base;
    return image.base != nullptr && address >= base && address - base < image.size;
}

[[noreturn]] void Stop(const TrapFrame* frame, const char* what) {
    ULONG rva = InDriverImage(frame->eip) ? frame->eip - (ULONG)(ULONG_PTR)DriverImage().base : 0;
    SerialPrint("CHECK FAIL processor exception: %s (vector %u, error 0x%x) at 0x%08x%s", what, frame->vector,
                frame->error, frame->eip, InDriverImage(frame->eip) ? " in the driver's image, rva " : "\n");
    if (InDriverImage(frame->eip)) SerialPrint("0x%x\n", rva);
    SerialPrint("RESULT FAIL\n");
    __outbyte(kDebugExitPort, 0x11);
    for (;;) __asm__ __volatile__("cli; hlt");
}

// Performs an `in`/`out` on 0xCF8..0xCFF for the faulting instruction;
// returns its length, or 0 when it is not one. Before one of the driver's
// own, the other processor's probe may act (processors.h).
ULONG EmulatePortInstruction(TrapFrame* frame, bool driver) {
    const UCHAR* code = (const UCHAR*)(ULONG_PTR)frame->eip;
    ULONG at = 0;
    bool word = false;
    if (code[at] == 0x66) {
        word = true;
        ++at;
    }
    UCHAR op = code[at++];
    ULONG port;
    if (op >= 0xEC && op <= 0xEF) {
        port = frame->edx & 0xFFFF;
    } else if (op >= 0xE4 && op <= 0xE7) {
        port = code[at++];
    } else {
        return 0;
    }
    if (port < kFirstTrappedPort || port > kLastTrappedPort) return 0;
    bool byte = (op & 1) == 0;
    bool input = (op & 2) == 0;
    USHORT p = (USHORT)port;
    if (driver) ProbeBeforeDriverPortAccess(p, !input);
    if (input) {
        if (byte)
            frame->eax = (frame->eax & ~0xFFu) | __inbyte(p);
        else if (word)
            frame->eax = (frame->eax & ~0xFFFFu) | __inword(p);
        else
            frame->eax = __indword(p);
    } else {
        if (byte)
            __outbyte(p, (UCHAR)frame->eax);
        else if (word)
            __outword(p, (USHORT)frame->eax);
        else
            __outdword(p, frame->eax);
    }
    return at;
}

}  // namespace

extern "C" void TrapDispatch(TrapFrame* frame) {
    if (frame->vector == 13 && frame->error == 0) {
        ULONG length = EmulatePortInstruction(frame, InDriverImage(frame->eip));
        if (length != 0) {
            ++gPortTraps;
            if (InDriverImage(frame->eip)) {
                ++gDriverPortTraps;
                IrqlDriverPortAccess();
            }
            frame->eip += length;
            return;
        }
        if (*(const UCHAR*)(ULONG_PTR)frame->eip == 0xCC) Stop(frame, "int3, code in a released section");
        Stop(frame, "general protection fault");
    }
    if (frame->vector == 13) Stop(frame, "general protection fault");
    if (frame->vector == 3) Stop(frame, "int3, code in a released section");
    if (frame->vector == 6) Stop(frame, "invalid opcode");
    if (frame->vector == 0) Stop(frame, "divide error");
    Stop(frame, "exception");
}

void CpuRunInRing3(void (*continuation)()) {
    memset(&gTss, 0, sizeof gTss);
    gTss.ss0 = 0x10;
    gTss.esp0 = (ULONG)(ULONG_PTR)(gTrapStack + sizeof gTrapStack);
    gTss.ioMapBase = (USHORT) __builtin_offsetof(TaskState, ioBitmap);
    gTss.ioBitmapEnd = 0xFF;
    CpuTrapConfigPorts(true);

    gGdt[0] = 0;
    gGdt[1] = Segment(0, 0xFFFFF, 0x9A, 0xC);                                // 0x08 kernel code
    gGdt[2] = Segment(0, 0xFFFFF, 0x92, 0xC);                                // 0x10 kernel data
    gGdt[3] = Segment(0, 0xFFFFF, 0xFA, 0xC);                                // 0x18 user code
    gGdt[4] = Segment(0, 0xFFFFF, 0xF2, 0xC);                                // 0x20 user data
    gGdt[5] = Segment((ULONG)(ULONG_PTR)&gTss, sizeof gTss - 1, 0x89, 0x0);  // 0x28 task state
    for (ULONG v = 0; v < 32; ++v) gIdt[v] = v < 20 ? InterruptGate(trap_vectors[v]) : 0;

    TableRegister gdt = {sizeof gGdt - 1, (ULONG)(ULONG_PTR)gGdt};
    TableRegister idt = {sizeof gIdt - 1, (ULONG)(ULONG_PTR)gIdt};
    __asm__ __volatile__("lgdt %0" : : "m"(gdt));
    __asm__ __volatile__("lidt %0" : : "m"(idt));
    __asm__ __volatile__("ltr %w0" : : "r"((USHORT)0x28));
    EnterRing3(continuation);
    for (;;) {
    }
}

void CpuTrapConfigPorts(bool on) {
    for (ULONG port = kFirstTrappedPort; port <= kLastTrappedPort; ++port) SetPortTrap(port, on);
}

ULONG CpuPortTraps() { return gPortTraps; }
ULONG CpuDriverPortTraps() { return gDriverPortTraps; }
