// Driver for three-phase line-frequency UPS units on the ASCII telecom framing, version "11".
// Values come as IEEE-754 singles; supply, switch and alarm states as one-byte codes mapped here.
#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/ascii_driver.h"

namespace tessel {

class TEpowerProtocol : public TAsciiDriver {
 public:
  static constexpr std::string_view Ver = "11";
  static constexpr uint8_t kVersionByte = 0x11;
  // Status and alarm answers are ignored until a device has this many valid answers counted.
  static constexpr int32_t kMinOkCnt = 4;

  // Starts with target address 1, no outstanding command and UpsTable[1] as current record.
  explicit TEpowerProtocol(Context& ctx);

 private:
  void Decode(uint8_t cmd, const AnswerInfo& info, TUpsInfo& u) override;
};

// Operating state from the supply, switch and battery-test bytes of a three-phase unit.
int32_t ThreePhaseRunState(const TUpsInfo& u);

}  // namespace tessel
