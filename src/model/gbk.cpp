#include "model/gbk.h"

#include <iconv.h>

#include <cerrno>

namespace tessel {

namespace {

// Converts with iconv, replacing each byte sequence that cannot be converted by `replacement`
// and going on after it, so that a damaged name never loses the rest of the text.
std::string Convert(const char* to, const char* from, const std::string& in,
                    const std::string& replacement, size_t skipOnError) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return in;
  std::string out;
  char buf[256];
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  while (srcLeft > 0) {
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf, dst - buf);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: skip the offending unit and mark it.
      out += replacement;
      size_t skip = skipOnError;
      if (errno == EILSEQ && skipOnError == 0) {
        // UTF-8 input: skip one whole (possibly malformed) character.
        unsigned char c = static_cast<unsigned char>(*src);
        skip = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        // A malformed lead must not swallow following ASCII.
        for (size_t i = 1; i < skip && i < srcLeft; ++i)
          if ((static_cast<unsigned char>(src[i]) & 0xC0) != 0x80) {
            skip = i;
            break;
          }
      } else if (skipOnError == 0) {
        skip = srcLeft;
      }
      if (skip > srcLeft) skip = srcLeft;
      src += skip;
      srcLeft -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Utf8ToGbk(const std::string& utf8) {
  return Convert("GBK", "UTF-8", utf8, "?", 0);
}

std::string GbkToUtf8(const std::string& gbk) {
  return Convert("UTF-8", "GBK", gbk, "\xEF\xBF\xBD", 1);
}

}  // namespace tessel
