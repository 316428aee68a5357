// Placeholder: filled in by the part of the stand-in that owns it.
#ifndef STANDIN_NTDDK_H
#define STANDIN_NTDDK_H
#include "standin/wintypes.h"
#endif
