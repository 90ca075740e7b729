#include "protocol/modbus_crc.h"

namespace tessel {

uint16_t ModbusCrc(const uint8_t* data, std::size_t n) {
  uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) {
      const bool out = (crc & 1) != 0;
      crc >>= 1;
      if (out) crc ^= 0xA001;
    }
  }
  return crc;
}

void AppendModbusCrc(std::vector<uint8_t>& frame) {
  const uint16_t crc = ModbusCrc(frame.data(), frame.size());
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
}

}  // namespace tessel
