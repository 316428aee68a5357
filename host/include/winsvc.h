// Placeholder: filled in by the part of the stand-in that owns it.
#ifndef STANDIN_WINSVC_H
#define STANDIN_WINSVC_H
#include "standin/wintypes.h"
#endif
