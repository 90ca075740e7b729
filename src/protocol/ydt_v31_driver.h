// Driver for modular UPS units on the ASCII telecom framing, version "31".
#pragma once

#include <cstdint>
#include <string_view>

#include "app/context.h"
#include "comm/comm_state.h"
#include "model/ups_info.h"

namespace tessel {

class TYdtV31Protocol : public ProtocolDriver {
 public:
  static constexpr std::string_view Ver = "31";
  static constexpr uint8_t kVersionByte = 0x31;

  // Starts with target address 1, no outstanding command and UpsTable[1] as current record.
  explicit TYdtV31Protocol(Context& ctx);

  // Next request of the rotation (or a search probe) into TxBuf; nothing in manual send mode.
  void BuildRequest() override;
  // Encodes the request for CurCmd (1..5) and TargetAddr into TxBuf and sets TxLen; a CurCmd
  // outside 1..5 builds nothing.
  void BuildFrame();
  // Checks the answer against TargetAddr and decodes it by CurCmd into UpsTable[ADR]. A valid
  // answer whose INFO is too short for its layout counts as answered but decodes nothing.
  bool ParseAnswer(const uint8_t* data, int n) override;

  // The command kind of the outstanding request, 1..5; 0 once its answer has been decoded.
  uint8_t CurCmd = 0;

 private:
  Context& ctx_;
  TUpsInfo* cur_;
};

}  // namespace tessel
