#include "model/device_name.h"

#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "model/gbk.h"
#include "model/ups_info.h"

namespace tessel {

namespace {

constexpr uint8_t kPad = 0x0D;

// Length of the GBK character starting with this byte: bytes 0x81..0xFE lead a two-byte one.
size_t GbkCharLength(uint8_t lead) {
  return lead >= 0x81 && lead <= 0xFE ? 2 : 1;
}

constexpr char32_t kBadUtf8 = 0xFFFFFFFF;

// Decodes the UTF-8 character at `pos` and advances past it. Damaged input (a stray continuation
// byte, a cut or overlong sequence, a surrogate, a value above U+10FFFF) yields kBadUtf8 and
// advances one byte, so that the following characters are still looked at.
char32_t NextChar(const std::string& s, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t lead = byte(pos);
  size_t len = 0;
  char32_t c = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3, c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4, c = lead & 0x07;
  } else {
    ++pos;
    return kBadUtf8;
  }
  if (pos + len > s.size()) {
    ++pos;
    return kBadUtf8;
  }
  for (size_t i = 1; i < len; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) {
      ++pos;
      return kBadUtf8;
    }
    c = (c << 6) | (byte(pos + i) & 0x3F);
  }
  const char32_t least = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++pos;
    return kBadUtf8;
  }
  pos += len;
  return c;
}

bool IsControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// How a refused character is named in a message: itself, or U+XXXX when it would not be visible.
std::string Shown(char32_t c, const std::string& utf8) {
  if (c == kBadUtf8) return "\xEF\xBF\xBD";
  if (!IsControl(c)) return utf8;
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

// Converts one character to GBK, refusing (rather than replacing) one that GBK has no code for.
class GbkEncoder {
 public:
  GbkEncoder() : cd_(iconv_open("GBK", "UTF-8")) {}
  ~GbkEncoder() {
    if (Usable()) iconv_close(cd_);
  }
  GbkEncoder(const GbkEncoder&) = delete;
  GbkEncoder& operator=(const GbkEncoder&) = delete;

  // The number of GBK bytes of one whole UTF-8 character, 0 when GBK cannot hold it (or when this
  // system has no GBK converter, so that nothing is stored that could not be read back).
  size_t Bytes(const std::string& utf8Char) {
    if (!Usable()) return 0;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char out[8];
    char* src = const_cast<char*>(utf8Char.data());
    size_t srcLeft = utf8Char.size();
    char* dst = out;
    size_t dstLeft = sizeof out;
    if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) || srcLeft != 0)
      return 0;
    if (iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1)) return 0;
    return static_cast<size_t>(dst - out);
  }

 private:
  bool Usable() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t cd_;
};

}  // namespace

NameCheckResult CheckDeviceName(const std::string& utf8Name) {
  if (utf8Name.empty()) return {NameCheck::Empty, {}};
  GbkEncoder encoder;
  size_t gbkBytes = 0;
  std::vector<std::string> refused;
  for (size_t pos = 0; pos < utf8Name.size();) {
    const size_t start = pos;
    const char32_t c = NextChar(utf8Name, pos);
    const std::string ch = utf8Name.substr(start, pos - start);
    size_t bytes = 0;
    if (c != kBadUtf8 && !IsControl(c)) bytes = c < 0x80 ? 1 : encoder.Bytes(ch);
    if (bytes > 0) {
      gbkBytes += bytes;
      continue;
    }
    const std::string shown = Shown(c, ch);
    if (std::find(refused.begin(), refused.end(), shown) == refused.end()) refused.push_back(shown);
  }
  if (gbkBytes > static_cast<size_t>(kNameSize)) return {NameCheck::TooLong, {}};
  if (refused.empty()) return {NameCheck::Ok, {}};
  NameCheckResult r{NameCheck::NotGbk, {}};
  for (const std::string& s : refused) r.Unstorable += (r.Unstorable.empty() ? "" : " ") + s;
  return r;
}

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
