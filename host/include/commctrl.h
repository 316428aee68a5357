// Placeholder: filled in by the part of the stand-in that owns it.
#ifndef STANDIN_COMMCTRL_H
#define STANDIN_COMMCTRL_H
#include "standin/wintypes.h"
#endif
