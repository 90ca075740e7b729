#include "protocol/func_unit.h"

#include <bit>
#include <cstring>

namespace tessel {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}  // namespace

int HexVal(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return 16;
}

int32_t HexToInt(std::string_view text, int width) {
  if (width <= 0) return 0;
  // Padding on the left means the first (width - size) characters read are '0'.
  const size_t w = static_cast<size_t>(width);
  const size_t pad = text.size() < w ? w - text.size() : 0;
  uint32_t value = 0;
  for (size_t i = 0; i < w; ++i) {
    const int d = i < pad ? 0 : HexVal(text[i - pad]);
    if (d > 15) break;
    value = (value << 4) | static_cast<uint32_t>(d);
  }
  return static_cast<int32_t>(value);
}

uint16_t Hex4ToWord(std::string_view text) {
  uint16_t value = 0;
  for (size_t i = 0; i < 4 && i < text.size(); ++i) {
    const int d = HexVal(text[i]);
    if (d > 15) continue;
    value = static_cast<uint16_t>((value << 4) | d);
  }
  return value;
}

std::string WordToHex4(int64_t v) {
  const auto w = static_cast<uint16_t>(v);
  std::string s(4, '0');
  for (int i = 0; i < 4; ++i) s[3 - i] = kHexDigits[(w >> (4 * i)) & 0xF];
  return s;
}

bool BitIsSet(int64_t v, int b) {
  return ((static_cast<uint64_t>(v) >> (static_cast<unsigned>(b) & 31u)) & 1u) != 0;
}

std::string LengthField(int lenid) {
  const unsigned id = static_cast<unsigned>(lenid) & 0x0FFFu;
  const unsigned sum = (id >> 8) + ((id >> 4) & 0xF) + (id & 0xF);
  std::string s = WordToHex4(id);
  s[0] = kHexDigits[(0u - sum) & 0xF];
  return s;
}

std::string FrameChecksum(const uint8_t* buf, int count) {
  uint32_t sum = 0;
  for (int i = 1; i <= count; ++i) sum += buf[i];
  return WordToHex4(static_cast<int64_t>((0u - sum) & 0xFFFFu));
}

std::string HexOnly(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const int d = HexVal(ch);
    if (d <= 15) out.push_back(kHexDigits[d]);
  }
  return out;
}

std::vector<uint8_t> HexToBytes(std::string_view text) {
  const std::string hex = HexOnly(text);
  std::vector<uint8_t> bytes(hex.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(HexVal(hex[2 * i]) * 16 + HexVal(hex[2 * i + 1]));
  return bytes;
}

std::string BytesToHex(const uint8_t* bytes, int count, std::string_view sep) {
  std::string out;
  if (count <= 0) return out;
  out.reserve(static_cast<size_t>(count) * (2 + sep.size()));
  for (int i = 0; i < count; ++i) {
    out.push_back(kHexDigits[bytes[i] >> 4]);
    out.push_back(kHexDigits[bytes[i] & 0xF]);
    out.append(sep);
  }
  return out;
}

std::string ShortToStr(int64_t v) {
  return std::to_string(static_cast<int16_t>(v));
}

double HexToSingle(std::string_view text) {
  uint32_t bits = 0;
  for (size_t i = 0; i < 4; ++i) {
    const size_t at = 2 * i;
    if (at >= text.size()) break;
    const auto byte = static_cast<uint32_t>(HexToInt(text.substr(at, 2), 2)) & 0xFFu;
    bits |= byte << (8 * i);
  }
  return static_cast<double>(std::bit_cast<float>(bits));
}

}  // namespace tessel
