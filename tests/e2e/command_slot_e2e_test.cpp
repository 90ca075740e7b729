// Under protocol choice 2 a filled command slot reaches the unit as the right register write: the
// monitor runs in this process (the slots have no outside interface), the simulator answers on a
// pseudo-terminal, and the effect shows in later polls.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "host/host.h"
#include "model/cmd_request.h"
#include "protocol/modbus_driver.h"

namespace tessel::e2e {
namespace {

using std::chrono::seconds;

// The request lines the simulator logged for unit 1, without their time stamps.
std::vector<std::string> RequestsToUnit1(ChildProcess& sim) {
  std::vector<std::string> out;
  for (const OutputLine& l : sim.Lines())
    if (IsRequestLineFor(l.text, 1)) out.push_back(l.text.substr(l.text.find("addr=")));
  return out;
}

TEST(CommandSlots, ParameterWriteAndSwitchOffReachTheUnitAndReadBack) {
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  const std::string link = home.Path() + "/ttyUPS";
  const std::string scenario = home.Path() + "/online.txt";
  std::ofstream(scenario) << "0 state = online\n";
  auto sim = StartSim(2, "1", {"--scenario", scenario}, link);
  ASSERT_FALSE(HasFailure());
  WriteSettings(home.Path(), link, 2);
  WriteDeviceList(home.Path(), {1});

  const ProgramPaths paths = MakeProgramPaths(home.Path());
  {
    Host monitor(paths);
    monitor.Start();
    ASSERT_TRUE(monitor.Core().Master().CommIsOpen());
    Context& ctx = monitor.Core().Ctx();
    const TUpsInfo& unit = ctx.model.UpsTable[1];

    // Online, and the unit's settings read once (its voltage level is 220 V to begin with).
    ASSERT_TRUE(WaitFor(
        [&] {
          sim->Pump();
          return unit.CommState == 0 && unit.RunState == 4 && unit.Params.VoltLevel == 220;
        },
        seconds(40)))
        << sim->Transcript();

    // Parameter write: the unlock register first, then the parameter, as consecutive requests.
    ASSERT_EQ(RequestParamWrite(ctx.cmd, 2, 1, 40005, 230), CmdResult::Queued);
    const std::string unlock = "addr=1 fc=6 reg=50000 value=" + std::to_string(kUnlockValue) +
                               " answered: parameter write enabled";
    const std::string param = "addr=1 fc=6 reg=40005 value=230 answered: parameter stored";
    ASSERT_TRUE(WaitFor(
        [&] {
          auto reqs = RequestsToUnit1(*sim);
          return !reqs.empty() && reqs.back() == param;
        },
        seconds(20)))
        << sim->Transcript();
    {
      auto reqs = RequestsToUnit1(*sim);
      ASSERT_GE(reqs.size(), 2u);
      EXPECT_EQ(reqs[reqs.size() - 2], unlock);
      EXPECT_EQ(std::count(reqs.begin(), reqs.end(), unlock), 1);
    }
    EXPECT_TRUE(WaitFor(
        [&] {
          sim->Pump();
          return unit.Params.VoltLevel == 230;
        },
        seconds(20)))
        << "the written voltage level was not read back";

    // Switch-off: register 20002 with 1; the unit reports no output in the next status poll.
    ASSERT_EQ(RequestSwitchOff(ctx.cmd, 2, 1), CmdResult::Queued);
    EXPECT_TRUE(WaitFor(
        [&] {
          auto reqs = RequestsToUnit1(*sim);
          return !reqs.empty() &&
                 reqs.back() ==
                     "addr=1 fc=6 reg=20002 value=1 answered: unit switched off, no output";
        },
        seconds(20)))
        << sim->Transcript();
    EXPECT_TRUE(WaitFor([&] { return ctx.cmd.LastWrite.Outcome == TCmdOutcome::Result::Accepted; },
                        seconds(5)));
    EXPECT_TRUE(WaitFor(
        [&] {
          sim->Pump();
          return unit.RunState == 2;
        },
        seconds(20)));

    // A self-test the switched-off unit refuses: its exception reaches the operator's side.
    ASSERT_EQ(RequestSelfTest(ctx.cmd, 2, 1, 30), CmdResult::Queued);
    EXPECT_TRUE(WaitFor([&] { return ctx.cmd.LastWrite.Outcome == TCmdOutcome::Result::Refused; },
                        seconds(20)))
        << sim->Transcript();
    EXPECT_EQ(ctx.cmd.LastWrite.Exception, 4);
    EXPECT_EQ(ctx.cmd.LastWrite.Reg, kRegSelfTest);
    EXPECT_EQ(ctx.cmd.LastWrite.Value, 30);
    monitor.Stop();
  }
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(seconds(15)), std::optional<int>(0));

  // Standby comes from the first answer, before any status word has been read.
  std::vector<EventRecord> recs = ReadEventLog(home.EventLogPath());
  std::vector<std::vector<int>> seen;
  for (const EventRecord& e : recs) seen.push_back({e.addr, e.kind, e.code});
  EXPECT_EQ(seen, (std::vector<std::vector<int>>{
                      {0, 0, 20}, {1, 0, 22}, {1, 1, 1}, {1, 1, 4}, {1, 1, 2}, {0, 0, 21}}))
      << Describe(recs);
}

}  // namespace
}  // namespace tessel::e2e
