// Test helper: frames an INFO text as a unit would answer.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "protocol/func_unit.h"

namespace tessel::testing {

// head is SOI, VER, ADR, CID1 and RTN as they go on the wire ("~31012A00"); LENGTH and CHKSUM are
// computed here for info.
inline std::string FrameAnswer(std::string_view head, std::string_view info) {
  std::string f(head);
  f += LengthField(static_cast<int>(info.size()));
  f += info;
  f += FrameChecksum(reinterpret_cast<const uint8_t*>(f.data()), static_cast<int>(f.size()) - 1);
  f += '\r';
  return f;
}

// An INFO text of len '0' characters with fields written at absolute frame offsets.
struct InfoText {
  explicit InfoText(int frameLen) : text(static_cast<size_t>(frameLen - 18), '0') {}
  InfoText& Put(int frameOffset, std::string_view value) {
    text.replace(static_cast<size_t>(frameOffset - 13), value.size(), value);
    return *this;
  }
  std::string text;
};

inline std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace tessel::testing
