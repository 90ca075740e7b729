// Flags shared between modules are bytes: 0 off, 255 on.
#pragma once

#include <cstdint>

namespace tessel {

constexpr uint8_t kFlagOn = 255;
constexpr uint8_t kFlagOff = 0;

}  // namespace tessel
