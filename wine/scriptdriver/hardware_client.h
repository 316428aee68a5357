// The script's "hw" actions, sent to the simulated hardware in the driver
// host through the test bed's hardware pipe.
#ifndef QUORVENAL_SCRIPTDRIVER_HARDWARE_CLIENT_H
#define QUORVENAL_SCRIPTDRIVER_HARDWARE_CLIENT_H

#include <string>

#include "script.h"

// True when the machine carried the action out; otherwise *why says what
// went wrong, in the words the stand-in's front end uses.
bool SendHardwareAction(const standin::ui::ScriptAction& action, std::string* why);

#endif
