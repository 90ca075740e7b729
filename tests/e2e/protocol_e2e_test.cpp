// The real monitor against the simulator over a pseudo-terminal, once per protocol choice: two
// units whose scenarios drive a state change, alarms that appear and clear, and fixed readings,
// checked afterwards in the event log and the data log record by record.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace tessel::e2e {
namespace {

using std::chrono::seconds;

// What a unit reports: fixed readings, each field a different number so that a value landing in
// the wrong field or on the wrong unit shows.
struct Readings {
  double in[3], out[3], load[3], freq, battVP, battVN;
  int battCapa, battTime;
  double i1p, i1n, i2p, i2n;
};

const Readings kUnit1 = {
    {221, 222, 223}, {231, 232, 233}, {31, 32, 33}, 50, 270, 271, 87, 45, 1.5, 2.5, 0.5, 1.0};
const Readings kUnit2 = {
    {224, 225, 226}, {234, 235, 236}, {41, 42, 43}, 60, 260, 262, 64, 30, 3.0, 0.5, 2.0, 2.5};

std::string ReadingsText(const Readings& r) {
  std::string s;
  auto put = [&](const char* name, double v) {
    s += std::string(" ") + name + " = " + std::to_string(v);
  };
  put("in_a", r.in[0]), put("in_b", r.in[1]), put("in_c", r.in[2]);
  put("out_a", r.out[0]), put("out_b", r.out[1]), put("out_c", r.out[2]);
  put("load_a", r.load[0]), put("load_b", r.load[1]), put("load_c", r.load[2]);
  put("freq", r.freq), put("batt_vp", r.battVP), put("batt_vn", r.battVN);
  put("batt_capa", r.battCapa), put("batt_time", r.battTime);
  put("batt_i1p", r.i1p), put("batt_i1n", r.i1n), put("batt_i2p", r.i2p), put("batt_i2n", r.i2n);
  return s;
}

struct Alarm {
  int code;
  int state;  // 1 appeared, 0 cleared
  bool operator==(const Alarm& o) const { return code == o.code && state == o.state; }
};

struct ProtocolCase {
  int protocol;
  // When unit 1 goes from online to battery, in scenario seconds. Chosen halfway between the
  // status requests of two of its visits (13 poll ticks a request, unit 2 polled in between), so
  // the monitor sees online in one visit and battery in the next.
  double switchAt;
  std::vector<int> states1, states2;
  std::vector<Alarm> alarms1, alarms2;
  bool readsBattCapaAndCurrents;
};

// Unit 1: online with "mains frequency abnormal" (the word bit for the modular and Modbus units,
// alarm byte B0 for three-phase units); then on battery with "mains voltage abnormal" instead
// (word bit, or summary flag H1). Unit 2: on bypass with an overload (word bit, or byte B19).
const ProtocolCase kCases[] = {
    {0, 9.5, {4, 5}, {3}, {{24, 1}, {25, 1}, {24, 0}}, {{51, 1}}, true},
    // Status and alarm answers count only from a unit's fourth valid answer on, so the online
    // state is first seen in unit 1's second visit and battery in its third.
    {1, 21.5, {4, 5}, {3}, {{100, 1}, {202, 1}, {100, 0}}, {{119, 1}}, false},
    // Every stored register derives the state again; the first answer, before any status word
    // has been read, gives standby.
    {2, 14.5, {1, 4, 5}, {1, 3}, {{24, 1}, {25, 1}, {24, 0}}, {{51, 1}}, true},
    {3, 14.5, {1, 4, 5}, {1, 3}, {{24, 1}, {25, 1}, {24, 0}}, {{51, 1}}, true},
};

// Keeps the test names ctest shows short.
void PrintTo(const ProtocolCase& c, std::ostream* os) {
  *os << "protocol " << c.protocol;
}

struct UnitView {
  std::vector<int> comm, states;
  std::vector<Alarm> alarms;
};

std::map<int, UnitView> ByUnit(const std::vector<EventRecord>& recs) {
  std::map<int, UnitView> units;
  for (const EventRecord& e : recs) {
    if (e.addr == 0) continue;
    UnitView& u = units[e.addr];
    if (e.kind == 0) u.comm.push_back(e.code);
    if (e.kind == 1) u.states.push_back(e.code);
    if (e.kind == 2) u.alarms.push_back({e.code, e.alarmState});
  }
  return units;
}

// The measurement block the monitor should hold for a unit once it has read everything.
DataRecord Expected(const Readings& r, bool battCapaAndCurrents) {
  DataRecord d;
  for (int k = 0; k < 3; ++k) {
    d.values[k] = r.in[k];
    d.values[3 + k] = r.out[k];
    d.values[6 + k] = r.load[k];
  }
  d.values[9] = r.freq;
  d.values[10] = r.battVP + r.battVN;
  d.battLivingTime = static_cast<uint16_t>(r.battTime);
  if (battCapaAndCurrents) {
    d.battCapa = static_cast<uint32_t>(r.battCapa);
    d.battCurr1 = r.i1p + r.i1n;
    d.battCurr2 = r.i2p + r.i2n;
  }
  return d;
}

// Fields are compared with a tolerance: the three-phase units send single-precision numbers.
bool Near(double a, double b) {
  return std::fabs(a - b) <= 1e-3 * std::max(1.0, std::fabs(b));
}

// Each field holds the simulated value, or still 0 when its request had not been answered yet.
// Returns the number of fields that hold the simulated value; -1 when one holds anything else.
int MatchingFields(const DataRecord& got, const DataRecord& want, std::string& why) {
  int matching = 0;
  auto field = [&](const char* name, double g, double w) {
    if (Near(g, w)) {
      ++matching;
    } else if (g != 0) {
      why += std::string(name) + " = " + std::to_string(g) + " (want " + std::to_string(w) + ") ";
    }
  };
  const char* names[11] = {"InputV_A",  "InputV_B",   "InputV_C",  "OutputV_A",
                           "OutputV_B", "OutputV_C",  "LoadPer_A", "LoadPer_B",
                           "LoadPer_C", "OutputFreq", "DCInputV"};
  for (int k = 0; k < 11; ++k) field(names[k], got.values[k], want.values[k]);
  field("BattCapa", got.battCapa, want.battCapa);
  field("BattLivingTime", got.battLivingTime, want.battLivingTime);
  field("BattCurr1", got.battCurr1, want.battCurr1);
  field("BattCurr2", got.battCurr2, want.battCurr2);
  return why.empty() ? matching : -1;
}

constexpr int kAllFields = 15;

class ProtocolRun : public ::testing::TestWithParam<ProtocolCase> {};

TEST_P(ProtocolRun, EventAndDataLogsFollowTheScenario) {
  const ProtocolCase& pc = GetParam();
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  const std::string link = home.Path() + "/ttyUPS";

  const std::string scenario1 = home.Path() + "/unit1.txt";
  const std::string scenario2 = home.Path() + "/unit2.txt";
  std::ofstream(scenario1) << "0 state = online" << ReadingsText(kUnit1)
                           << " cmm_alarm2 = 0x0080 tp_b0 = 1\n"
                           << pc.switchAt
                           << " state = battery cmm_alarm2 = 0x0040 tp_b0 = 0 tp_h1 = 1\n";
  std::ofstream(scenario2) << "0 state = bypass" << ReadingsText(kUnit2)
                           << " inv_alarm2 = 0x1000 tp_b19 = 1\n";

  auto sim = StartSim(pc.protocol, "1,2",
                      {"--scenario", "1=" + scenario1, "--scenario", "2=" + scenario2}, link);
  ASSERT_FALSE(HasFailure());
  WriteSettings(home.Path(), link, pc.protocol);
  // Unit 2 first: the first request after start-up goes to address 1 (ASCII) or 0 (Modbus)
  // anyway, so both units are visited early.
  WriteDeviceList(home.Path(), {2, 1});
  auto monitor = StartMonitor(home.Path());

  const DataRecord want1 = Expected(kUnit1, pc.readsBattCapaAndCurrents);
  const DataRecord want2 = Expected(kUnit2, pc.readsBattCapaAndCurrents);
  auto completeSample = [&](int addr, const DataRecord& want) {
    for (const DataRecord& d : ReadDataLog(home.RecordDir())) {
      std::string why;
      if (d.addr == addr && MatchingFields(d, want, why) == kAllFields) return true;
    }
    return false;
  };
  const bool done = WaitFor(
      [&] {
        sim->Pump();
        monitor->Pump();
        auto units = ByUnit(ReadEventLog(home.EventLogPath()));
        return units[1].states.size() >= pc.states1.size() &&
               units[1].alarms.size() >= pc.alarms1.size() &&
               units[2].states.size() >= pc.states2.size() &&
               units[2].alarms.size() >= pc.alarms2.size() && completeSample(1, want1) &&
               completeSample(2, want2);
      },
      seconds(60));
  EXPECT_TRUE(done) << "events so far:\n" << Describe(ReadEventLog(home.EventLogPath()));

  ASSERT_TRUE(monitor->Signal(SIGTERM));
  EXPECT_EQ(monitor->WaitExit(seconds(15)), std::optional<int>(0)) << monitor->Transcript();
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(seconds(15)), std::optional<int>(0));

  // Event log: program start, then per unit "communication established" before anything else of
  // that unit, the state changes and alarms in the order the scenario drives them, program stop.
  const std::vector<EventRecord> recs = ReadEventLog(home.EventLogPath());
  SCOPED_TRACE("event log:\n" + Describe(recs));
  ASSERT_GE(recs.size(), 2u);
  EXPECT_EQ(recs.front().addr, 0);
  EXPECT_EQ(recs.front().kind, 0);
  EXPECT_EQ(recs.front().code, 20);
  EXPECT_EQ(recs.back().addr, 0);
  EXPECT_EQ(recs.back().kind, 0);
  EXPECT_EQ(recs.back().code, 21);
  std::map<int, bool> established;
  for (size_t i = 0; i < recs.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    const EventRecord& e = recs[i];
    if (i > 0) {
      EXPECT_LE(recs[i - 1].time, e.time);
    }
    if (e.kind != 2) {
      EXPECT_EQ(e.alarmState, 255);
    }
    if (i == 0 || i + 1 == recs.size()) continue;
    ASSERT_TRUE(e.addr == 1 || e.addr == 2);
    if (e.kind == 0 && e.code == 22) established[e.addr] = true;
    EXPECT_TRUE(established[e.addr]) << "an event of unit " << e.addr << " before its connection";
  }
  auto units = ByUnit(recs);
  EXPECT_EQ(units[1].comm, std::vector<int>{22});
  EXPECT_EQ(units[2].comm, std::vector<int>{22});
  EXPECT_EQ(units[1].states, pc.states1);
  EXPECT_EQ(units[2].states, pc.states2);
  EXPECT_TRUE(units[1].alarms == pc.alarms1);
  EXPECT_TRUE(units[2].alarms == pc.alarms2);
  EXPECT_EQ(recs.size(),
            2 + 2 + pc.states1.size() + pc.states2.size() + pc.alarms1.size() + pc.alarms2.size());

  // Data log: only the two units, inside the run, each field the simulated value (or not read
  // yet), and each unit seen complete at least once.
  const std::vector<DataRecord> data = ReadDataLog(home.RecordDir());
  int complete[3] = {0, 0, 0};
  for (size_t i = 0; i < data.size(); ++i) {
    SCOPED_TRACE("data record " + std::to_string(i));
    const DataRecord& d = data[i];
    ASSERT_TRUE(d.addr == 1 || d.addr == 2);
    EXPECT_GE(d.time, recs.front().time);
    EXPECT_LE(d.time, recs.back().time);
    if (i > 0) {
      EXPECT_LE(data[i - 1].time, d.time);
    }
    std::string why;
    const int matching = MatchingFields(d, d.addr == 1 ? want1 : want2, why);
    EXPECT_GE(matching, 0) << "unit " << d.addr << ": " << why;
    if (matching == kAllFields) ++complete[d.addr];
  }
  EXPECT_GE(complete[1], 1);
  EXPECT_GE(complete[2], 1);

  // The monitor printed the open port and then every event as it was logged.
  const std::vector<OutputLine>& out = monitor->Lines();
  EXPECT_EQ(std::count_if(out.begin(), out.end(),
                          [&](const OutputLine& l) { return l.text == link + " is Link"; }),
            1)
      << monitor->Transcript();
  EXPECT_EQ(out.size(), recs.size() + 1) << monitor->Transcript();
  ASSERT_FALSE(out.empty());
  EXPECT_NE(out.back().text.find("Monitor software is closed"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(E2e, ProtocolRun, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ProtocolCase>& info) {
                           return "Protocol" + std::to_string(info.param.protocol);
                         });

}  // namespace
}  // namespace tessel::e2e
