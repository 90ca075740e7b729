#include <string>

#include "model/gbk.h"
#include "model/ups_info.h"

namespace tessel {

namespace {

constexpr uint8_t kPad = 0x0D;

// Length of the GBK character starting with this byte: bytes 0x81..0xFE lead a two-byte one.
size_t GbkCharLength(uint8_t lead) {
  return lead >= 0x81 && lead <= 0xFE ? 2 : 1;
}

}  // namespace

std::array<uint8_t, kNameSize> MakeNameField(const std::string& utf8Name) {
  const std::string gbk = Utf8ToGbk(utf8Name);
  std::array<uint8_t, kNameSize> field;
  field.fill(kPad);
  size_t used = 0;
  while (used < gbk.size()) {
    const size_t len = GbkCharLength(static_cast<uint8_t>(gbk[used]));
    // Never split a double-byte character at the end of the field.
    if (used + len > kNameSize || used + len > gbk.size()) break;
    for (size_t i = 0; i < len; ++i) field[used + i] = static_cast<uint8_t>(gbk[used + i]);
    used += len;
  }
  return field;
}

std::string NameFieldText(const std::array<uint8_t, kNameSize>& field) {
  size_t end = 0;
  while (end < field.size() && field[end] != 0) ++end;
  // CR is never the second byte of a GBK character, so stripping it cannot cut one in half.
  while (end > 0 && field[end - 1] == kPad) --end;
  return GbkToUtf8(std::string(field.begin(), field.begin() + static_cast<std::ptrdiff_t>(end)));
}

}  // namespace tessel
