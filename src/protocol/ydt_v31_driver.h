// Driver for modular UPS units on the ASCII telecom framing, version "31".
#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/ascii_driver.h"

namespace tessel {

class TYdtV31Protocol : public TAsciiDriver {
 public:
  static constexpr std::string_view Ver = "31";
  static constexpr uint8_t kVersionByte = 0x31;

  // Starts with target address 1, no outstanding command and UpsTable[1] as current record.
  explicit TYdtV31Protocol(Context& ctx);

 private:
  void Decode(uint8_t cmd, const AnswerInfo& info, TUpsInfo& u) override;
};

}  // namespace tessel
