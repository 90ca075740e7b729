// Modbus RTU driver (protocol choices 2 and 3): polls measurements, status words and settings
// with functions 4 and 3 in a fixed rotation over the device list (with fast polling: the status
// words of every unit in every round, the rest interleaved), and sends the control and setting
// writes waiting in the command slots as function 6, ahead of any poll.
#pragma once

#include <cstdint>

#include "model/cmd_request.h"
#include "model/comm_state.h"
#include "model/context.h"
#include "model/ups_info.h"
#include "protocol/fast_rotation.h"
#include "protocol/protocol_driver.h"

namespace tessel {

// Size of every request this driver builds (address, function, two 16-bit fields, CRC).
constexpr int kModbusRequestLen = 8;

// The request last built, register in five-digit notation (30001, 40001, 20001 ...).
struct TModbusRequest {
  uint8_t SlaveAddr = 0;
  uint8_t Func = 0;
  int32_t Reg = 0;
  int32_t Count = 0;   // registers to read; unused by function 6
  uint16_t Value = 0;  // what function 6 writes
};

// Stores one register value of a read answer into the device record (scaling, sums of the battery
// pairs, truncation of the settings fields), then derives RunState again from the status words.
// Registers without a field are ignored apart from the derivation.
void StoreRegister(TUpsInfo& u, int reg, uint16_t v);

class TMModbus : public ProtocolDriver {
 public:
  explicit TMModbus(Context& ctx);

  void BuildRequest() override;
  bool ParseAnswer(const uint8_t* data, int n) override;

  const TModbusRequest& Request() const { return request_; }
  // 0 once a request is built, 255 after a valid answer to it.
  uint8_t AnswerFlag() const { return answerFlag_; }

 private:
  bool TakeCommandSlot();
  void NoteWriteAnswer(uint8_t func, const uint8_t* data, int n);
  void SetWriteOutcome(TCmdOutcome::Result result, uint8_t exception = 0);
  void NextPollStep();
  void NextFastStep();
  void BuildFrame();
  TUpsInfo* TargetRecord();

  Context& ctx_;
  TModbusRequest request_;
  uint8_t answerFlag_ = 0;
  bool slotWrite_ = false;  // the request last built is a write taken from a command slot
  TFastRotation fast_;
};

}  // namespace tessel
