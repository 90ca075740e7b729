// What the two ASCII drivers share: the request rotation, building the request frame and the
// answer check; each driver decodes the INFO of its own command kinds.
#pragma once

#include <array>
#include <cstdint>

#include "model/comm_state.h"
#include "model/context.h"
#include "model/ups_info.h"
#include "protocol/ascii_frame.h"
#include "protocol/fast_rotation.h"
#include "protocol/protocol_driver.h"

namespace tessel {

class TAsciiDriver : public ProtocolDriver {
 public:
  // Next request of the rotation (or a search probe) into TxBuf; nothing in manual send mode.
  // With fast polling the status (kind 2) and alarms (kind 3) of every unit come in every round,
  // the measurements and battery data (kinds 1, 4, 5) in turn between them.
  void BuildRequest() override;
  // Encodes the request for CurCmd (1..5) and TargetAddr into TxBuf and sets TxLen; a CurCmd
  // outside 1..5 builds nothing.
  void BuildFrame();
  // Checks the answer against TargetAddr and decodes it by CurCmd into UpsTable[ADR]. A valid
  // answer whose INFO is too short for its layout counts as answered but decodes nothing.
  bool ParseAnswer(const uint8_t* data, int n) override;

  // The command kind of the outstanding request, 1..5; 0 once its answer has been decoded.
  uint8_t CurCmd = 0;

 protected:
  // cid2[k] is the CID2 code of command kind k (1..5). Starts with target address 1, no
  // outstanding command and UpsTable[1] as current record.
  TAsciiDriver(Context& ctx, uint8_t versionByte, const std::array<uint8_t, 6>& cid2);
  // Decodes a valid answer to command kind cmd (1..5) into u.
  virtual void Decode(uint8_t cmd, const AnswerInfo& info, TUpsInfo& u) = 0;

  Context& ctx_;

 private:
  const uint8_t versionByte_;
  const std::array<uint8_t, 6> cid2_;
  TUpsInfo* cur_;
  TFastRotation fast_;
};

}  // namespace tessel
