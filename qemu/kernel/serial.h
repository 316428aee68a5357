// Output and input on the first serial port (COM1, 0x3F8), where the test
// kernel writes its report one line at a time.
#ifndef QVBARE_SERIAL_H
#define QVBARE_SERIAL_H

#include <stdarg.h>

void SerialInitialize();
void SerialPutChar(char c);
// printf-like: %s %c %d %u %x %X %%, with an optional 0 flag and width;
// the numbers are 32-bit.
void SerialPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
void SerialPrintV(const char* format, va_list arguments);
// Waits for one received byte for at most `spins` polls; returns it, or -1.
int SerialReceive(unsigned long spins);

#endif
