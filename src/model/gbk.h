// Conversion between the program's UTF-8 text and the GBK code page of device names and CSV files.
#pragma once

#include <string>

namespace tessel {

// Characters GBK cannot hold become "?"; the conversion never fails.
std::string Utf8ToGbk(const std::string& utf8);
// Invalid or truncated GBK sequences become U+FFFD; the conversion never fails.
std::string GbkToUtf8(const std::string& gbk);

}  // namespace tessel
