// Placeholder: filled in by the part of the stand-in that owns it.
#ifndef STANDIN_STANDIN_WINUSER_H
#define STANDIN_STANDIN_WINUSER_H
#include "wintypes.h"
#endif
