// Number-to-text tables for operating states, communication events and alarm codes, in the
// language of the Language setting (1 Chinese, anything else English). UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace tessel {

std::string StateText(int index, uint8_t language);
std::string CommEventText(int code, uint8_t language);
std::string AlarmText(int code, uint8_t language);

}  // namespace tessel
