// Values shared by the poll scheduler, the protocol drivers, the Trace window and device search.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>

#include "model/flags.h"

namespace tessel {

constexpr int kTxBufSize = 256;
constexpr int kRxBufSize = 400;

// Counters stop at their maximum instead of overflowing.
inline void Bump(int32_t& counter) {
  if (counter < std::numeric_limits<int32_t>::max()) ++counter;
}

struct TPollState {
  uint8_t SearchMode = 0;  // flag: device search running
  uint8_t ManualMode = 0;  // flag: Trace window in "Manual" send mode
  uint8_t Awaiting = 0;    // flag: a request is outstanding
  uint8_t Reserved1 = 0;   // debug code 51
  uint8_t Reserved2 = 0;   // debug code 52
  uint8_t WaitTicks = 0;
  uint8_t SendLimit = 0;
  uint8_t SendCount = 0;
  int32_t FrameLen = 0;
  uint8_t StepIndex = 0;
  uint8_t StepCount = 0;
  uint8_t SearchAddr = 0;
  uint8_t SchedState = 0;
};

struct TCommDebug {
  uint8_t Reserved = 0;  // debug code 101
  int32_t SendCnt = 0;
  int32_t AckCnt = 0;
  int32_t AckOkCnt = 0;
  std::array<int32_t, 10> ErrCnt{};
  double Rate = 0;
  std::string ReservedText;
  uint8_t DbgShow = 0;
};

struct CommState {
  TPollState PollState;
  std::array<uint8_t, kTxBufSize> TxBuf{};
  std::array<uint8_t, kRxBufSize> RxBuf{};
  TCommDebug Debug;
  uint8_t TxLed = 0;
  uint8_t RxLed = 0;
  int32_t RecDly = 0;
  uint8_t TraceShown = 0;
  std::array<int32_t, 20> DbgVar{};   // codes 300..319
  std::array<int32_t, 101> DbgCnt{};  // codes 1000..1100
};

}  // namespace tessel
