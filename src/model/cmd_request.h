// Command slots: control and setting requests waiting for the Modbus driver.
#pragma once

#include <array>
#include <cstdint>

#include "model/ups_info.h"

namespace tessel {

struct TCmdRequest {
  uint8_t Pending = 0;  // 0 free, otherwise waiting (fillers write 255)
  uint8_t Addr = 0;
  uint8_t Func = 0;
  int32_t Reg = 0;  // five-digit notation: 20001, 40005, 50000 ...
  int32_t Count = 0;
};

constexpr int kCmdSlotCount = 10;
constexpr int kRegSwitchOn = 20001;
constexpr int kRegSwitchOff = 20002;
constexpr int kRegSelfTest = 20003;
constexpr int kRegUnlock = 50000;

struct CmdRequests {
  std::array<TCmdRequest, kCmdSlotCount> CmdSlots{};
  uint16_t CmdValue = 0;
  TUpsParams PendingParams;
};

// Fillers used by the control dialogs.
void RequestSwitchOn(CmdRequests& c, uint8_t addr);
void RequestSwitchOff(CmdRequests& c, uint8_t addr);
// Self-test start (testTime > 0) or cancel (0); only under protocol choices 2 and 3 (false
// otherwise).
bool RequestSelfTest(CmdRequests& c, uint8_t protocol, uint8_t addr, uint16_t testTime);
// Parameter write: sets the PendingParams field, then the slots the protocol choice needs.
// False for a register a filler may not write.
bool RequestParamWrite(CmdRequests& c, uint8_t protocol, uint8_t addr, int reg, uint16_t value);
// The registers a parameter write may target.
bool IsWritableParam(int reg);

}  // namespace tessel
