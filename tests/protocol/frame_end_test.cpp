#include "protocol/frame_end.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/ascii_frame.h"
#include "protocol/modbus_crc.h"

namespace tessel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithCrc(Bytes f) {
  AppendModbusCrc(f);
  return f;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

TEST(FrameEnd, ModbusAnswersEndByTheirLength) {
  const Bytes read = WithCrc({1, 4, 4, 0x12, 0x34, 0x56, 0x78});  // 9 bytes
  const Bytes echo = WithCrc({1, 6, 0x4E, 0x20, 0, 1});           // 8 bytes
  const Bytes exception = WithCrc({1, 0x83, 2});                  // 5 bytes
  Bytes badCrc = read;
  badCrc.back() ^= 0xFF;
  // A byte count damaged to a smaller value would end the frame early, but not with a good CRC.
  Bytes shortCount = read;
  shortCount[2] = 2;
  Bytes trailing = read;
  trailing.push_back(0x00);
  struct Case {
    const char* name;
    Bytes bytes;
    size_t n;  // first n bytes
    bool complete;
  } cases[] = {
      {"read answer", read, read.size(), true},
      {"read answer, CRC still missing", read, read.size() - 1, false},
      {"read answer, only address and function", read, 2, false},
      {"write echo", echo, echo.size(), true},
      {"write echo, one byte short", echo, 7, false},
      {"exception answer", exception, exception.size(), true},
      {"exception answer, CRC half there", exception, 4, false},
      {"a byte trails the frame", trailing, trailing.size(), false},
      {"wrong CRC", badCrc, badCrc.size(), false},
      {"damaged byte count", shortCount, 7, false},
      {"function without a known length", WithCrc({1, 0x11, 0}), 5, false},
      {"nothing", {}, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsCompleteModbusAnswer(c.bytes.data(), c.n), c.complete);
    EXPECT_EQ(AnswerCompleteFor(2)(c.bytes.data(), c.n), c.complete);
    EXPECT_EQ(AnswerCompleteFor(3)(c.bytes.data(), c.n), c.complete);
  }
}

TEST(FrameEnd, AsciiAnswersEndAtTheirEoi) {
  const Bytes frame = Text(BuildAnswerFrame(0x31, 1, 0, "0102"));
  struct Case {
    const char* name;
    Bytes bytes;
    bool complete;
  } cases[] = {
      {"whole frame", frame, true},
      {"EOI missing", Bytes(frame.begin(), frame.end() - 1), false},
      {"bytes after the EOI", Text(BuildAnswerFrame(0x31, 1, 0, "") + "~31"), false},
      {"noise ahead of the frame still ends at EOI", Text("xx" + BuildAnswerFrame(0x31, 1, 0, "")),
       true},
      {"nothing", {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AnswerCompleteFor(0)(c.bytes.data(), c.bytes.size()), c.complete);
    EXPECT_EQ(AnswerCompleteFor(1)(c.bytes.data(), c.bytes.size()), c.complete);
  }
  // Modbus bytes may hold a carriage return anywhere; only the ASCII test looks for it.
  const Bytes cr = {1, 4, 2, 0x0D, 0x0D};
  EXPECT_FALSE(IsCompleteModbusAnswer(cr.data(), cr.size()));
  EXPECT_EQ(AnswerCompleteFor(4), nullptr);
}

TEST(FrameEnd, QuietTimeIsThreeAndAHalfCharactersButNoLessThanTheLineGap) {
  struct Case {
    int baud, stopBits, ms;
  } cases[] = {
      {2400, 1, 15},  // 3.5 * 10 bits / 2400 = 14.6 ms
      {2400, 2, 17},  // 3.5 * 11 bits = 16.0 ms, rounded up
      {4800, 1, 8},
      {9600, 1, kMinLineGapMs},  // 3.6 ms
      {115200, 1, kMinLineGapMs},
      {0, 1, kMinLineGapMs},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.baud) + " bit/s, " + std::to_string(c.stopBits) + " stop bits");
    EXPECT_EQ(AnswerQuietMs(c.baud, c.stopBits), c.ms);
  }
}

}  // namespace
}  // namespace tessel
