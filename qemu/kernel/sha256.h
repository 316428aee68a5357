// SHA-256 of a byte range, so that the test kernel can name the exact file
// it was handed.
#ifndef QVBARE_SHA256_H
#define QVBARE_SHA256_H

#include <ntddk.h>

// Writes 64 lowercase hexadecimal digits and a terminating NUL into `hex`.
void Sha256Hex(const UCHAR* data, ULONG bytes, char hex[65]);

#endif
