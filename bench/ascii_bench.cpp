// The ASCII answer check alone and with each driver's decoding, against the checksum pass over
// the same bytes that every answer needs anyway.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "model/context.h"
#include "protocol/ascii_frame.h"
#include "protocol/epower_driver.h"
#include "protocol/func_unit.h"
#include "protocol/ydt_v31_driver.h"

namespace tessel {
namespace {

// Frame sizes the INFO layouts of the five command kinds need (modular units; the three-phase
// layouts fit in the same sizes but for kind 1 and 4, which get the longest).
constexpr int kFrameLen[2][6] = {{0, 64, 40, 56, 164, 48}, {0, 120, 60, 60, 164, 120}};

std::string Answer(uint8_t ver, int kind, bool threePhase) {
  const int n = kFrameLen[threePhase][kind];
  std::string info;
  const char* unit = threePhase ? (kind == 2 || kind == 3 ? "01E0E0E0" : "00005C43") : "5AF0";
  while (static_cast<int>(info.size()) < n - 18) info += unit;
  info.resize(n - 18);
  return BuildAnswerFrame(ver, 1, 0, info);
}

struct AsciiFixture {
  std::unique_ptr<Context> ctx = std::make_unique<Context>();
  AsciiFixture() {
    InitUpsTable(ctx->model.UpsTable);
    ctx->model.UpsTable[1].CommState = 0;
    ctx->model.UpsTable[1].OkCnt = TEpowerProtocol::kMinOkCnt;
  }
};

void BM_AsciiCheckAnswer(benchmark::State& state) {
  AsciiFixture f;
  const std::string a = Answer(0x31, 4, false);
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(a.data()), a.size());
  for (auto _ : state) {
    bool ok = CheckAnswer(bytes, 0x31, 1, f.ctx->comm.Debug);
    benchmark::DoNotOptimize(ok);
  }
  if (f.ctx->comm.Debug.AckOkCnt == 0) state.SkipWithError("answer rejected");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(a.size()));
}
BENCHMARK(BM_AsciiCheckAnswer);

template <class Driver>
void BM_AsciiParseAnswer(benchmark::State& state) {
  constexpr bool threePhase = std::is_same_v<Driver, TEpowerProtocol>;
  AsciiFixture f;
  Driver drv(*f.ctx);
  drv.TargetAddr = 1;
  const int kind = static_cast<int>(state.range(0));
  const std::string a = Answer(Driver::kVersionByte, kind, threePhase);
  const auto* bytes = reinterpret_cast<const uint8_t*>(a.data());
  for (auto _ : state) {
    drv.CurCmd = static_cast<uint8_t>(kind);
    bool ok = drv.ParseAnswer(bytes, static_cast<int>(a.size()));
    benchmark::DoNotOptimize(ok);
  }
  if (f.ctx->comm.Debug.AckOkCnt == 0) state.SkipWithError("answer rejected");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(a.size()));
  state.SetLabel(std::to_string(a.size()) + " bytes");
}
BENCHMARK_TEMPLATE(BM_AsciiParseAnswer, TYdtV31Protocol)->DenseRange(1, 5);
BENCHMARK_TEMPLATE(BM_AsciiParseAnswer, TEpowerProtocol)->DenseRange(1, 5);

// Floor: the frame checksum over the 164-byte answer.
void BM_AsciiChecksumFloor(benchmark::State& state) {
  const std::string a = Answer(0x31, 4, false);
  const auto* bytes = reinterpret_cast<const uint8_t*>(a.data());
  for (auto _ : state) {
    std::string sum = FrameChecksum(bytes, static_cast<int>(a.size()) - 6);
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(a.size()));
}
BENCHMARK(BM_AsciiChecksumFloor);

}  // namespace
}  // namespace tessel
