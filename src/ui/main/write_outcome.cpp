#include "ui/main/write_outcome.h"

#include "model/param_items.h"
#include "ui/common/window_texts.h"

namespace tessel {

namespace {

// What the register does, in the operator's words.
QString RegisterName(int reg, uint8_t language) {
  switch (reg) {
    case kRegSwitchOn:
      return Tr(txt::WriteSwitchOn, language);
    case kRegSwitchOff:
      return Tr(txt::WriteSwitchOff, language);
    case kRegSelfTest:
      return Tr(txt::WriteSelfTest, language);
    case kRegUnlock:
      return Tr(txt::WriteUnlock, language);
    default:
      break;
  }
  for (int i = 0; i < kParamItemCount; ++i)
    if (ParamItem(i).reg == reg)
      return QString::fromUtf8(IsChinese(language) ? ParamItem(i).zh : ParamItem(i).en);
  return {};
}

QString ExceptionMeaning(uint8_t code, uint8_t language) {
  switch (code) {
    case 1:
      return Tr(txt::ModbusIllegalFunction, language);
    case 2:
      return Tr(txt::ModbusIllegalAddress, language);
    case 3:
      return Tr(txt::ModbusIllegalValue, language);
    case 4:
      return Tr(txt::ModbusDeviceFailure, language);
    case 6:
      return Tr(txt::ModbusDeviceBusy, language);
    default:
      return {};
  }
}

}  // namespace

WriteOutcomeLine DescribeWrite(const TCmdOutcome& w, uint8_t language) {
  using R = TCmdOutcome::Result;
  WriteOutcomeLine line;
  if (w.Outcome == R::None) return line;
  const QString write = QString("%1=%2").arg(w.Reg).arg(w.Value);
  QString state;
  switch (w.Outcome) {
    case R::Sent:
      state = Tr(txt::WriteSent, language);
      break;
    case R::Accepted:
      state = Tr(txt::WriteAccepted, language);
      break;
    case R::Refused:
      state = Tr(txt::WriteRefused, language).arg(w.Exception);
      line.bad = true;
      break;
    case R::NoAnswer:
      state = Tr(txt::WriteNoAnswer, language);
      line.bad = true;
      break;
    case R::None:
      break;
  }
  line.text = Tr(txt::WriteLine, language).arg(w.Addr).arg(write, state);
  line.detail = line.text;
  const QString name = RegisterName(w.Reg, language);
  if (!name.isEmpty()) line.detail += "\n" + name;
  const QString meaning = w.Outcome == R::Refused ? ExceptionMeaning(w.Exception, language) : "";
  if (!meaning.isEmpty()) line.detail += "\n" + meaning;
  return line;
}

}  // namespace tessel
