// A unit that stops answering: the monitor declares it lost at its 10th unanswered transmission,
// stops sampling it while it does not communicate, and logs it established again when it answers.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "model/clock.h"

namespace tessel::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The event log's time stamp of a moment the test observed.
double StampOf(SteadyClock::time_point at) {
  const double ageSeconds = std::chrono::duration<double>(SteadyClock::now() - at).count();
  return SystemClock().Now() - ageSeconds / 86400.0;
}

TEST(LostUnit, LostAtTheTenthUnansweredTransmissionAndEstablishedWhenItAnswersAgain) {
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  const std::string link = home.Path() + "/ttyUPS";
  const std::string scenario = home.Path() + "/online.txt";
  std::ofstream(scenario) << "0 state = online\n";

  auto sim = StartSim(2, "1,2", {"--scenario", scenario}, link);
  ASSERT_FALSE(HasFailure());
  WriteSettings(home.Path(), link, 2);
  WriteDeviceList(home.Path(), {1, 2});
  auto monitor = StartMonitor(home.Path());

  auto commEvents = [&](int addr) {
    std::vector<int> codes;
    for (const EventRecord& e : ReadEventLog(home.EventLogPath()))
      if (e.addr == addr && e.kind == 0) codes.push_back(e.code);
    return codes;
  };
  ASSERT_TRUE(
      WaitFor([&] { return !commEvents(1).empty() && !commEvents(2).empty(); }, seconds(60)))
      << monitor->Transcript();

  // Unit 2 goes silent from the next request on.
  ASSERT_TRUE(sim->WriteInput("fault silent@2\n"));
  size_t silentFrom = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto& lines = sim->Lines();
        for (size_t i = 0; i < lines.size(); ++i)
          if (lines[i].text.find("command: fault on: silent@2") != std::string::npos) {
            silentFrom = i;
            return true;
          }
        return false;
      },
      seconds(10)));

  // The lost event, as the monitor prints it the moment it is logged.
  SteadyClock::time_point lostAt{};
  ASSERT_TRUE(WaitFor(
      [&] {
        sim->Pump();
        for (const OutputLine& l : monitor->Lines())
          if (l.text.find("Communication lost") != std::string::npos) {
            lostAt = l.at;
            return true;
          }
        return false;
      },
      seconds(60)))
      << monitor->Transcript();
  // Transmissions to one unit are at least a request (1.3 s) apart; let the one that caused the
  // event and any later one arrive, then count the silent ones on each side of the event.
  WaitFor(
      [&] {
        sim->Pump();
        monitor->Pump();
        return SteadyClock::now() > lostAt + milliseconds(900);
      },
      seconds(5));
  std::vector<SteadyClock::time_point> silent;
  const auto& simLines = sim->Lines();
  for (size_t i = silentFrom; i < simLines.size(); ++i)
    if (IsRequestLineFor(simLines[i].text, 2) && EndsWith(simLines[i].text, "-> silent"))
      silent.push_back(simLines[i].at);
  auto countUntil = [&](SteadyClock::time_point t) {
    return std::count_if(silent.begin(), silent.end(), [&](auto at) { return at <= t; });
  };
  EXPECT_EQ(countUntil(lostAt - milliseconds(650)), 9) << sim->Transcript();
  EXPECT_EQ(countUntil(lostAt + milliseconds(650)), 10) << sim->Transcript();
  ASSERT_GE(silent.size(), 4u);
  // From the 4th unanswered transmission on the unit is in error, then lost: not sampled.
  const double errorFrom = StampOf(silent[3]);

  ASSERT_TRUE(sim->WriteInput("clear\n"));
  ASSERT_TRUE(WaitFor(
      [&] {
        sim->Pump();
        return commEvents(2).size() >= 3;
      },
      seconds(30)))
      << monitor->Transcript();

  ASSERT_TRUE(monitor->Signal(SIGTERM));
  EXPECT_EQ(monitor->WaitExit(seconds(15)), std::optional<int>(0)) << monitor->Transcript();
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(seconds(15)), std::optional<int>(0));

  const std::vector<EventRecord> recs = ReadEventLog(home.EventLogPath());
  SCOPED_TRACE("event log:\n" + Describe(recs));
  EXPECT_EQ(commEvents(1), std::vector<int>{22});
  EXPECT_EQ(commEvents(2), (std::vector<int>{22, 18, 22}));
  double backAt = 0;
  for (const EventRecord& e : recs)
    if (e.addr == 2 && e.kind == 0 && e.code == 22) backAt = e.time;
  ASSERT_LT(errorFrom, backAt);

  // Unit 1 went on being sampled while unit 2 was not.
  int unit1While = 0;
  const double margin = 0.2 / 86400.0;
  for (const DataRecord& d : ReadDataLog(home.RecordDir())) {
    if (d.time <= errorFrom + margin || d.time >= backAt - margin) continue;
    EXPECT_NE(d.addr, 2) << "unit 2 sampled while it did not answer";
    if (d.addr == 1) ++unit1While;
  }
  EXPECT_GE(unit1While, 1);
}

}  // namespace
}  // namespace tessel::e2e
