#include "protocol/ascii_driver.h"

#include <span>

namespace tessel {

TAsciiDriver::TAsciiDriver(Context& ctx, uint8_t versionByte, const std::array<uint8_t, 6>& cid2)
    : ctx_(ctx), versionByte_(versionByte), cid2_(cid2), cur_(&ctx.model.UpsTable[1]) {
  TargetAddr = 1;
}

void TAsciiDriver::BuildRequest() {
  const uint8_t kind = NextAsciiRequest(ctx_.comm.PollState, ctx_.model, TargetAddr);
  if (kind == 0) return;
  CurCmd = kind;
  BuildFrame();
}

void TAsciiDriver::BuildFrame() {
  if (CurCmd < 1 || CurCmd > 5) return;
  TxLen = tessel::BuildFrame(ctx_.comm.TxBuf, versionByte_, TargetAddr, cid2_[CurCmd]);
}

bool TAsciiDriver::ParseAnswer(const uint8_t* data, int n) {
  const std::span<const uint8_t> answer(data,
                                        data != nullptr && n > 0 ? static_cast<size_t>(n) : 0);
  auto& table = ctx_.model.UpsTable;
  if (!CheckAnswer(answer, versionByte_, TargetAddr, ctx_.comm.Debug,
                   [&](int addr) { cur_ = &table[static_cast<size_t>(addr)]; }))
    return false;
  // CurCmd 0: a late answer whose request was already answered; nothing to decode.
  if (CurCmd >= 1 && CurCmd <= 5) Decode(CurCmd, AnswerInfo(answer), *cur_);
  CurCmd = 0;
  return true;
}

}  // namespace tessel
