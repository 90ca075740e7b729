// What the control windows share when they hand a command to the unit: the port must be open, and
// a command the fillers refused is explained to the operator.
#pragma once

#include <cstdint>

#include "model/cmd_request.h"

class QWidget;

namespace tessel {

class Host;
class Prompter;

// False, after telling the operator "Serial Port Off", when the port is closed.
bool PortIsOnForCommands(Host& host, Prompter& prompter, QWidget* parent);
// True when the command was queued; otherwise tells the operator why not.
bool ReportCommand(CmdResult result, Prompter& prompter, QWidget* parent, uint8_t language);

}  // namespace tessel
