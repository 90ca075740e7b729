// The contract every protocol driver fulfils towards the poll scheduler.
#pragma once

#include <cstdint>

namespace tessel {

// A protocol driver: builds the next request into TxBuf and judges each received chunk.
class ProtocolDriver {
 public:
  virtual ~ProtocolDriver() = default;
  // Chooses and builds the next request; leaves its length in TxLen (0: nothing to send)
  // and its bus address in TargetAddr.
  virtual void BuildRequest() = 0;
  // n is at most 400. True when the chunk was a valid answer decoded into the device table.
  virtual bool ParseAnswer(const uint8_t* data, int n) = 0;

  int32_t TxLen = 0;
  int32_t TargetAddr = 0;
};

}  // namespace tessel
