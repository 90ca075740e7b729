// What the program puts on the line and into the event log does not depend on the front end or
// on the thread keeping time: a monitor stopped for seconds sends at most one request when it
// comes back, and the same scenario gives the same event log headless, with the window shown and
// with the window minimised.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "host/host.h"
#include "ui/common/prompter.h"
#include "ui/main/main_window.h"

namespace tessel::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// The simulator's time stamp of a request line ("12.345 addr=2 ..."), or -1 for other lines.
double RequestStamp(const std::string& line) {
  if (line.find(" addr=") == std::string::npos || line.find(" command:") != std::string::npos ||
      line.find("tessel-sim") != std::string::npos)
    return -1;
  char* end = nullptr;
  const double t = std::strtod(line.c_str(), &end);
  return end != line.c_str() && *end == ' ' ? t : -1;
}

// SIGSTOP stands for any stall of the polling thread (a slow disk under a log write, a paused
// machine, a debugger). A 100 ms timer would run one late tick after it, not every tick missed:
// at most one request right after the stall, then requests at the scheduler's own spacing.
TEST(FrontEnds, StalledMonitorSendsAtMostOneRequestWhenItComesBack) {
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  const std::string link = home.Path() + "/ttyUPS";
  const std::string scenario = home.Path() + "/online.txt";
  std::ofstream(scenario) << "0 state = online\n";
  auto sim = StartSim(2, "1-3", {"--scenario", scenario}, link);
  ASSERT_FALSE(HasFailure());
  WriteSettings(home.Path(), link, 2);
  WriteDeviceList(home.Path(), {1, 2, 3});
  auto monitor = StartMonitor(home.Path());
  auto upCount = [&] {
    int n = 0;
    for (const EventRecord& e : ReadEventLog(home.EventLogPath()))
      if (e.kind == 0 && e.code == 22) ++n;
    return n;
  };
  ASSERT_TRUE(WaitFor(
      [&] {
        sim->Pump();
        return upCount() >= 3;
      },
      seconds(60)))
      << monitor->Transcript();

  ASSERT_TRUE(monitor->Signal(SIGSTOP));
  WaitFor(
      [&] {
        sim->Pump();
        return false;
      },
      seconds(8));
  ASSERT_TRUE(monitor->Signal(SIGCONT));
  WaitFor(
      [&] {
        sim->Pump();
        monitor->Pump();
        return false;
      },
      seconds(6));

  std::vector<double> stamps;
  const auto& lines = sim->Lines();
  for (size_t i = 0; i < lines.size(); ++i)
    if (const double t = RequestStamp(lines[i].text); t >= 0) stamps.push_back(t);
  ASSERT_GE(stamps.size(), 4u) << sim->Transcript();
  // The stall: the longest silence on the line.
  size_t resumed = 1;
  for (size_t i = 2; i < stamps.size(); ++i)
    if (stamps[i] - stamps[i - 1] > stamps[resumed] - stamps[resumed - 1]) resumed = i;
  EXPECT_GT(stamps[resumed] - stamps[resumed - 1], 6.0) << sim->Transcript();
  int burst = 0;
  for (size_t i = resumed; i < stamps.size(); ++i)
    if (stamps[i] - stamps[resumed] < 0.15) ++burst;
  EXPECT_LE(burst, 1) << sim->Transcript();
  // No two requests closer than the scheduler's spacing (a build, then the send: 200 ms).
  for (size_t i = 1; i < stamps.size(); ++i)
    EXPECT_GE(stamps[i] - stamps[i - 1], 0.15) << "request " << i << "\n" << sim->Transcript();
  std::string seen;
  for (double t : stamps) seen += std::to_string(t) + " ";
  EXPECT_GE(stamps.size() - resumed, 4u) << "polling did not go on: " << seen << "\n"
                                         << sim->Transcript();

  ASSERT_TRUE(monitor->Signal(SIGTERM));
  EXPECT_EQ(monitor->WaitExit(seconds(15)), std::optional<int>(0)) << monitor->Transcript();
  sim->Signal(SIGTERM);
  sim->WaitExit(seconds(15));
}

class SilentPrompterForTest : public Prompter {
 public:
  void Tell(QWidget*, MessageKind, const QString&) override {}
  bool Ask(QWidget*, const QString&) override { return false; }
};

// One scenario, three front ends at once, each on a simulator of its own: the unit silenced until
// it is lost, answering again; then its port closed (the simulator ends, the device goes away)
// and reopened by the monitor's retry. The event logs must be byte for byte the same apart from
// the time stamps: the unit's state and alarms are established again after each, whether a window
// refreshes or not.
TEST(FrontEnds, SameScenarioSameEventLogHeadlessShownAndMinimised) {
  enum Mode { kHeadless, kShown, kMinimised };
  struct Run {
    Mode mode;
    TempHome home;
    std::string link, scenario;
    std::unique_ptr<ChildProcess> sim;
    std::unique_ptr<ChildProcess> headless;
    std::unique_ptr<Host> host;
    std::unique_ptr<TFrmMain> window;
    SilentPrompterForTest prompter;
    int phase = 0;
    size_t simSeen = 0;
    std::vector<EventRecord> Events() const { return ReadEventLog(home.EventLogPath()); }
    int Appeared() const {
      int n = 0;
      for (const EventRecord& e : Events())
        if (e.addr == 1 && e.kind == 2 && e.alarmState == 1) ++n;
      return n;
    }
    bool Lost() const {
      for (const EventRecord& e : Events())
        if (e.addr == 1 && e.kind == 0 && e.code == 18) return true;
      return false;
    }
    std::string Name() const {
      return mode == kHeadless ? "headless" : mode == kShown ? "window shown" : "window minimised";
    }
  };
  std::vector<std::unique_ptr<Run>> runs;
  for (Mode m : {kHeadless, kShown, kMinimised}) {
    auto r = std::make_unique<Run>();
    r->mode = m;
    ASSERT_FALSE(r->home.Path().empty());
    r->link = r->home.Path() + "/ttyUPS";
    r->scenario = r->home.Path() + "/battery.txt";
    // On battery with "mains voltage abnormal": a state and an alarm to establish again.
    std::ofstream(r->scenario) << "0 state = battery cmm_alarm2 = 0x0040\n";
    r->sim = StartSim(2, "1", {"--scenario", r->scenario}, r->link);
    ASSERT_FALSE(HasFailure());
    WriteSettings(r->home.Path(), r->link, 2);
    WriteDeviceList(r->home.Path(), {1});
    if (m == kHeadless) {
      r->headless = StartMonitor(r->home.Path());
    } else {
      r->host = std::make_unique<Host>(MakeProgramPaths(r->home.Path()));
      r->window = std::make_unique<TFrmMain>(*r->host, r->prompter);
      r->host->Start();
      if (m == kShown)
        r->window->show();
      else
        r->window->showMinimized();
    }
    runs.push_back(std::move(r));
  }

  // Each run steps through the scenario on what its own event log and simulator show.
  auto step = [&](Run& r) {
    r.sim->Pump();
    if (r.headless) r.headless->Pump();
    switch (r.phase) {
      case 0:  // established: state and alarm
        if (r.Appeared() >= 1) {
          r.sim->WriteInput("fault silent@1\n");
          r.phase = 1;
        }
        break;
      case 1:  // lost
        if (r.Lost()) {
          r.sim->WriteInput("clear\n");
          r.phase = 2;
        }
        break;
      case 2:  // answering again: state and alarm established again
        if (r.Appeared() >= 2) {
          r.simSeen = r.sim->Lines().size();
          r.phase = 3;
        }
        break;
      case 3: {  // the port goes away just after the status words were read
        const auto& lines = r.sim->Lines();
        bool statusRead = false;
        for (size_t i = r.simSeen; i < lines.size() && !statusRead; ++i)
          statusRead = RequestStamp(lines[i].text) >= 0 &&
                       lines[i].text.find("reg=30081") != std::string::npos;
        r.simSeen = lines.size();
        if (statusRead) {
          // The simulator (and the lines read above) goes; a new one takes the same link.
          r.sim->Signal(SIGTERM);
          EXPECT_EQ(r.sim->WaitExit(seconds(10)), std::optional<int>(0)) << r.Name();
          r.sim = StartSim(2, "1", {"--scenario", r.scenario}, r.link);
          r.simSeen = 0;
          r.phase = 4;
        }
        break;
      }
      case 4:  // reopened by the retry: state and alarm established once more
        if (r.Appeared() >= 3) {
          if (r.headless) {
            r.headless->Signal(SIGTERM);
            EXPECT_EQ(r.headless->WaitExit(seconds(15)), std::optional<int>(0))
                << r.headless->Transcript();
          } else {
            r.host->Stop();
          }
          r.phase = 5;
        }
        break;
      default:
        break;
    }
    return r.phase == 5;
  };
  const bool done = WaitFor(
      [&] {
        bool all = true;
        for (auto& r : runs) all = step(*r) && all;
        return all;
      },
      seconds(100));
  for (auto& r : runs) {
    SCOPED_TRACE(r->Name());
    EXPECT_EQ(r->phase, 5) << "event log:\n"
                           << Describe(r->Events())
                           << (r->headless ? r->headless->Transcript() : std::string());
  }
  ASSERT_TRUE(done);

  // Every record without its time stamp (the first 8 bytes).
  auto recordsWithoutTime = [](const Run& r) {
    std::ifstream in(r.home.EventLogPath(), std::ios::binary);
    const std::vector<uint8_t> all{std::istreambuf_iterator<char>(in), {}};
    std::vector<std::vector<uint8_t>> recs;
    for (size_t i = 0; i + 48 <= all.size(); i += 48)
      recs.emplace_back(all.begin() + static_cast<long>(i) + 8,
                        all.begin() + static_cast<long>(i) + 48);
    return recs;
  };
  const auto headless = recordsWithoutTime(*runs[0]);
  for (size_t k = 1; k < runs.size(); ++k) {
    EXPECT_EQ(recordsWithoutTime(*runs[k]), headless)
        << runs[k]->Name() << ":\n"
        << Describe(runs[k]->Events()) << "headless:\n"
        << Describe(runs[0]->Events());
  }
  // The unit's state was logged again after it came back and after the port came back.
  int battery = 0;
  for (const EventRecord& e : runs[0]->Events())
    if (e.addr == 1 && e.kind == 1 && e.code == kRunBattery) ++battery;
  EXPECT_EQ(battery, 3) << Describe(runs[0]->Events());

  for (auto& r : runs) {
    r->window.reset();
    r->host.reset();
    r->sim->Signal(SIGTERM);
    r->sim->WaitExit(seconds(10));
  }
}

}  // namespace
}  // namespace tessel::e2e
