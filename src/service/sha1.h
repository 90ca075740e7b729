// SHA-1 (FIPS 180-4), for names that must stay the same from one build to the next (the
// single-instance key). Not for anything that needs collision resistance.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessel {

std::array<uint8_t, 20> Sha1(std::string_view data);
// The digest in lower-case hex, 40 characters.
std::string Sha1Hex(std::string_view data);

}  // namespace tessel
