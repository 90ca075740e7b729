#include "model/cmd_request.h"

#include <algorithm>

#include "model/flags.h"

namespace tessel {

namespace {

constexpr uint8_t kWaiting = kFlagOn;
constexpr uint8_t kWriteSingleRegister = 6;

constexpr int kWritableParams[] = {40002, 40004, 40005, 40006, 40007, 40008, 40011,
                                   40012, 40013, 40014, 40015, 40017, 40018, 40019,
                                   40020, 40021, 40023, 40025, 40027, 40029};

bool SendsCommands(uint8_t protocol) {
  return protocol == 2 || protocol == 3;
}

// Fills a slot for a function 6 write of value; Count is left to the caller.
void Fill(CmdRequests& c, int index, uint8_t addr, int reg, uint16_t value) {
  TCmdRequest& slot = c.CmdSlots[static_cast<size_t>(index)];
  slot.Id = ++c.LastId;
  slot.Pending = kWaiting;
  slot.Addr = addr;
  slot.Func = kWriteSingleRegister;
  slot.Reg = reg;
  slot.Value = value;
}

// The checks every filler of slot 1 shares: a unit to address, a protocol choice that sends
// commands, and a free slot (a waiting request is never replaced behind the operator's back).
CmdResult CanQueue(const CmdRequests& c, uint8_t protocol, uint8_t addr,
                   std::initializer_list<int> slots) {
  if (addr == 0) return CmdResult::NoDevice;
  if (!SendsCommands(protocol)) return CmdResult::NeedsModbus;
  for (int s : slots)
    if (c.CmdSlots[s].Pending != 0) return CmdResult::SlotBusy;
  return CmdResult::Queued;
}

CmdResult RequestCommand(CmdRequests& c, uint8_t protocol, uint8_t addr, int reg, uint16_t value) {
  const CmdResult r = CanQueue(c, protocol, addr, {1});
  if (r != CmdResult::Queued) return r;
  c.CmdValue = value;
  Fill(c, 1, addr, reg, value);
  return r;
}

}  // namespace

bool IsWritableParam(int reg) {
  return std::find(std::begin(kWritableParams), std::end(kWritableParams), reg) !=
         std::end(kWritableParams);
}

uint16_t StoredValue(const CmdRequests& c, int reg) {
  switch (reg) {
    case kRegSwitchOn:
    case kRegSwitchOff:
    case kRegSelfTest:
      return c.CmdValue;
    case kRegUnlock:
      return kUnlockValue;
    default:
      break;
  }
  uint16_t v = 0;
  if (IsWritableParam(reg) && GetParamByRegister(c.PendingParams, reg, v)) return v;
  return 0;
}

CmdResult RequestSwitchOn(CmdRequests& c, uint8_t protocol, uint8_t addr) {
  return RequestCommand(c, protocol, addr, kRegSwitchOn, 1);
}

CmdResult RequestSwitchOff(CmdRequests& c, uint8_t protocol, uint8_t addr) {
  return RequestCommand(c, protocol, addr, kRegSwitchOff, 1);
}

CmdResult RequestSelfTest(CmdRequests& c, uint8_t protocol, uint8_t addr, uint16_t testTime) {
  return RequestCommand(c, protocol, addr, kRegSelfTest, testTime);
}

CmdResult RequestParamWrite(CmdRequests& c, uint8_t protocol, uint8_t addr, int reg,
                            uint16_t value) {
  if (!IsWritableParam(reg)) return CmdResult::BadRegister;
  const CmdResult r =
      protocol == 2 ? CanQueue(c, protocol, addr, {0, 1}) : CanQueue(c, protocol, addr, {0});
  // Under the ASCII choices the value is kept, as the operator set it; nothing goes out.
  if (r != CmdResult::Queued && r != CmdResult::NeedsModbus) return r;
  // A value wider than its field would reach the unit cut short: refuse it instead.
  TUpsParams params = c.PendingParams;
  SetParamByRegister(params, reg, value);
  // The work mode keeps the sign of the 16 bits it was given.
  if (reg == 40004) params.SetMode = static_cast<int16_t>(value);
  uint16_t kept = 0;
  GetParamByRegister(params, reg, kept);
  if (kept != value) return CmdResult::BadValue;
  c.PendingParams = params;
  if (r != CmdResult::Queued) return r;
  if (protocol == 3) {
    Fill(c, 0, addr, reg, value);
    c.CmdSlots[0].Count = 1;
  } else {
    // This protocol choice wants the unlock register written before every parameter.
    Fill(c, 0, addr, kRegUnlock, kUnlockValue);
    c.CmdSlots[0].Count = 1;
    Fill(c, 1, addr, reg, value);
    c.CmdSlots[1].Count = 1;
  }
  return r;
}

}  // namespace tessel
