#include "model/zero_pad.h"

namespace tessel {

std::string ZeroPad(int64_t n, int width) {
  if (width <= 0) return {};
  std::string s = std::to_string(n);
  const size_t w = static_cast<size_t>(width);
  if (s.size() < w) s.insert(0, w - s.size(), '0');
  return s.substr(s.size() - w);
}

}  // namespace tessel
