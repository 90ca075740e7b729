// tessel-event-log-open: opens the event log viewer on a generated log of N records (default
// 1,000,000, all in one month, so the viewer's default month view matches every one) and prints
// the time until the rows are shown, the time of a re-sort by the event text, and the memory of
// the process before and after. Offscreen; the figures go to the terminal.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "log/event_log.h"
#include "model/clock.h"
#include "ui/common/prompter.h"
#include "ui/logs/event_log_window.h"

namespace {

using namespace tessel;

// Resident and peak resident memory of this process in MiB.
void Memory(double& rss, double& peak) {
  std::ifstream f("/proc/self/status");
  std::string line;
  rss = peak = 0;
  while (std::getline(f, line)) {
    if (line.rfind("VmRSS:", 0) == 0) rss = std::atof(line.c_str() + 6) / 1024;
    if (line.rfind("VmHWM:", 0) == 0) peak = std::atof(line.c_str() + 6) / 1024;
  }
}

void WriteLog(const std::string& path, long count) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  const double start = EncodeDateTime(2024, 3, 1);
  std::vector<uint8_t> block;
  block.reserve(4096 * kEventRecSize);
  for (long i = 0; i < count; ++i) {
    TEventRec r;
    r.Time = start + (static_cast<double>(i) * 2.5) / 86400.0;  // 1e6 records: 29 days
    r.Address = static_cast<uint8_t>(1 + i % 32);
    r.Kind = static_cast<uint8_t>(i % 3);
    r.Code = r.Kind == 0 ? 18 + static_cast<int>(i % 6) : r.Kind == 1 ? 1 + i % 11 : i % 40;
    r.AlarmState = r.Kind == 2 ? static_cast<uint8_t>(i / 3 % 2) : 255;
    const auto b = EncodeEventRec(r);
    block.insert(block.end(), b.begin(), b.end());
    if (block.size() >= 4096 * kEventRecSize) {
      f.write(reinterpret_cast<const char*>(block.data()),
              static_cast<std::streamsize>(block.size()));
      block.clear();
    }
  }
  f.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
}

void WaitIdle(TFrmEventLog& viewer) {
  while (viewer.Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const long count = argc > 1 ? std::atol(argv[1]) : 1000000;

  QTemporaryDir dir;
  const std::string home = dir.path().toStdString();
  std::ofstream(home + "/UserParaIni.ini") << "[CommPort]\nComName=/dev/no-such-port\n";
  Host host(MakeProgramPaths(home));
  host.Start();
  WriteLog(host.Core().EventLog().FilePath(), count);
  host.Core().EventLog().Changed = 0;

  double rss0 = 0, peak0 = 0, rss1 = 0, peak1 = 0, rss2 = 0, peak2 = 0;
  Memory(rss0, peak0);
  SilentPrompter prompter;
  TFrmEventLog viewer(host, prompter);
  viewer.Today = [] { return QDate(2024, 3, 15); };
  QElapsedTimer t;
  t.start();
  viewer.show();
  const qint64 showMs = t.elapsed();  // the user-interface thread is free again after this
  WaitIdle(viewer);
  QApplication::processEvents();  // the first rows painted
  const qint64 rowsMs = t.elapsed();
  Memory(rss1, peak1);

  t.restart();
  viewer.HeaderPressed(3);
  WaitIdle(viewer);
  const qint64 sortMs = t.elapsed();
  Memory(rss2, peak2);

  std::printf("records %ld, rows shown %d\n", count, viewer.RowsShown());
  std::printf("show() returned after %lld ms; rows shown after %lld ms\n",
              static_cast<long long>(showMs), static_cast<long long>(rowsMs));
  std::printf("re-sort by event text: %lld ms\n", static_cast<long long>(sortMs));
  std::printf(
      "memory (MiB): before opening %.1f; open with rows %.1f (peak %.1f); after the "
      "re-sort %.1f (peak %.1f)\n",
      rss0, rss1, peak1, rss2, peak2);
  host.Stop();
  return 0;
}
