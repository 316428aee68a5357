// COM1 at 115200 8N1, polled: the kernel runs with interrupts off.
#include <ntddk.h>

#include "serial.h"

namespace {

const USHORT kCom1 = 0x3F8;
const UCHAR kLineStatusDataReady = 0x01;
const UCHAR kLineStatusTransmitEmpty = 0x20;

void PutString(const char* text) {
    while (*text) SerialPutChar(*text++);
}

void PutNumber(unsigned value, unsigned base, bool upper, int width, char pad) {
    char digits[16];
    int count = 0;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[count++] = set[value % base];
        value /= base;
    } while (value != 0 && count < 16);
    for (int i = count; i < width; ++i) SerialPutChar(pad);
    while (count > 0) SerialPutChar(digits[--count]);
}

}  // namespace

void SerialInitialize() {
    __outbyte(kCom1 + 1, 0x00);  // no interrupts
    __outbyte(kCom1 + 3, 0x80);  // divisor latch
    __outbyte(kCom1 + 0, 0x01);  // 115200 baud
    __outbyte(kCom1 + 1, 0x00);
    __outbyte(kCom1 + 3, 0x03);  // 8 bits, no parity, one stop bit
    __outbyte(kCom1 + 2, 0xC7);  // FIFOs on and cleared
    __outbyte(kCom1 + 4, 0x03);  // DTR and RTS
}

void SerialPutChar(char c) {
    if (c == '\n') SerialPutChar('\r');
    while ((__inbyte(kCom1 + 5) & kLineStatusTransmitEmpty) == 0) {
    }
    __outbyte(kCom1, (UCHAR)c);
}

int SerialReceive(unsigned long spins) {
    for (unsigned long i = 0; i < spins; ++i) {
        if (__inbyte(kCom1 + 5) & kLineStatusDataReady) return __inbyte(kCom1);
    }
    return -1;
}

void SerialPrintV(const char* format, va_list arguments) {
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            SerialPutChar(*p);
            continue;
        }
        ++p;
        char pad = ' ';
        int width = 0;
        if (*p == '0') {
            pad = '0';
            ++p;
        }
        while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
        switch (*p) {
            case 's': {
                const char* text = va_arg(arguments, const char*);
                PutString(text ? text : "(null)");
                break;
            }
            case 'c': SerialPutChar((char)va_arg(arguments, int)); break;
            case 'd': {
                int value = va_arg(arguments, int);
                if (value < 0) {
                    SerialPutChar('-');
                    PutNumber(0u - (unsigned)value, 10, false, width > 0 ? width - 1 : 0, pad);
                } else {
                    PutNumber((unsigned)value, 10, false, width, pad);
                }
                break;
            }
            case 'u': PutNumber(va_arg(arguments, unsigned), 10, false, width, pad); break;
            case 'x':
            case 'X': PutNumber(va_arg(arguments, unsigned), 16, *p == 'X', width, pad); break;
            case '%': SerialPutChar('%'); break;
            case '\0': return;
            default:
                SerialPutChar('%');
                SerialPutChar(*p);
                break;
        }
    }
}

void SerialPrint(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    SerialPrintV(format, arguments);
    va_end(arguments);
}

extern "C" ULONG DbgPrint(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    SerialPrint("QV: driver: ");
    SerialPrintV(format, arguments);
    va_end(arguments);
    return 0;
}
