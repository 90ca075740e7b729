// CRC-16/MODBUS: the checksum that closes every Modbus RTU frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessel {

// CRC-16/MODBUS of n bytes (start 0xFFFF, reflected polynomial 0xA001). Over a whole frame that
// already ends in its CRC (low byte first) the result is 0.
uint16_t ModbusCrc(const uint8_t* data, std::size_t n);

// Appends the CRC of the frame so far, low byte first, as it travels on the wire.
void AppendModbusCrc(std::vector<uint8_t>& frame);

}  // namespace tessel
