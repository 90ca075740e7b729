// The log stores and their queries, each beside its floor: for an append a plain open-write-close
// and the least a file held open needs (a stat of the path, one write), one sequential read of the
// same file for a query.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "bench_files.h"
#include "log/data_log.h"
#include "log/data_log_query.h"
#include "log/event_log.h"
#include "log/event_log_query.h"

namespace tessel {
namespace {

using bench::ScratchDir;

// ---- appends ------------------------------------------------------------------------------

void BM_EventLogAppend(benchmark::State& state) {
  ScratchDir dir;
  TUpsTable table{};
  ManualClock clock(EncodeDateTime(2024, 3, 5, 10));
  TEventLog log((dir.Path() / "Record").string(), (dir.Path() / "Backup").string(), "EventLog.dat",
                table, clock);
  TEventRec rec;
  rec.Time = clock.Now();
  rec.Address = 3;
  rec.Kind = 1;
  // Appends run through full files: every 5,001st archives the live file (a 240 KB copy).
  for (auto _ : state) benchmark::DoNotOptimize(log.Append(rec));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventLogAppend);

void BM_DataLogAppend(benchmark::State& state) {
  ScratchDir dir;
  TDataLog log((dir.Path() / "Record").string());
  int64_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(log.Append(bench::MinuteSample(i++, 252)));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DataLogAppend);

// Floor of an append: open the file once, write the record at its end, close it.
void BM_AppendFloor(benchmark::State& state) {
  ScratchDir dir;
  const std::string path = (dir.Path() / "floor.dat").string();
  const int size = static_cast<int>(state.range(0));
  std::vector<uint8_t> rec(size, 0x5A);
  for (auto _ : state) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    benchmark::DoNotOptimize(write(fd, rec.data(), rec.size()));
    close(fd);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendFloor)->Arg(kEventRecSize)->Arg(kDataRecSize);

// Floor of an append to a file held open: a stat of the path (is it still the file held?) and one
// write of the record at the end.
void BM_HeldAppendFloor(benchmark::State& state) {
  ScratchDir dir;
  const std::string path = (dir.Path() / "floor.dat").string();
  const int size = static_cast<int>(state.range(0));
  std::vector<uint8_t> rec(size, 0x5A);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  for (auto _ : state) {
    struct stat st {};
    stat(path.c_str(), &st);
    benchmark::DoNotOptimize(pwrite(fd, rec.data(), rec.size(), st.st_size));
  }
  close(fd);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HeldAppendFloor)->Arg(kEventRecSize)->Arg(kDataRecSize);

// ---- event log query over a full live file --------------------------------------------------

struct FullEventFile {
  ScratchDir dir;
  std::string path;
  FullEventFile() {
    path = (dir.Path() / "EventLog.dat").string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const double t0 = EncodeDateTime(2024, 3, 1);
    for (int i = 0; i <= kEventLogMaxRecords; ++i) {
      TEventRec r;
      r.Time = t0 + i / 1440.0;
      r.Address = static_cast<uint8_t>(i % 252 + 1);
      r.Kind = static_cast<uint8_t>(i % 3);
      r.Code = r.Kind == 0 ? 18 + i % 6 : (r.Kind == 1 ? i % 12 : i % 40);
      r.AlarmState = r.Kind == 2 ? static_cast<uint8_t>(i % 2) : 255;
      auto b = EncodeEventRec(r);
      std::fwrite(b.data(), 1, b.size(), f);
    }
    std::fclose(f);
  }
};

void BM_EventLogQuery(benchmark::State& state) {
  FullEventFile file;
  // 0: mode All (every record a row); 1: one day and one address (a handful of rows).
  const EventLogFilter filter = state.range(0) == 0
                                    ? MakeEventLogFilter(EventViewMode::All, 0, 0, 0, false, 0)
                                    : MakeEventLogFilter(EventViewMode::Date, 2024, 3, 2, true, 7);
  size_t rows = 0;
  for (auto _ : state) {
    auto r = QueryEventLog(file.path, filter, 1);
    rows = r.size();
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations() * (kEventLogMaxRecords + 1));
  state.SetLabel(std::to_string(rows) + " rows");
}
BENCHMARK(BM_EventLogQuery)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_EventLogQueryFloor(benchmark::State& state) {
  FullEventFile file;
  for (auto _ : state) benchmark::DoNotOptimize(bench::SequentialRead(file.path));
  state.SetItemsProcessed(state.iterations() * (kEventLogMaxRecords + 1));
}
BENCHMARK(BM_EventLogQueryFloor)->Unit(benchmark::kMicrosecond);

// ---- data log query over month files -------------------------------------------------------

// range(0): records in the file (100,000 from 3 units, or 11,249,280 = 252 units every minute for
// 31 days); range(1): 0 the whole month as the viewer lists it (visit + the fifteen cells),
// 1 the whole month visited only, 2 one day of one address.
void BM_DataLogQuery(benchmark::State& state) {
  const int64_t records = state.range(0);
  const int units = records > 1000000 ? 252 : 3;
  std::string why;
  const auto path = bench::MonthFile(records, units, why);
  if (path.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  TRecFilter filter;
  filter.FileName = path.string();
  filter.Year = 2024;
  filter.Month = 3;
  if (state.range(1) == 2) {
    filter.Day = 15;
    filter.Address = 2;
  }
  const bool cells = state.range(1) == 0;
  size_t matched = 0;
  for (auto _ : state) {
    matched = 0;
    ForEachDataLogMatch(filter, [&](const TDataRec& r) {
      ++matched;
      // The viewer shows at most 65,535 rows; format those, count the rest.
      if (cells && matched <= 65535) benchmark::DoNotOptimize(DataLogRowCells(r));
    });
  }
  state.SetItemsProcessed(state.iterations() * records);
  state.SetBytesProcessed(state.iterations() * records * kDataRecSize);
  state.SetLabel(std::to_string(matched) + " matched");
}
BENCHMARK(BM_DataLogQuery)
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Args({100000, 2})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataLogQuery)
    ->Args({11249280, 1})
    ->Args({11249280, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_DataLogQueryFloor(benchmark::State& state) {
  const int64_t records = state.range(0);
  std::string why;
  const auto path = bench::MonthFile(records, records > 1000000 ? 252 : 3, why);
  if (path.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(bench::SequentialRead(path));
  state.SetItemsProcessed(state.iterations() * records);
  state.SetBytesProcessed(state.iterations() * records * kDataRecSize);
}
BENCHMARK(BM_DataLogQueryFloor)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataLogQueryFloor)->Arg(11249280)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace tessel
