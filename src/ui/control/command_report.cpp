#include "ui/control/command_report.h"

#include "host/host.h"
#include "ui/common/prompter.h"
#include "ui/control/control_texts.h"

namespace tessel {

bool PortIsOnForCommands(Host& host, Prompter& prompter, QWidget* parent) {
  if (host.PortIsOpen()) return true;
  prompter.Tell(parent, MessageKind::Warning, Tr(txt::SerialPortOff, 0));
  return false;
}

bool ReportCommand(CmdResult result, Prompter& prompter, QWidget* parent, uint8_t language) {
  const UiText* why = nullptr;
  switch (result) {
    case CmdResult::Queued:
      return true;
    case CmdResult::NoDevice:
      why = &txt::CmdNoDevice;
      break;
    case CmdResult::SlotBusy:
      why = &txt::CmdSlotBusy;
      break;
    case CmdResult::NeedsModbus:
      why = &txt::CmdNeedsModbus;
      break;
    case CmdResult::BadRegister:
    case CmdResult::BadValue:
      why = &txt::CmdBadValue;
      break;
  }
  prompter.Tell(parent, MessageKind::Warning, Tr(*why, language));
  return false;
}

}  // namespace tessel
