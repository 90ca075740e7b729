#include "model/cmd_request.h"

#include <algorithm>

#include "model/flags.h"

namespace tessel {

namespace {

constexpr uint8_t kWaiting = kFlagOn;
constexpr uint8_t kWriteSingleRegister = 6;

// Fills a slot for a function 6 write; Count is left to the caller.
void Fill(TCmdRequest& slot, uint8_t addr, int reg) {
  slot.Pending = kWaiting;
  slot.Addr = addr;
  slot.Func = kWriteSingleRegister;
  slot.Reg = reg;
}

constexpr int kWritableParams[] = {40002, 40004, 40005, 40006, 40007, 40008, 40011,
                                   40012, 40013, 40014, 40015, 40017, 40018, 40019,
                                   40020, 40021, 40023, 40025, 40027, 40029};

}  // namespace

bool IsWritableParam(int reg) {
  return std::find(std::begin(kWritableParams), std::end(kWritableParams), reg) !=
         std::end(kWritableParams);
}

// On/off goes into slot 1 under every protocol choice; under the ASCII choices it simply waits
// until a Modbus choice is selected. A later request replaces one still waiting.
void RequestSwitchOn(CmdRequests& c, uint8_t addr) {
  Fill(c.CmdSlots[1], addr, kRegSwitchOn);
  c.CmdValue = 1;
}

void RequestSwitchOff(CmdRequests& c, uint8_t addr) {
  Fill(c.CmdSlots[1], addr, kRegSwitchOff);
  c.CmdValue = 1;
}

bool RequestSelfTest(CmdRequests& c, uint8_t protocol, uint8_t addr, uint16_t testTime) {
  if (protocol != 2 && protocol != 3) return false;
  Fill(c.CmdSlots[1], addr, kRegSelfTest);
  c.CmdValue = testTime;
  return true;
}

bool RequestParamWrite(CmdRequests& c, uint8_t protocol, uint8_t addr, int reg, uint16_t value) {
  if (!IsWritableParam(reg)) return false;
  SetParamByRegister(c.PendingParams, reg, value);
  // The dialog's value is a signed 16-bit number; the work mode keeps its sign. The register
  // receives the same 16 bits either way.
  if (reg == 40004) c.PendingParams.SetMode = static_cast<int16_t>(value);
  if (protocol == 3) {
    Fill(c.CmdSlots[0], addr, reg);
    c.CmdSlots[0].Count = 1;
  } else if (protocol == 2) {
    // This protocol choice wants the unlock register written before every parameter.
    Fill(c.CmdSlots[0], addr, kRegUnlock);
    c.CmdSlots[0].Count = 1;
    Fill(c.CmdSlots[1], addr, reg);
    c.CmdSlots[1].Count = 1;
  }
  return true;
}

}  // namespace tessel
