// Command slots: control and setting requests waiting for the Modbus driver, and what became of
// the last write the driver sent for them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "model/ups_info.h"

namespace tessel {

struct TCmdRequest {
  uint8_t Pending = 0;  // 0 free, otherwise waiting (fillers write 255)
  uint8_t Addr = 0;
  uint8_t Func = 0;
  int32_t Reg = 0;  // five-digit notation: 20001, 40005, 50000 ...
  int32_t Count = 0;
  // The value a write sends, taken when the request is made: a later request, or the parameter
  // dialog refreshing PendingParams from the unit, cannot change what goes out.
  uint16_t Value = 0;
  uint32_t Id = 0;  // given by the filler, counting up: tells this write from every other
};

constexpr int kCmdSlotCount = 10;
constexpr int kRegSwitchOn = 20001;
constexpr int kRegSwitchOff = 20002;
constexpr int kRegSelfTest = 20003;
constexpr int kRegUnlock = 50000;
// Written to register 50000 ahead of every parameter write under protocol choice 2.
constexpr uint16_t kUnlockValue = 0x5AA5;

// What became of the last write the Modbus driver built from a slot.
struct TCmdOutcome {
  enum class Result : uint8_t {
    None,      // no write yet
    Sent,      // on the line, no answer yet
    Accepted,  // the unit echoed the write
    Refused,   // the unit answered with a Modbus exception (Exception holds its code)
    NoAnswer,  // the scheduler gave up re-sending without a valid answer
  };
  uint32_t Seq = 0;  // counts every change, so a reader sees each one once
  Result Outcome = Result::None;
  uint8_t Addr = 0;
  int32_t Reg = 0;
  uint16_t Value = 0;
  uint8_t Exception = 0;
  uint32_t Id = 0;  // the Id of the slot the write came from
};

struct CmdRequests {
  std::array<TCmdRequest, kCmdSlotCount> CmdSlots{};
  uint16_t CmdValue = 0;
  TUpsParams PendingParams;
  TCmdOutcome LastWrite;
  uint32_t LastId = 0;  // the Id the last filled slot was given
  // Called by the driver on every change of LastWrite, so that a reader who queued a write learns
  // its outcome even when the next write follows before it looks.
  std::function<void(const TCmdOutcome&)> OnWriteOutcome;
};

// Why a filler queued nothing.
enum class CmdResult {
  Queued,
  NoDevice,     // address 0: a write there would reach every unit on the bus
  SlotBusy,     // the slot still holds a request that has not been sent
  NeedsModbus,  // the protocol choice sends no commands (choices 0 and 1)
  BadRegister,  // not a register a parameter write may target
  BadValue,     // the value does not fit the register's field (it would be cut short)
};

// Fillers used by the control dialogs. None replaces a request still waiting in its slot, none
// writes to address 0, and each queues only under the Modbus protocol choices (2 and 3).
CmdResult RequestSwitchOn(CmdRequests& c, uint8_t protocol, uint8_t addr);
CmdResult RequestSwitchOff(CmdRequests& c, uint8_t protocol, uint8_t addr);
// Self-test start (testTime > 0) or cancel (0).
CmdResult RequestSelfTest(CmdRequests& c, uint8_t protocol, uint8_t addr, uint16_t testTime);
// Parameter write: sets the PendingParams field, then the slots the protocol choice needs (under
// choice 2 the unlock write in slot 0 and the parameter in slot 1, under choice 3 the parameter in
// slot 0). Under choices 0 and 1 the field is set and NeedsModbus returned.
CmdResult RequestParamWrite(CmdRequests& c, uint8_t protocol, uint8_t addr, int reg,
                            uint16_t value);
// The registers a parameter write may target.
bool IsWritableParam(int reg);
// The value the stores hold for a register: CmdValue for the command registers, the
// PendingParams field for a parameter register, the fixed unlock value for 50000, else 0.
uint16_t StoredValue(const CmdRequests& c, int reg);

}  // namespace tessel
