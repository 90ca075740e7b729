// The CSV writer exporting a full data-log grid of 65,535 rows, against writing the same bytes in
// one go.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_files.h"
#include "log/csv_writer.h"
#include "log/data_log_query.h"

namespace tessel {
namespace {

constexpr size_t kRows = 65535;

// The grid as the data viewer holds it: header plus 65,535 rows of fifteen cells.
const std::vector<GridRow>& Grid() {
  static const std::vector<GridRow> grid = [] {
    std::vector<GridRow> g;
    g.push_back(DataLogHeader(1));
    for (size_t i = 0; i < kRows; ++i) g.push_back(DataLogRowCells(bench::MinuteSample(i, 3)));
    return g;
  }();
  return grid;
}

CsvTable Table() {
  CsvTable t;
  t.RowCount = Grid().size();
  t.ColumnVisible.assign(kDataLogColumns, true);
  t.Cell = [](size_t r, size_t c) { return Grid()[r][c]; };
  return t;
}

void BM_CsvWrite(benchmark::State& state) {
  bench::ScratchDir dir;
  const std::string path = (dir.Path() / "export.csv").string();
  const CsvTable table = Table();
  for (auto _ : state) {
    CsvResult r = WriteCsv(path, table);
    if (!r.Ok()) state.SkipWithError("export failed");
  }
  const auto bytes = std::filesystem::file_size(path);
  state.SetItemsProcessed(state.iterations() * table.RowCount);
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetLabel(std::to_string(bytes) + " bytes");
}
BENCHMARK(BM_CsvWrite)->Unit(benchmark::kMillisecond);

// Floor: the finished file's bytes, written with one call.
void BM_CsvWriteFloor(benchmark::State& state) {
  bench::ScratchDir dir;
  const std::string path = (dir.Path() / "export.csv").string();
  WriteCsv(path, Table());
  std::string bytes;
  {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::vector<char> b(std::filesystem::file_size(path));
    b.resize(std::fread(b.data(), 1, b.size(), f));
    std::fclose(f);
    bytes.assign(b.begin(), b.end());
  }
  const std::string out = (dir.Path() / "floor.csv").string();
  for (auto _ : state) {
    std::FILE* f = std::fopen(out.c_str(), "wb");
    benchmark::DoNotOptimize(std::fwrite(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
  }
  state.SetItemsProcessed(state.iterations() * (kRows + 1));
  state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_CsvWriteFloor)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessel
