#include "protocol/ascii_driver.h"

#include <iterator>
#include <span>

namespace tessel {

namespace {

constexpr uint8_t kFastStateKinds[] = {2, 3};
constexpr uint8_t kFastSlowKinds[] = {1, 4, 5};

}  // namespace

TAsciiDriver::TAsciiDriver(Context& ctx, uint8_t versionByte, const std::array<uint8_t, 6>& cid2)
    : ctx_(ctx), versionByte_(versionByte), cid2_(cid2), cur_(&ctx.model.UpsTable[1]) {
  TargetAddr = 1;
}

void TAsciiDriver::BuildRequest() {
  const TPollState& ps = ctx_.comm.PollState;
  uint8_t kind = 0;
  if (ctx_.settings.PortInfo.FastPoll && ps.SearchMode == 0) {
    if (ps.ManualMode != 0) return;
    const FastPick pick =
        fast_.Next(ctx_.model, std::size(kFastStateKinds), std::size(kFastSlowKinds));
    TargetAddr = pick.addr;
    kind = pick.slow ? kFastSlowKinds[pick.step] : kFastStateKinds[pick.step];
  } else {
    kind = NextAsciiRequest(ctx_.comm.PollState, ctx_.model, TargetAddr);
  }
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
