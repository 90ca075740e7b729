// Modbus answers of any shape against each kind of request the driver sends.
//
// Input: one control byte, then the answer (at most 400 bytes, as the scheduler hands it over).
//   bits 0-2  request kind: 0..4 poll steps 1..5, 5 a command slot write, 6 a search probe
//   bit 7     append a correct CRC, so that the decoding behind the CRC check is reached too
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/context.h"
#include "model/cmd_request.h"
#include "protocol/modbus_crc.h"
#include "protocol/modbus_driver.h"

namespace {

using namespace tessel;

constexpr uint8_t kAddr = 1;

// Builds requests until the driver has built the wanted kind, as the scheduler would.
void BuildKind(Context& ctx, TMModbus& drv, int kind) {
  if (kind == 6) {
    ctx.comm.PollState.SearchMode = kFlagOn;
    ctx.comm.PollState.SearchAddr = kAddr;
    drv.BuildRequest();
    return;
  }
  if (kind == 5) {
    RequestSwitchOn(ctx.cmd, 2, kAddr);
    drv.BuildRequest();
    ctx.model.EquipList.CurAddr = static_cast<uint8_t>(drv.TargetAddr);
    return;
  }
  static constexpr int kRegs[] = {30001, 30021, 30081, 40001, 40029};
  for (int i = 0; i < 12; ++i) {
    drv.BuildRequest();
    ctx.model.EquipList.CurAddr = static_cast<uint8_t>(drv.TargetAddr);
    if (drv.Request().SlaveAddr == kAddr && drv.Request().Reg == kRegs[kind]) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const int kind = (control & 7) % 7;

  // One context for the process (building 253 records per input would dominate the run); what
  // an input can change is put back to its start values first.
  static Context* const ctx = [] {
    auto* c = new Context;
    InitUpsTable(c->model.UpsTable);
    TEquipRec rec;
    rec.Addr = kAddr;
    AppendDevice(c->model.EquipList, rec);
    c->model.ModelCode = "ZEV305LB";  // five poll steps
    return c;
  }();
  static const TUpsInfo pristine = ctx->model.UpsTable[kAddr];
  static const TUpsInfo pristine0 = ctx->model.UpsTable[0];
  ctx->comm = CommState{};
  ctx->cmd = CmdRequests{};
  ctx->model.EquipList.Cursor = 0;
  ctx->model.EquipList.CurAddr = 0;
  ctx->model.UpsTable[0] = pristine0;
  ctx->model.UpsTable[kAddr] = pristine;
  ctx->model.UpsTable[kAddr].CommState = 0;
  TMModbus drv(*ctx);
  BuildKind(*ctx, drv, kind);

  std::vector<uint8_t> answer(data + 1, data + size);
  if (control & 0x80) AppendModbusCrc(answer);
  if (answer.size() > static_cast<size_t>(kRxBufSize)) answer.resize(kRxBufSize);
  // An exactly sized heap copy, so that a read past the answer's end is caught.
  auto copy = std::make_unique<uint8_t[]>(answer.size());
  std::copy(answer.begin(), answer.end(), copy.get());
  const bool ok =
      drv.ParseAnswer(answer.empty() ? nullptr : copy.get(), static_cast<int>(answer.size()));

  // An accepted answer counts itself and marks the request answered.
  if (ok && ctx->comm.Debug.AckOkCnt != 1) __builtin_trap();
  if (ok && drv.AnswerFlag() != kFlagOn) __builtin_trap();
  drv.BuildRequest();  // the driver must still be usable afterwards
  return 0;
}
