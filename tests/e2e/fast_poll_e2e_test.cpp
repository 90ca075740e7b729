// Fast polling end to end: tessel --headless with FastPoll=1 polling three tessel-sim Modbus
// units; one unit's mains fails at run time, and the on-battery state reaches the event log and
// Debian's upsc through the network UPS server within a bound far below the fixed cadence's
// (a unit's state is re-read every 15.6 s there with three units). The figures belong to the
// latency benchmark; this only shows the mode at work.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"

namespace tessel::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kUpsc = "/usr/bin/upsc";

// upsc's answer without the client's own noise ("Init SSL ...").
std::string Upsc(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {kUpsc};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess p(argv);
  p.WaitExit(seconds(15));
  std::string out;
  for (const OutputLine& l : p.Lines())
    if (l.text.rfind("Init SSL", 0) != 0) out += l.text + "\n";
  return out;
}

bool HasEvent(const std::string& path, int addr, int kind, int code) {
  for (const EventRecord& r : ReadEventLog(path))
    if (r.addr == addr && r.kind == kind && r.code == code) return true;
  return false;
}

constexpr int kStateEvent = 1;
constexpr int kOnBattery = 5;
constexpr int kOnline = 4;

TEST(FastPolling, OnBatteryReachesTheEventLogAndUpscQuickly) {
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  const std::string link = home.Path() + "/ttyUPS";
  const std::string scenario = home.Path() + "/online.txt";
  std::ofstream(scenario) << "0 state = online in_a = 230 out_a = 231 freq = 50 load_a = 42\n"
                             "  batt_capa = 95 batt_time = 30 batt_vp = 270 batt_vn = 270\n";
  auto sim = StartSim(2, "1-3", {"--scenario", scenario}, link);
  ASSERT_FALSE(HasFailure());
  std::ofstream(home.Path() + "/UserParaIni.ini")
      << "[CommPort]\nComName=" << link
      << "\nBaudRate=9600\nProtocol=2\nReadIntervalTimeout=200\nFastPoll=1\n"
         "[CommMast]\nMaxReSend=2\n[NutServer]\nEnabled=1\nListen=127.0.0.1\nPort=0\n";
  WriteDeviceList(home.Path(), {1, 2, 3});
  auto monitor = StartMonitor(home.Path());
  const int port = NutServerPort(*monitor);
  ASSERT_GT(port, 0) << monitor->Transcript();
  const std::string ups2 = "ups2@127.0.0.1:" + std::to_string(port);

  // Every unit comes up online, and the slower reads (battery, input voltage) arrive too.
  ASSERT_TRUE(WaitFor(
      [&] {
        sim->Pump();
        for (int a : {1, 2, 3})
          if (!HasEvent(home.EventLogPath(), a, kStateEvent, kOnline)) return false;
        return true;
      },
      seconds(30)))
      << Describe(ReadEventLog(home.EventLogPath())) << monitor->Transcript();
  ASSERT_TRUE(WaitFor(
      [&] {
        const std::string all = Upsc({ups2});
        return all.find("battery.charge: 95\n") != std::string::npos &&
               all.find("input.voltage: 230.0\n") != std::string::npos;
      },
      seconds(30)))
      << Upsc({ups2});
  EXPECT_EQ(Upsc({ups2, "ups.status"}), "OL\n");

  // The mains of unit 2 fails. The fixed cadence would take up to 15.6 s to see it.
  const auto failedAt = SteadyClock::now();
  ASSERT_TRUE(sim->WriteInput("set 2 state = battery in_a = 0 in_b = 0 in_c = 0\n"));
  EXPECT_TRUE(WaitFor([&] { return HasEvent(home.EventLogPath(), 2, kStateEvent, kOnBattery); },
                      seconds(8)))
      << Describe(ReadEventLog(home.EventLogPath()));
  std::string status;
  EXPECT_TRUE(WaitFor(
      [&] {
        status = Upsc({ups2, "ups.status"});
        return status.rfind("OB", 0) == 0;
      },
      seconds(8)))
      << status;
  const double took = std::chrono::duration<double>(SteadyClock::now() - failedAt).count();
  RecordProperty("seconds_to_on_battery", std::to_string(took));

  // The other units were not touched, and the mains comes back.
  EXPECT_EQ(Upsc({"ups1@127.0.0.1:" + std::to_string(port), "ups.status"}), "OL\n");
  ASSERT_TRUE(sim->WriteInput("unset 2\n"));
  EXPECT_TRUE(WaitFor(
      [&] {
        return Upsc({ups2, "ups.status"}) == "OL\n";
      },
      seconds(8)))
      << Upsc({ups2, "ups.status"});
}

}  // namespace
}  // namespace tessel::e2e
