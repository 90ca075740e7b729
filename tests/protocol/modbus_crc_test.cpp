#include "protocol/modbus_crc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessel {
namespace {

TEST(ModbusCrc, KnownVectors) {
  const std::string check = "123456789";
  EXPECT_EQ(ModbusCrc(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);
  const uint8_t readRequest[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  EXPECT_EQ(ModbusCrc(readRequest, sizeof readRequest), 0xCDC5);
  EXPECT_EQ(ModbusCrc(nullptr, 0), 0xFFFF);
}

TEST(ModbusCrc, AppendedLowByteFirstAndWholeFrameChecksToZero) {
  std::vector<uint8_t> frame = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  AppendModbusCrc(frame);
  EXPECT_EQ(frame, (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
  EXPECT_EQ(ModbusCrc(frame.data(), frame.size()), 0);
  frame[3] ^= 0x01;
  EXPECT_NE(ModbusCrc(frame.data(), frame.size()), 0);
}

}  // namespace
}  // namespace tessel
