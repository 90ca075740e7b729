// Fixed-width decimal numbers in file names and texts.
#pragma once

#include <cstdint>
#include <string>

namespace tessel {

// Decimal text of n left-padded with '0' to at least width characters, then its last width
// characters (ZeroPad(7, 3) is "007", ZeroPad(1234, 3) is "234").
std::string ZeroPad(int64_t n, int width);

}  // namespace tessel
