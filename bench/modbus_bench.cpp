// Checking and decoding one Modbus answer, against the CRC pass over the same bytes that every
// answer needs anyway.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "model/context.h"
#include "protocol/modbus_crc.h"
#include "protocol/modbus_driver.h"

namespace tessel {
namespace {

// The driver with a request for poll step `step` (1..4) of address 1 outstanding, and the answer
// a unit sends to it.
struct ModbusFixture {
  std::unique_ptr<Context> ctx = std::make_unique<Context>();
  std::unique_ptr<TMModbus> drv;
  std::vector<uint8_t> answer;

  explicit ModbusFixture(int step) {
    InitUpsTable(ctx->model.UpsTable);
    TEquipRec rec;
    rec.Addr = 1;
    AppendDevice(ctx->model.EquipList, rec);
    ctx->model.UpsTable[1].CommState = 0;
    drv = std::make_unique<TMModbus>(*ctx);
    static constexpr int kRegs[] = {30001, 30021, 30081, 40001};
    for (int i = 0; i < 12; ++i) {
      drv->BuildRequest();
      ctx->model.EquipList.CurAddr = static_cast<uint8_t>(drv->TargetAddr);
      if (drv->Request().SlaveAddr == 1 && drv->Request().Reg == kRegs[step - 1]) break;
    }
    const int count = drv->Request().Count;
    answer = {1, drv->Request().Func, static_cast<uint8_t>(2 * count)};
    for (int i = 0; i < count; ++i) {
      answer.push_back(0x08);
      answer.push_back(static_cast<uint8_t>(0x90 + i));
    }
    AppendModbusCrc(answer);
  }
};

void BM_ModbusParseAnswer(benchmark::State& state) {
  ModbusFixture f(static_cast<int>(state.range(0)));
  if (!f.drv->ParseAnswer(f.answer.data(), static_cast<int>(f.answer.size())))
    state.SkipWithError("answer rejected");
  for (auto _ : state) {
    bool ok = f.drv->ParseAnswer(f.answer.data(), static_cast<int>(f.answer.size()));
    benchmark::DoNotOptimize(ok);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.answer.size()));
  state.SetLabel("registers " + std::to_string(f.drv->Request().Count));
}
BENCHMARK(BM_ModbusParseAnswer)->Arg(1)->Arg(2)->Arg(3)->Arg(4);

// Floor: the CRC over the same answer.
void BM_ModbusCrcFloor(benchmark::State& state) {
  ModbusFixture f(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    uint16_t crc = ModbusCrc(f.answer.data(), f.answer.size());
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.answer.size()));
}
BENCHMARK(BM_ModbusCrcFloor)->Arg(1)->Arg(2)->Arg(3)->Arg(4);

}  // namespace
}  // namespace tessel
