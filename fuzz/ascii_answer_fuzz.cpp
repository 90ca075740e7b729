// ASCII answers of any shape through the answer check and each ASCII driver's decoding.
//
// Input: one control byte, then the answer (at most 400 bytes, as the scheduler hands it over).
//   bit 0     driver: 0 modular units (version 31), 1 three-phase units (version 11)
//   bits 1-3  outstanding command kind, 0..5 (6 and 7 are taken as 0)
//   bit 6     the three-phase device has enough valid answers to take status and alarm answers
//   bit 7     rewrite LENGTH and CHKSUM to match, so that decoding is reached too
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/context.h"
#include "protocol/epower_driver.h"
#include "protocol/func_unit.h"
#include "protocol/ydt_v31_driver.h"

using namespace tessel;

namespace {

constexpr int kAddr = 1;

void FixFrame(std::vector<uint8_t>& a) {
  const int n = static_cast<int>(a.size());
  if (n < 18) return;
  std::string len = LengthField(n - 18);
  std::copy(len.begin(), len.end(), a.begin() + 9);
  std::string sum = FrameChecksum(a.data(), n - 6);
  std::copy(sum.begin(), sum.end(), a.begin() + (n - 5));
}

int CounterSum(const TCommDebug& d) {
  int s = d.AckOkCnt;
  for (int32_t c : d.ErrCnt) s += c;
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const int cmd = (control >> 1) & 7;

  // One context for the process (building 253 records per input would dominate the run); what
  // an input can change is put back to its start values first.
  static Context* const ctx = [] {
    auto* c = new Context;
    InitUpsTable(c->model.UpsTable);
    TEquipRec rec;
    rec.Addr = kAddr;
    AppendDevice(c->model.EquipList, rec);
    return c;
  }();
  static const TUpsInfo pristine = ctx->model.UpsTable[kAddr];
  ctx->comm = CommState{};
  ctx->model.EquipList.Cursor = 0;
  ctx->model.EquipList.CurAddr = 0;
  TUpsInfo& dev = ctx->model.UpsTable[kAddr];
  dev = pristine;
  dev.CommState = 0;
  if (control & 0x40) dev.OkCnt = TEpowerProtocol::kMinOkCnt;

  std::unique_ptr<ProtocolDriver> drv;
  if (control & 1) {
    auto d = std::make_unique<TEpowerProtocol>(*ctx);
    d->CurCmd = static_cast<uint8_t>(cmd > 5 ? 0 : cmd);
    drv = std::move(d);
  } else {
    auto d = std::make_unique<TYdtV31Protocol>(*ctx);
    d->CurCmd = static_cast<uint8_t>(cmd > 5 ? 0 : cmd);
    drv = std::move(d);
  }
  drv->TargetAddr = kAddr;

  std::vector<uint8_t> answer(data + 1, data + size);
  if (answer.size() > static_cast<size_t>(kRxBufSize)) answer.resize(kRxBufSize);
  if (control & 0x80) FixFrame(answer);
  auto copy = std::make_unique<uint8_t[]>(answer.size());
  std::copy(answer.begin(), answer.end(), copy.get());

  const auto measures = MeasureBlock(dev);
  const auto status = StatusBlock(dev);
  const bool ok =
      drv->ParseAnswer(answer.empty() ? nullptr : copy.get(), static_cast<int>(answer.size()));

  // Every answer is counted exactly once, as accepted or under the step that rejected it, and a
  // rejected one changes no device record.
  if (CounterSum(ctx->comm.Debug) != 1) __builtin_trap();
  if (ok != (ctx->comm.Debug.AckOkCnt == 1)) __builtin_trap();
  if (!ok && (MeasureBlock(dev) != measures || StatusBlock(dev) != status)) __builtin_trap();
  drv->BuildRequest();
  return 0;
}
