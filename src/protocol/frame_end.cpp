#include "protocol/frame_end.h"

#include <algorithm>

#include "protocol/ascii_frame.h"
#include "protocol/modbus_crc.h"

namespace tessel {

namespace {

constexpr uint8_t kExceptionBit = 0x80;
constexpr std::size_t kExceptionLen = 5;  // address, function, code, CRC
constexpr std::size_t kEchoLen = 8;       // address, function, register, value, CRC

// The length the frame announces, or 0 when it cannot tell (yet).
std::size_t ModbusAnswerLength(const uint8_t* data, std::size_t n) {
  if (n < 2) return 0;
  const uint8_t func = data[1];
  if ((func & kExceptionBit) != 0) return kExceptionLen;
  switch (func) {
    case 1:
    case 2:
    case 3:
    case 4:
      return n < 3 ? 0 : 3 + std::size_t{data[2]} + 2;
    case 5:
    case 6:
    case 15:
    case 16:
      return kEchoLen;
    default:
      return 0;
  }
}

}  // namespace

bool IsCompleteModbusAnswer(const uint8_t* data, std::size_t n) {
  if (data == nullptr) return false;
  const std::size_t len = ModbusAnswerLength(data, n);
  return len != 0 && n == len && ModbusCrc(data, n) == 0;
}

bool IsCompleteAsciiAnswer(const uint8_t* data, std::size_t n) {
  return data != nullptr && n > 0 && data[n - 1] == kAsciiEoi;
}

AnswerCompleteFn AnswerCompleteFor(int protocol) {
  switch (protocol) {
    case 0:
    case 1:
      return &IsCompleteAsciiAnswer;
    case 2:
    case 3:
      return &IsCompleteModbusAnswer;
    default:
      return nullptr;
  }
}

int AnswerQuietMs(int32_t baudRate, int stopBits) {
  if (baudRate <= 0) return kMinLineGapMs;
  const int64_t bitsPerChar = 1 + 8 + (stopBits == 2 ? 2 : 1);
  // 3.5 characters, rounded up to whole milliseconds: 35 * bits / (10 * baud) seconds.
  const int64_t ms =
      (35 * bitsPerChar * 1000 + 10 * int64_t{baudRate} - 1) / (10 * int64_t{baudRate});
  return static_cast<int>(std::max<int64_t>(ms, kMinLineGapMs));
}

}  // namespace tessel
