// Scenarios, the built-in walk through the operating states, and the command line pieces
// (address lists, fault switches).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "model/state_derivation.h"
#include "sim_options.h"
#include "sim_unit.h"

namespace tessel::sim {
namespace {

TUpsInfo Words(const UnitValues& v) {
  TUpsInfo u;
  u.CmmState1 = static_cast<uint16_t>(v[kCmmState1]);
  u.InvState1 = static_cast<uint16_t>(v[kInvState1]);
  u.InvState2 = static_cast<uint16_t>(v[kInvState2]);
  u.CmmAlarm1 = static_cast<uint16_t>(v[kCmmAlarm1]);
  u.CmmAlarm2 = static_cast<uint16_t>(v[kCmmAlarm2]);
  u.InvAlarm1 = static_cast<uint16_t>(v[kInvAlarm1]);
  u.InvAlarm2 = static_cast<uint16_t>(v[kInvAlarm2]);
  u.SysAlarm = static_cast<uint16_t>(v[kSysAlarm]);
  return u;
}

TEST(Scenario, EveryNamedStateIsTheStateTheMonitorDerives) {
  const std::pair<const char*, int> states[] = {
      {"standby", 1},   {"off", 2}, {"bypass", 3}, {"online", 4}, {"battery", 5}, {"selftest", 6},
      {"softstart", 7}, {"eco", 8}, {"epo", 9},    {"maint", 10}, {"fault", 11}};
  EXPECT_EQ(StateNames().size(), std::size(states));
  for (auto [name, expected] : states) {
    UnitValues v = BaselineValues();
    ASSERT_TRUE(ApplyStatePreset(name, v));
    EXPECT_EQ(DeriveRunState(Words(v)), expected) << name;
    EXPECT_EQ(v[kUpsState], expected) << name;
  }
  // A state after a fault takes the fault away.
  UnitValues v = BaselineValues();
  ApplyStatePreset("fault", v);
  ApplyStatePreset("online", v);
  EXPECT_EQ(DeriveRunState(Words(v)), 4);
  EXPECT_EQ(v[kTpB0 + 16], 0);
}

TEST(Scenario, BuiltInWalksThroughTheStatesWithAlarmsComingAndGoing) {
  SimUnit unit(1, DefaultScenario(), 0, false);
  ASSERT_EQ(unit.GetScenario().LoopLength(), 175);
  std::set<int> seen;
  std::set<int> alarmCodes;
  bool quiet = false;
  for (double t = 0; t < 175; t += 1) {
    TUpsInfo u = Words(unit.Snapshot(t));
    seen.insert(DeriveRunState(u));
    BuildAlarmList(u);
    for (int i = 0; i < u.AlarmCount; ++i) alarmCodes.insert(u.AlarmCodes[i]);
    quiet = quiet || u.AlarmCount == 0;
  }
  EXPECT_EQ(seen, (std::set<int>{3, 4, 5, 6, 8, 11}));
  EXPECT_TRUE(quiet);
  EXPECT_EQ(alarmCodes, (std::set<int>{23, 25, 32, 51}));
  // Loops: the same moment one cycle later.
  EXPECT_EQ(unit.ScenarioValues(30.5), unit.ScenarioValues(30.5 + 175));

  // Noise stays small and moves the values.
  SimUnit noisy(1, DefaultScenario(), 0, true);
  UnitValues exact = noisy.ScenarioValues(5);
  std::set<double> seenVolts;
  for (int i = 0; i < 20; ++i) {
    UnitValues v = noisy.Snapshot(5);
    EXPECT_NEAR(v[kOutA], exact[kOutA], exact[kOutA] * 0.005);
    EXPECT_NEAR(v[kFreq], 50, 0.05);
    EXPECT_EQ(v[kCmmState1], exact[kCmmState1]);
    seenVolts.insert(v[kOutA]);
  }
  EXPECT_GT(seenVolts.size(), 10u);
}

TEST(Scenario, ExampleFilePlaysRampsFaultsAndLoop) {
  std::string error;
  auto sc = LoadScenarioFile(TESSEL_SIM_EXAMPLE, error);
  ASSERT_TRUE(sc) << error;
  SimUnit unit(1, *sc, 0, false);
  EXPECT_EQ(unit.ScenarioValues(0)[kInA], 230);
  UnitValues mid = unit.ScenarioValues(45);  // halfway through the battery ramp
  EXPECT_EQ(mid[kInA], 0);
  EXPECT_DOUBLE_EQ(mid[kBattCapa], 85);
  EXPECT_DOUBLE_EQ(unit.ScenarioValues(60)[kBattCapa], 70);
  EXPECT_DOUBLE_EQ(unit.ScenarioValues(59.99)[kBattCapa], 70.01);
  EXPECT_EQ(unit.ScenarioValues(125)[kInA], 230);
  EXPECT_DOUBLE_EQ(unit.ScenarioValues(120 + 45)[kBattCapa], 85);
  EXPECT_EQ(DeriveRunState(Words(unit.ScenarioValues(95))), 11);

  EXPECT_FALSE(unit.ScenarioFault(80));
  auto f = unit.ScenarioFault(95);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->kind, FaultKind::kSilent);
  EXPECT_EQ(f->every, 3);
  EXPECT_FALSE(unit.ScenarioFault(115));

  // --step-seconds: every step lasts the same; steps keep their order, the loop its place.
  sc->Retime(0.5);
  SimUnit fast(1, *sc, 0, false);
  EXPECT_EQ(fast.GetScenario().LoopLength(), 2.5);
  EXPECT_EQ(fast.ScenarioValues(0.6)[kInA], 0);
  EXPECT_EQ(fast.ScenarioValues(1.1)[kInA], 230);
  EXPECT_TRUE(fast.ScenarioFault(1.6));
}

TEST(Scenario, MistakesAreReportedWithTheirLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"state = online", ":1:"},
      {"0 state = sideways", "unknown state"},
      {"0 in_a 220", ":1:"},
      {"0 in_a = 1\n\n# note\n5 in_a = 2\n2 in_a = 3", ":5: time offsets must not go back"},
      {"0 bogus = 1", "unknown field \"bogus\""},
      {"0 in_a = 1..x", "bad ramp"},
      {"0 in_a = 0x", "bad value"},
      {"0 loop", "loop line"},
      {"0 in_a = 1\n10 loop\n20 in_a = 2", ":3: nothing may follow"},
      {"0 fault = silent@2", "drop the @"},
      {"0 fault = sleepy", "unknown fault"},
      {"# nothing\n", "no steps"},
  };
  for (auto [text, expected] : cases) {
    std::string error;
    EXPECT_FALSE(ParseScenario(text, "s.txt", error)) << text;
    EXPECT_NE(error.find(expected), std::string::npos) << text << " gave " << error;
    EXPECT_EQ(error.rfind("s.txt:", 0), 0u) << error;
  }
  std::string error;
  EXPECT_FALSE(LoadScenarioFile("/nonexistent/scenario.txt", error));
  auto ok = ParseScenario("0 in_a=1 out_a =2 freq= 3 #c\n  load_a = 4", "s", error);
  ASSERT_TRUE(ok) << error;
  ASSERT_EQ(ok->steps.size(), 1u);
  EXPECT_EQ(ok->steps[0].sets.size(), 4u);
}

TEST(CommandLine, AddressListsAndFaultSwitches) {
  std::string error;
  EXPECT_EQ(*ParseAddrList("1,2,5-7", error), (std::vector<int>{1, 2, 5, 6, 7}));
  EXPECT_EQ(*ParseAddrList("7,3-4,3", error), (std::vector<int>{3, 4, 7}));
  EXPECT_EQ(ParseAddrList("250-252", error)->size(), 3u);
  for (const char* bad : {"", "0", "253", "5-3", "a", "1,,2", "1-", "-2", "1.5"})
    EXPECT_FALSE(ParseAddrList(bad, error)) << bad;

  struct FaultCase {
    const char* text;
    FaultKind kind;
    int value, value2, every;
    std::vector<int> addrs;
  } cases[] = {
      {"silent", FaultKind::kSilent, 0, 0, 1, {}},
      {"delay", FaultKind::kDelay, 500, 0, 1, {}},
      {"delay=800@1,2/2", FaultKind::kDelay, 800, 0, 2, {1, 2}},
      {"checksum/5", FaultKind::kChecksum, 0, 0, 5, {}},
      {"split=250@3", FaultKind::kSplit, 250, 0, 1, {3}},
      {"garbage=12,300", FaultKind::kGarbage, 12, 300, 1, {}},
      {"rtn=2", FaultKind::kError, 2, 0, 1, {}},
      {"exception@4-5", FaultKind::kError, 4, 0, 1, {4, 5}},
  };
  for (const FaultCase& c : cases) {
    auto f = ParseFault(c.text, error);
    ASSERT_TRUE(f) << c.text << ": " << error;
    EXPECT_EQ(f->kind, c.kind) << c.text;
    EXPECT_EQ(f->value, c.value) << c.text;
    EXPECT_EQ(f->value2, c.value2) << c.text;
    EXPECT_EQ(f->every, c.every) << c.text;
    EXPECT_EQ(f->addrs, c.addrs) << c.text;
  }
  for (const char* bad : {"loud", "delay=x", "silent/0", "rtn=0", "rtn=300", "garbage=0",
                          "checksum=3", "delay=1,2", "silent@0", "delay=-5"})
    EXPECT_FALSE(ParseFault(bad, error)) << bad;
}

TEST(CommandLine, OptionsAndTheirMistakes) {
  SimOptions opt;
  std::string error;
  ASSERT_EQ(ParseCommandLine({"--protocol", "2", "--addr", "1,3", "--link", "/tmp/x", "--baud",
                              "4800", "--scenario", "a.txt", "--scenario=3=b.txt", "--fault",
                              "silent@3", "--speed", "10", "--step-seconds", "0.5", "--no-noise"},
                             opt, error),
            ParseOutcome::kRun)
      << error;
  EXPECT_EQ(opt.protocol, 2);
  EXPECT_EQ(opt.addrs, (std::vector<int>{1, 3}));
  EXPECT_EQ(opt.link, "/tmp/x");
  EXPECT_EQ(opt.baud, 4800);
  ASSERT_EQ(opt.scenarios.size(), 2u);
  EXPECT_EQ(opt.scenarios[1], (std::pair<int, std::string>{3, "b.txt"}));
  EXPECT_EQ(opt.faults.size(), 1u);
  EXPECT_EQ(opt.speed, 10);
  EXPECT_EQ(opt.stepSeconds, 0.5);
  EXPECT_FALSE(opt.noise);

  const std::vector<std::string> bad[] = {
      {},
      {"--protocol", "4"},
      {"--protocol"},
      {"--protocol", "0", "--addr", "0"},
      {"--protocol", "0", "--device", "/dev/ttyS0", "--link", "/tmp/x"},
      {"--protocol", "0", "--baud", "9601"},
      {"--protocol", "0", "--speed", "0"},
      {"--protocol", "0", "--scenario", "4=a.txt"},  // not one of the units
      {"--protocol", "0", "--verbose"},
  };
  for (const auto& args : bad) {
    SimOptions o;
    EXPECT_EQ(ParseCommandLine(args, o, error), ParseOutcome::kError)
        << (args.empty() ? "(none)" : args.back());
  }
  SimOptions o;
  EXPECT_EQ(ParseCommandLine({"--protocol", "0", "--help"}, o, error), ParseOutcome::kHelp);
}

}  // namespace
}  // namespace tessel::sim
