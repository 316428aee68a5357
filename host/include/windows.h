// Linux stand-in for <windows.h>: the Win32 subset that quorvenal uses.
#ifndef STANDIN_WINDOWS_H
#define STANDIN_WINDOWS_H

#include "standin/wintypes.h"
#include "standin/winbase.h"
#include "winsvc.h"
#include "winioctl.h"
#include "standin/winuser.h"

#endif
