// The data log viewer over a whole month: the time until the grid shows the first rows after the
// window opens (the query of the whole file), the memory the open viewer holds, and a sort of all
// rows by one column. range(0) records: 100,000 from 3 units, or 11,249,280 = 252 units sampled
// every minute for 31 days (1.4 GB, generated once into build/bench-data).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench_files.h"
#include "host/host.h"
#include "ui/common/prompter.h"
#include "ui/logs/data_log_model.h"
#include "ui/logs/data_log_window.h"

namespace {

using namespace tessel;

// kB of one line of /proc/self/status ("RssAnon:", "RssFile:").
double StatusKb(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string name;
  double kb = 0;
  while (f >> name) {
    if (name == key) {
      f >> kb;
      return kb;
    }
    f.ignore(1 << 10, '\n');
  }
  return 0;
}

// A program folder whose March 2024 month is the generated file.
struct MonthHome {
  explicit MonthHome(int64_t records, std::string& why) {
    const auto month = bench::MonthFile(records, records > 1000000 ? 252 : 3, why);
    if (month.empty()) return;
    const std::string home = dir.path().toStdString();
    std::filesystem::create_directories(home + "/Record");
    std::filesystem::create_symlink(month, home + "/Record/DataLog2024_03.dat");
    host = std::make_unique<Host>(MakeProgramPaths(home));
  }
  // Opens the viewer on March 2024; firstMs is the time until the grid shows its first rows
  // (painted), the return the time until the whole month is listed.
  std::unique_ptr<TFrmDataLog> OpenViewer(double* firstMs = nullptr, double* allMs = nullptr) {
    QElapsedTimer t;
    t.start();
    auto v = std::make_unique<TFrmDataLog>(*host, prompter);
    v->findChild<QSpinBox*>("spedtYearD")->setValue(2024);
    v->findChild<QSpinBox*>("spedtMonthD")->setValue(3);
    v->show();
    bool first = false;
    while (v->Busy()) {
      QElapsedTimer step;
      step.start();
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      longestStepMs = std::max(longestStepMs, step.nsecsElapsed() / 1e6);
      if (!first && v->Model()->rowCount() > 0) {
        first = true;
        QApplication::processEvents();  // painted
        if (firstMs) *firstMs = t.nsecsElapsed() / 1e6;
      }
    }
    QApplication::processEvents();
    if (firstMs && !first) *firstMs = t.nsecsElapsed() / 1e6;
    if (allMs) *allMs = t.nsecsElapsed() / 1e6;
    return v;
  }
  QTemporaryDir dir;
  SilentPrompter prompter;
  double longestStepMs = 0;  // the longest the user-interface thread was kept from its events
  std::unique_ptr<Host> host;
};

void BM_DataLogViewerOpen(benchmark::State& state) {
  std::string why;
  MonthHome home(state.range(0), why);
  if (!home.host) {
    state.SkipWithError(why.c_str());
    return;
  }
  double anon = 0, file = 0, firstMs = 0, allMs = 0;
  int rows = 0;
  for (auto _ : state) {
    const double anonBefore = StatusKb("RssAnon:");
    auto v = home.OpenViewer(&firstMs, &allMs);
    rows = v->Model()->rowCount();
    // The first opening: later ones also count what the allocator kept from the ones before.
    if (anon == 0) anon = StatusKb("RssAnon:") - anonBefore;
    file = StatusKb("RssFile:");
  }
  state.counters["rows"] = rows;
  state.counters["first_rows_ms"] = firstMs;  // of the last opening
  state.counters["all_rows_ms"] = allMs;
  state.counters["ui_step_max_ms"] = home.longestStepMs;
  state.counters["anon_MiB"] = anon / 1024;  // what the open viewer holds of its own
  state.counters["file_MiB"] = file / 1024;  // mapped month pages, the page cache's to drop
}
BENCHMARK(BM_DataLogViewerOpen)
    ->Arg(100000)
    ->Arg(11249280)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_DataLogViewerSort(benchmark::State& state) {
  std::string why;
  MonthHome home(state.range(0), why);
  if (!home.host) {
    state.SkipWithError(why.c_str());
    return;
  }
  auto v = home.OpenViewer();
  home.longestStepMs = 0;
  double peak = 0;
  for (auto _ : state) {
    const double anonBefore = StatusKb("RssAnon:");
    v->SortByColumn(static_cast<int>(state.range(1)));  // the same column again flips it
    while (v->Busy()) {
      QElapsedTimer step;
      step.start();
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      home.longestStepMs = std::max(home.longestStepMs, step.nsecsElapsed() / 1e6);
      peak = std::max(peak, StatusKb("RssAnon:") - anonBefore);
    }
    QApplication::processEvents();
  }
  state.counters["rows"] = v->Model()->rowCount();
  state.counters["extra_anon_MiB_peak"] = peak / 1024;
  state.counters["ui_step_max_ms"] = home.longestStepMs;
}
BENCHMARK(BM_DataLogViewerSort)
    ->Args({100000, 2})
    ->Args({11249280, 2})
    ->Args({11249280, 13})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
