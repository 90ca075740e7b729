// The text-to-number helpers on arbitrary text, with the relations between them.
//
// Input: one byte choosing the width for HexToInt and ZeroPad (0..31), then the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/func_unit.h"

using namespace tessel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int width = data[0] & 31;
  // An exactly sized copy, so that a read past the text's end is caught.
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string_view view(text);

  const std::string hex = HexOnly(view);
  for (char c : hex)
    if (HexVal(c) > 15 || (c >= 'a' && c <= 'f')) __builtin_trap();

  // HexToBytes reads HexOnly's digits in pairs; printing the bytes gives those digits back.
  const std::vector<uint8_t> bytes = HexToBytes(view);
  if (bytes.size() != hex.size() / 2) __builtin_trap();
  const std::string again = BytesToHex(bytes.data(), static_cast<int>(bytes.size()), "");
  if (again != hex.substr(0, 2 * bytes.size())) __builtin_trap();
  if (!bytes.empty() &&
      BytesToHex(bytes.data(), static_cast<int>(bytes.size()), " ").size() != 3 * bytes.size())
    __builtin_trap();

  // HexToInt never reads more than width characters, so a longer text gives the same value as its
  // first width characters.
  const int32_t v = HexToInt(view, width);
  if (static_cast<int>(view.size()) > width && v != HexToInt(view.substr(0, width), width))
    __builtin_trap();
  if (width <= 7 && v < 0) __builtin_trap();

  (void)Hex4ToWord(view);
  (void)Hex4ToWord(view.substr(0, std::min<size_t>(view.size(), 4)));
  (void)HexToSingle(view);
  (void)HexToSingle(view.substr(0, std::min<size_t>(view.size(), 8)));

  const uint16_t w = Hex4ToWord(view.substr(0, std::min<size_t>(view.size(), 4)));
  if (Hex4ToWord(WordToHex4(w)) != w) __builtin_trap();
  if (LengthField(w & 0xFFF).size() != 4) __builtin_trap();

  // The text's bytes also serve as numbers for the number-to-text helpers.
  int64_t n = 0;
  for (size_t i = 0; i < std::min<size_t>(text.size(), 8); ++i)
    n = static_cast<int64_t>((static_cast<uint64_t>(n) << 8) | static_cast<uint8_t>(text[i]));
  if (static_cast<int>(ZeroPad(n, width).size()) != width) __builtin_trap();
  const int s = std::stoi(ShortToStr(n));
  if (s < -32768 || s > 32767 || static_cast<uint16_t>(s) != static_cast<uint16_t>(n))
    __builtin_trap();
  if (text.size() >= 1) (void)FrameChecksum(data + 1, static_cast<int>(text.size()) - 1);
  return 0;
}
