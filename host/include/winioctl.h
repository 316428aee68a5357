// Linux stand-in for <winioctl.h>: CTL_CODE and its constants live in wintypes.h.
#ifndef STANDIN_WINIOCTL_H
#define STANDIN_WINIOCTL_H
#include "standin/wintypes.h"
#endif
