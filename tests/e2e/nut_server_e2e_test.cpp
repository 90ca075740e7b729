// Debian's own network UPS clients against the monitor polling tessel-sim, served by the service
// (its poll loop) and by the windowed program (Qt's loop) alike: upsc reads what
// the simulator plays, upscmd and upsrw reach the unit as the exact Modbus writes (and are
// refused for a user without the right), with -w they report whether the unit took the write,
// refused it or stayed silent, a silent unit reads as stale, and upsmon as primary runs its
// shutdown command when the unit goes on battery and runs low.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"

namespace fs = std::filesystem;

namespace tessel::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kUpsc = "/usr/bin/upsc";
constexpr const char* kUpscmd = "/usr/bin/upscmd";
constexpr const char* kUpsrw = "/usr/bin/upsrw";
constexpr const char* kUpsmon = "/lib/nut/upsmon";  // the binary; /sbin/upsmon wraps it for init

struct ClientRun {
  std::optional<int> code;
  std::string out;
};

ClientRun RunClient(const std::vector<std::string>& argv) {
  ChildProcess p(argv);
  ClientRun r;
  r.code = p.WaitExit(seconds(15));
  r.out = p.Transcript();
  return r;
}

// The clients' own noise ("Init SSL without certificate database") left out.
std::string Answer(const ClientRun& r) {
  std::string out;
  size_t pos = 0;
  while (pos < r.out.size()) {
    size_t nl = r.out.find('\n', pos);
    if (nl == std::string::npos) nl = r.out.size();
    const std::string line = r.out.substr(pos, nl - pos);
    if (line.rfind("Init SSL", 0) != 0) out += line + "\n";
    pos = nl + 1;
  }
  return out;
}

// Settings with the server on a free port, the users file beside them.
void WriteServerSettings(const std::string& home, const std::string& link) {
  WriteSettings(home, link, 2);
  std::ofstream(home + "/UserParaIni.ini", std::ios::app)
      << "[NutServer]\nEnabled=1\nListen=127.0.0.1\nPort=0\nModelCode=ZEV305\n";
  std::ofstream(home + "/upsd.users")
      << "[operator]\n  password = \"op secret\"\n"
         "  instcmds = load.off test.battery.start\n  actions = SET\n"
         "[viewer]\n  password = view\n"
         "[mon]\n  password = monpw\n  upsmon primary\n";
  fs::permissions(home + "/upsd.users", fs::perms::owner_read | fs::perms::owner_write);
}

class NutServer : public ::testing::TestWithParam<FrontEnd> {};

// upsmon keeps one pid file for the whole machine, whatever its folders say: two of its runs at
// once (the front ends' tests side by side) would refuse each other, so they take turns.
class MachineWideTurn {
 public:
  MachineWideTurn()
      : fd_(::open("/tmp/tessel-e2e-upsmon.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~MachineWideTurn() {
    if (fd_ >= 0) ::close(fd_);
  }

 private:
  int fd_;
};

// upsc's answer for one variable, retried until it is want or the limit passes.
bool WaitForUpsc(const std::string& target, const std::string& var, const std::string& want,
                 seconds limit, ChildProcess& sim, std::string* last = nullptr) {
  const auto end = SteadyClock::now() + limit;
  std::string got;
  while (SteadyClock::now() < end) {
    sim.Pump();
    got = Answer(RunClient({kUpsc, target, var}));
    if (got == want + "\n") return true;
    std::this_thread::sleep_for(milliseconds(250));
  }
  if (last) *last = got;
  return false;
}

TEST_P(NutServer, UpscReadsTheUnitsUpscmdWritesForPermittedUsersAndASilentUnitIsStale) {
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  const std::string link = home.Path() + "/ttyUPS";
  const std::string scenario = home.Path() + "/online.txt";
  std::ofstream(scenario) << "0 state = online in_a = 230 out_a = 231 freq = 50 load_a = 42\n"
                             "  batt_capa = 95 batt_time = 30 batt_vp = 270 batt_vn = 270\n";
  auto sim = StartSim(2, "1,2", {"--scenario", scenario}, link);
  ASSERT_FALSE(HasFailure());
  WriteServerSettings(home.Path(), link);
  WriteDeviceList(home.Path(), {1, 2});
  auto monitor = StartMonitor(home.Path(), GetParam());
  const int port = NutServerPort(*monitor);
  ASSERT_GT(port, 0) << monitor->Transcript();
  const std::string host = "127.0.0.1:" + std::to_string(port);
  const std::string ups1 = "ups1@" + host, ups2 = "ups2@" + host;

  EXPECT_EQ(Answer(RunClient({kUpsc, "-l", host})), "ups1\nups2\n");
  std::string last;
  ASSERT_TRUE(WaitForUpsc(ups1, "ups.status", "OL", seconds(40), *sim, &last))
      << last << monitor->Transcript();
  ASSERT_TRUE(WaitForUpsc(ups2, "ups.status", "OL", seconds(40), *sim, &last)) << last;

  const std::string all = Answer(RunClient({kUpsc, ups1}));
  for (const char* line :
       {"device.type: ups\n", "ups.status: OL\n", "battery.charge: 95\n", "battery.runtime: 1800\n",
        "battery.voltage: 540.0\n", "input.voltage: 230.0\n", "output.voltage: 231.0\n",
        "output.frequency: 50.0\n", "ups.load: 42\n"})
    EXPECT_NE(all.find(line), std::string::npos) << line << all;

  // A permitted user's command reaches the unit as the switch-off write.
  const ClientRun off = RunClient({kUpscmd, "-u", "operator", "-p", "op secret", ups1, "load.off"});
  EXPECT_EQ(off.code, std::optional<int>(0)) << off.out;
  EXPECT_TRUE(WaitFor(
      [&] {
        for (const OutputLine& l : sim->Lines())
          if (l.text.find("addr=1 fc=6 reg=20002 value=1 answered: unit switched off") !=
              std::string::npos)
            return true;
        return false;
      },
      seconds(20)))
      << sim->Transcript();
  EXPECT_TRUE(WaitForUpsc(ups1, "ups.status", "OL OFF", seconds(20), *sim, &last)) << last;

  // A write passes the parameter dialog's checks, then goes out behind the unlock write.
  const ClientRun bad = RunClient({kUpsrw, "-s", "ups.tessel.battery.eod.voltage=2.5", "-u",
                                   "operator", "-p", "op secret", ups1});
  EXPECT_NE(bad.code, std::optional<int>(0));
  EXPECT_NE(bad.out.find("INVALID-VALUE"), std::string::npos) << bad.out;
  const ClientRun set = RunClient(
      {kUpsrw, "-s", "ups.beeper.status=disabled", "-u", "operator", "-p", "op secret", ups1});
  EXPECT_EQ(set.code, std::optional<int>(0)) << set.out;
  EXPECT_TRUE(WaitFor(
      [&] {
        for (const OutputLine& l : sim->Lines())
          if (l.text.find("addr=1 fc=6 reg=40027 value=4096 answered: parameter stored") !=
              std::string::npos)
            return true;
        return false;
      },
      seconds(20)))
      << sim->Transcript();

  // Users without the right, or with a wrong password, are refused and nothing is written.
  for (const auto& [user, password, cmd] :
       std::vector<std::array<std::string, 3>>{{"viewer", "view", "load.off"},
                                               {"operator", "op secret", "load.on"},
                                               {"operator", "wrong", "load.off"}}) {
    const ClientRun r = RunClient({kUpscmd, "-u", user, "-p", password, ups2, cmd});
    EXPECT_NE(r.code, std::optional<int>(0)) << user << " " << cmd;
    EXPECT_NE(r.out.find("ACCESS-DENIED"), std::string::npos) << r.out;
  }
  std::this_thread::sleep_for(seconds(3));  // a write would have gone out by now
  for (const OutputLine& l : sim->Lines())
    EXPECT_EQ(l.text.find("addr=2 fc=6"), std::string::npos) << l.text;

  // Unit 2 falls silent: once lost it reads as stale, as from any other server.
  ASSERT_TRUE(sim->WriteInput("fault silent@2\n"));
  EXPECT_TRUE(WaitForUpsc(ups2, "ups.status", "Error: Data stale", seconds(60), *sim, &last))
      << last << monitor->Transcript();
  EXPECT_EQ(Answer(RunClient({kUpsc, ups1, "ups.status"})), "OL OFF\n");

  monitor->Signal(SIGTERM);
  EXPECT_EQ(monitor->WaitExit(seconds(15)), std::optional<int>(0));
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(seconds(15)), std::optional<int>(0));
}

bool SawLine(ChildProcess& p, const std::string& text, seconds limit) {
  return WaitFor(
      [&] {
        for (const OutputLine& l : p.Lines())
          if (l.text.find(text) != std::string::npos) return true;
        return false;
      },
      limit);
}

TEST_P(NutServer, UpscmdAndUpsrwWithTrackingReportWhatTheUnitAnswered) {
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  const std::string link = home.Path() + "/ttyUPS";
  const std::string scenario = home.Path() + "/online.txt";
  std::ofstream(scenario) << "0 state = online in_a = 230 out_a = 231 freq = 50 load_a = 42\n";
  auto sim = StartSim(2, "1,2", {"--scenario", scenario}, link);
  ASSERT_FALSE(HasFailure());
  WriteServerSettings(home.Path(), link);
  WriteDeviceList(home.Path(), {1, 2});
  auto monitor = StartMonitor(home.Path(), GetParam());
  const int port = NutServerPort(*monitor);
  ASSERT_GT(port, 0) << monitor->Transcript();
  const std::string host = "127.0.0.1:" + std::to_string(port);
  const std::string ups1 = "UPS1@" + host, ups2 = "ups2@" + host;  // names are case-blind
  std::string last;
  ASSERT_TRUE(WaitForUpsc(ups1, "ups.status", "OL", seconds(40), *sim, &last))
      << last << monitor->Transcript();
  ASSERT_TRUE(WaitForUpsc(ups2, "ups.status", "OL", seconds(40), *sim, &last)) << last;

  auto cmd = [&](const std::string& target, const std::vector<std::string>& what) {
    std::vector<std::string> argv = {kUpscmd,    "-w", "-t",        "30",  "-u",
                                     "operator", "-p", "op secret", target};
    argv.insert(argv.end(), what.begin(), what.end());
    const ClientRun r = RunClient(argv);
    EXPECT_EQ(r.code, std::optional<int>(0)) << r.out;
    return Answer(r);
  };
  // Echoed by the unit.
  EXPECT_EQ(cmd(ups1, {"test.battery.start", "5"}), "SUCCESS\n");
  const ClientRun set = RunClient({kUpsrw, "-w", "-t", "30", "-s", "ups.beeper.status=disabled",
                                   "-u", "operator", "-p", "op secret", ups1});
  EXPECT_EQ(Answer(set), "SUCCESS\n") << set.out;

  // Refused with an exception, and not answered at all.
  ASSERT_TRUE(sim->WriteInput("fault exception@2\n"));
  EXPECT_EQ(cmd(ups2, {"load.off"}), "ERR FAILED\n");
  ASSERT_TRUE(sim->WriteInput("clear\nfault silent@2\n"));
  EXPECT_EQ(cmd(ups2, {"test.battery.start"}), "ERR FAILED\n");

  // Who did what from where, on standard error; the operator's event log has the requests.
  for (const char* line :
       {"NUT audit: INSTCMD user=operator client=127.0.0.1 ups=UPS1 cmd=test.battery.start "
        "value=5 result=OK TRACKING ",
        "NUT audit: INSTCMD user=operator client=127.0.0.1 ups=UPS1 cmd=test.battery.start "
        "value=5 unit=SUCCESS",
        "NUT audit: SET VAR user=operator client=127.0.0.1 ups=UPS1 var=ups.beeper.status "
        "value=disabled unit=SUCCESS",
        "ups=ups2 cmd=load.off unit=FAILED (refused, exception 4)",
        "ups=ups2 cmd=test.battery.start unit=FAILED (no answer)"})
    EXPECT_TRUE(SawLine(*monitor, line, seconds(5))) << line << monitor->Transcript();
  // The requests in the event log (31 load off, 34 parameter set); the front ends without a window
  // print each record as it is logged.
  std::vector<int> requests;
  for (const EventRecord& e : ReadEventLog(home.EventLogPath()))
    if (e.kind == 0 && e.code >= 30 && e.code <= 34) requests.push_back(e.code);
  EXPECT_NE(std::find(requests.begin(), requests.end(), 31), requests.end());
  EXPECT_NE(std::find(requests.begin(), requests.end(), 34), requests.end());
  if (GetParam() != FrontEnd::Window)
    for (const char* line : {"Network client: load off", "Network client: parameter set"})
      EXPECT_TRUE(SawLine(*monitor, line, seconds(5))) << line << monitor->Transcript();

  monitor->Signal(SIGTERM);
  EXPECT_EQ(monitor->WaitExit(seconds(15)), std::optional<int>(0));
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(seconds(15)), std::optional<int>(0));
}

TEST_P(NutServer, UpsmonAsPrimaryRunsItsShutdownCommandWhenTheUnitIsOnBatteryAndLow) {
  MachineWideTurn turn;  // before the scenario's clock starts
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  const std::string link = home.Path() + "/ttyUPS";
  const std::string scenario = home.Path() + "/mains-fails.txt";
  // Mains fails at 30 s (the monitor and upsmon are in place long before, even under a
  // sanitizer on a busy machine); the low-battery pre-alarm comes 6 s later.
  std::ofstream(scenario) << "0 state = online in_a = 230 out_a = 230 freq = 50 batt_capa = 100\n"
                             "  batt_time = 30\n"
                             "30 state = battery in_a = 0 cmm_alarm2 = 0x0040 batt_capa = 40\n"
                             "36 cmm_alarm2 = 0x0140 batt_capa = 8 batt_time = 2\n";
  auto sim = StartSim(2, "1", {"--scenario", scenario}, link);
  ASSERT_FALSE(HasFailure());
  WriteServerSettings(home.Path(), link);
  WriteDeviceList(home.Path(), {1});
  auto monitor = StartMonitor(home.Path(), GetParam());
  const int port = NutServerPort(*monitor);
  ASSERT_GT(port, 0) << monitor->Transcript();
  const std::string ups1 = "ups1@127.0.0.1:" + std::to_string(port);
  std::string last;
  ASSERT_TRUE(WaitForUpsc(ups1, "ups.status", "OL", seconds(25), *sim, &last))
      << last << monitor->Transcript();

  // upsmon in the foreground, with its files in the test's folder and a script for shutting down.
  const std::string conf = home.Path() + "/nut";
  fs::create_directories(conf);
  const std::string marker = home.Path() + "/shutdown-ran";
  const std::string script = conf + "/shutdown.sh";
  std::ofstream(script) << "#!/bin/sh\necho ran >> '" << marker << "'\n";
  fs::permissions(script, fs::perms::owner_all);
  {
    std::ofstream c(conf + "/upsmon.conf");
    c << "MONITOR " << ups1 << " 1 mon monpw primary\nMINSUPPLIES 1\nSHUTDOWNCMD \"" << script
      << "\"\nPOLLFREQ 1\nPOLLFREQALERT 1\nHOSTSYNC 1\nDEADTIME 5\nFINALDELAY 0\n"
         "POWERDOWNFLAG "
      << conf << "/killpower\n";
  }
  fs::permissions(conf + "/upsmon.conf", fs::perms::owner_read | fs::perms::owner_write);
  ChildProcess upsmon({"/usr/bin/env", "NUT_CONFPATH=" + conf, "NUT_STATEPATH=" + conf,
                       "NUT_ALTPIDPATH=" + conf, kUpsmon, "-D", "-F", "-p"});
  ASSERT_TRUE(upsmon.Started());
  EXPECT_TRUE(WaitFor(
      [&] {
        sim->Pump();
        return upsmon.Transcript().find("Logged into UPS " + ups1) != std::string::npos;
      },
      seconds(10)))
      << upsmon.Transcript();

  // On battery, not yet low: upsmon waits.
  ASSERT_TRUE(WaitForUpsc(ups1, "ups.status", "OB ALARM", seconds(40), *sim, &last)) << last;
  EXPECT_FALSE(fs::exists(marker)) << upsmon.Transcript();

  // Low: the primary forces the shutdown, which every client then sees, and runs its command.
  EXPECT_TRUE(WaitFor(
      [&] {
        sim->Pump();
        return fs::exists(marker);
      },
      seconds(30)))
      << upsmon.Transcript();
  EXPECT_EQ(Answer(RunClient({kUpsc, ups1, "ups.status"})), "FSD OB LB ALARM\n");
  upsmon.Signal(SIGTERM);
  upsmon.WaitExit(seconds(10));

  monitor->Signal(SIGTERM);
  EXPECT_EQ(monitor->WaitExit(seconds(15)), std::optional<int>(0));
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(seconds(15)), std::optional<int>(0));
}

INSTANTIATE_TEST_SUITE_P(E2e, NutServer, ::testing::Values(FrontEnd::Service, FrontEnd::Window),
                         [](const ::testing::TestParamInfo<FrontEnd>& info) {
                           return info.param == FrontEnd::Service ? "Service" : "Window";
                         });

}  // namespace
}  // namespace tessel::e2e
