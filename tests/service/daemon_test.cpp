// The service from start-up to the program-stop event, with its serial port on a pseudo-terminal
// and this test answering as a unit.
#include "service/daemon.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/device_list_file.h"
#include "log/event_log.h"
#include "protocol/ascii_frame.h"

namespace fs = std::filesystem;

namespace tessel {
namespace {

class TempHome {
 public:
  TempHome() {
    char tmpl[] = "/tmp/tessel-headless-XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempHome() { fs::remove_all(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The far end of a pseudo-terminal: the test's side of the serial line.
class FarEnd {
 public:
  FarEnd() {
    char name[256];
    int slave = -1;
    if (openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
      slaveName_ = name;
      close(slave);
      fcntl(master_, F_SETFL, O_NONBLOCK);
    }
  }
  ~FarEnd() {
    if (master_ >= 0) close(master_);
  }
  const std::string& Name() const { return slaveName_; }

  // Whole ASCII requests ("~" .. CR) that arrived since the last call.
  std::vector<std::string> Requests() {
    char buf[512];
    ssize_t n;
    while ((n = read(master_, buf, sizeof buf)) > 0) pending_.append(buf, n);
    std::vector<std::string> out;
    size_t end;
    while ((end = pending_.find('\r')) != std::string::npos) {
      size_t start = pending_.rfind('~', end);
      if (start != std::string::npos) out.push_back(pending_.substr(start, end - start + 1));
      pending_.erase(0, end + 1);
    }
    return out;
  }
  void Write(const std::string& s) {
    ASSERT_EQ(write(master_, s.data(), s.size()), ssize_t(s.size()));
  }

 private:
  int master_ = -1;
  std::string slaveName_;
  std::string pending_;
};

// Runs the daemon's loop in slices of at most 10 ms until done holds or the limit passes.
bool RunUntil(PollLoop& loop, const std::function<bool()>& done, int timeoutMs) {
  const int64_t end = loop.Now() + int64_t{timeoutMs} * 1'000'000;
  while (loop.Now() < end) {
    loop.RunOnce(loop.Now() + 10'000'000);
    if (done()) return true;
  }
  return false;
}

std::vector<std::vector<uint8_t>> ReadRecords(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<uint8_t> all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<std::vector<uint8_t>> recs;
  for (size_t i = 0; i + kEventRecSize <= all.size(); i += kEventRecSize)
    recs.emplace_back(all.begin() + i, all.begin() + i + kEventRecSize);
  return recs;
}

int32_t Code(const std::vector<uint8_t>& r) {
  return static_cast<int32_t>(r[12] | r[13] << 8 | r[14] << 16 |
                              static_cast<uint32_t>(r[15]) << 24);
}

void WriteSettings(const std::string& home, const std::string& comName) {
  std::ofstream f(home + "/UserParaIni.ini");
  f << "[CommPort]\nComName=" << comName << "\nProtocol=0\nReadIntervalTimeout=50\n"
    << "[DataLog]\nRecInterval=50\n";
}

// The program folder of a monitor watching one unit at address 1 on comName.
void WriteOneUnitHome(const std::string& home, const std::string& comName) {
  WriteSettings(home, comName);
  fs::create_directories(home + "/Record");
  TEquipList list;
  TEquipRec rec;
  rec.Addr = 1;
  rec.Name = MakeNameField("UPS-1");
  AppendDevice(list, rec);
  ASSERT_TRUE(SaveDeviceList(home + "/Record/TreeNode.dat", list));
}

// Everything the monitor printed to out; closes out.
std::string PrintedText(std::FILE* out) {
  std::rewind(out);
  std::string printed;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, out)) > 0) printed.append(buf, n);
  std::fclose(out);
  return printed;
}

// A unit at address 1 under the version "31" protocol: online, and its first alarm answer reports
// a rectifier fault (alarm code 0) which the next one no longer does. Each request takes 13 poll
// ticks, so the eight requests up to the clearing take about ten seconds.
std::string UnitAnswer(const std::string& request, int& alarmAnswers) {
  const std::string cid2 = request.substr(7, 2);
  std::string info;
  if (cid2 == "42") {
    info = std::string(2, '0') + "55F0" + "55F0" + "55F0" + "5654" + "5654" + "5654" +
           std::string(12, '0') + "4E20" + "1388" +
           std::string(5, '0');  // 220 V, 221 V, 200 V, 50 Hz
    info.resize(46, '0');
  } else if (cid2 == "43") {
    info = std::string(6, '0') + "00" + "4400" + "0780" + "0000" + "00";  // online
  } else if (cid2 == "44") {
    info = std::string(20, '0') + (alarmAnswers++ == 0 ? "8000" : "0000") + std::string(14, '0');
  } else if (cid2 == "80") {
    info = std::string(146, '0');
  } else {
    info = std::string(30, '0');
  }
  return BuildAnswerFrame(0x31, 1, 0, info);
}

TEST(Daemon, StartUpToStopWritesTheEventsOfTheRun) {
  TempHome home;
  FarEnd line;
  ASSERT_FALSE(line.Name().empty());
  WriteOneUnitHome(home.Path(), line.Name());
  if (HasFatalFailure()) return;

  const ProgramPaths paths = MakeProgramPaths(home.Path());
  std::FILE* out = std::tmpfile();
  {
    PollLoop loop;
    Daemon monitor(paths, out, loop);
    monitor.Start();
    ASSERT_TRUE(monitor.Host().Core().Master().CommIsOpen());

    int alarmAnswers = 0;
    const std::string logPath = paths.RecordDir + "EventLog.dat";
    bool cleared = RunUntil(
        loop,
        [&] {
          for (const std::string& req : line.Requests()) line.Write(UnitAnswer(req, alarmAnswers));
          auto recs = ReadRecords(logPath);
          return !recs.empty() && recs.back()[9] == 2 && recs.back()[16] == 0;
        },
        60000);
    ASSERT_TRUE(cleared) << "the alarm never cleared";
    monitor.Stop();
  }

  auto recs = ReadRecords(paths.RecordDir + "EventLog.dat");
  std::string seen;
  for (const auto& r : recs)
    seen += "{" + std::to_string(r[8]) + "," + std::to_string(r[9]) + "," +
            std::to_string(Code(r)) + "," + std::to_string(r[16]) + "} ";
  ASSERT_EQ(recs.size(), 7u) << seen;
  struct Expected {
    int addr, kind, code, alarmState;
  } expected[] = {{0, 0, 20, 255}, {1, 0, 22, 255}, {1, 1, 4, 255},  // online
                  {1, 2, 0, 1},                                      // rectifier fault appears ...
                  {1, 1, 11, 255},  // ... which the next status answer turns into the fault state
                  {1, 2, 0, 0},     // and clears
                  {0, 0, 21, 255}};
  for (size_t i = 0; i < recs.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(recs[i][8], expected[i].addr);
    EXPECT_EQ(recs[i][9], expected[i].kind);
    EXPECT_EQ(Code(recs[i]), expected[i].code);
    EXPECT_EQ(recs[i][16], expected[i].alarmState);
  }
  // The state-change record carries the status words it was derived from.
  EXPECT_EQ(recs[2][22], 0x00);  // CmmState1 = 0x4400
  EXPECT_EQ(recs[2][23], 0x44);
  EXPECT_EQ(recs[2][30], 0x80);  // InvState1 = 0x0780
  EXPECT_EQ(recs[2][31], 0x07);
  // Time stamps never go backwards.
  for (size_t i = 1; i < recs.size(); ++i) {
    double a, b;
    memcpy(&a, recs[i - 1].data(), 8);
    memcpy(&b, recs[i].data(), 8);
    EXPECT_LE(a, b);
  }

  // Every event was printed as it was logged.
  const std::string printed = PrintedText(out);
  EXPECT_NE(printed.find("Monitor software is open"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Communication upbuilt"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Recover from: Rectifier fault"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Monitor software is closed"), std::string::npos) << printed;
}

TEST(Daemon, PortThatCannotBeOpenedIsReportedAndTheProgramRuns) {
  TempHome home;
  {
    std::ofstream f(home.Path() + "/UserParaIni.ini");
    f << "[CommPort]\nComName=" << home.Path() << "/no-such-tty\n[Language]\nLanguage=1\n";
  }
  const ProgramPaths paths = MakeProgramPaths(home.Path());
  std::FILE* out = std::tmpfile();
  {
    PollLoop loop;
    Daemon monitor(paths, out, loop);
    monitor.Start();
    EXPECT_FALSE(monitor.Host().Core().Master().CommIsOpen());
    monitor.Stop();
  }
  const std::string printed = PrintedText(out);
  EXPECT_NE(printed.find("开启串口时出错,请检查串口设置!"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Error opening serial port"), std::string::npos) << printed;
  // Which device, why, and (it is missing) which ports there are.
  EXPECT_NE(printed.find(home.Path() + "/no-such-tty: " + std::strerror(ENOENT)), std::string::npos)
      << printed;
  EXPECT_TRUE(printed.find("本机的串口:") != std::string::npos ||
              printed.find("本机未找到串口。") != std::string::npos)
      << printed;
  // Both folders exist and the log holds the start and stop events.
  EXPECT_TRUE(fs::is_directory(paths.BackupDir));
  auto recs = ReadRecords(paths.RecordDir + "EventLog.dat");
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(Code(recs[0]), 20);
  EXPECT_EQ(Code(recs[1]), 21);
}

TEST(Daemon, NameThatSelectsNoPortIsReportedOnce) {
  TempHome home;
  std::ofstream(home.Path() + "/UserParaIni.ini") << "[CommPort]\nComName=COM0\n";
  std::FILE* out = std::tmpfile();
  {
    PollLoop loop;
    Daemon monitor(MakeProgramPaths(home.Path()), out, loop);
    monitor.Start();
    EXPECT_FALSE(monitor.Host().Core().Master().CommIsOpen());
    monitor.Stop();
  }
  const std::string printed = PrintedText(out);
  const std::string text = PortOpenErrorText(0);
  const size_t at = printed.find(text);
  ASSERT_NE(at, std::string::npos) << printed;
  EXPECT_EQ(printed.find(text, at + 1), std::string::npos) << printed;
}

TEST(Daemon, ReopensThePortWhenTheDeviceComesBack) {
  TempHome home;
  const std::string link = home.Path() + "/ttyUPS";
  auto first = std::make_unique<FarEnd>();
  ASSERT_EQ(symlink(first->Name().c_str(), link.c_str()), 0);
  WriteOneUnitHome(home.Path(), link);
  if (HasFatalFailure()) return;

  std::FILE* out = std::tmpfile();
  PollLoop loop;
  Daemon monitor(MakeProgramPaths(home.Path()), out, loop);
  monitor.Start();
  const TUpsInfo& unit = monitor.Host().Core().Ctx().model.UpsTable[1];
  int alarmAnswers = 1;  // no alarms in this test
  ASSERT_TRUE(RunUntil(
      loop,
      [&] {
        for (const std::string& req : first->Requests())
          first->Write(UnitAnswer(req, alarmAnswers));
        return unit.CommState == 0;
      },
      20000));

  // The adapter is pulled: the far end goes away. The monitor closes the port and retries.
  first.reset();
  ASSERT_TRUE(RunUntil(
      loop, [&] { return !monitor.Host().Core().Master().CommIsOpen(); }, 10000));

  // It comes back under the same name; polling resumes within the retry period.
  FarEnd second;
  ASSERT_EQ(unlink(link.c_str()), 0);
  ASSERT_EQ(symlink(second.Name().c_str(), link.c_str()), 0);
  int requests = 0;
  EXPECT_TRUE(RunUntil(
      loop,
      [&] {
        for (const std::string& req : second.Requests()) {
          second.Write(UnitAnswer(req, alarmAnswers));
          ++requests;
        }
        return requests >= 2 && monitor.Host().Core().Ctx().comm.Debug.AckOkCnt > 0;
      },
      static_cast<int>(HostLogic::kPortRetryNs / 1000000) + 15000));
  monitor.Stop();

  const std::string printed = PrintedText(out);
  EXPECT_NE(printed.find("failed; reopening every 10 s"), std::string::npos) << printed;
  const size_t firstLink = printed.find(" is Link");
  ASSERT_NE(firstLink, std::string::npos) << printed;
  EXPECT_NE(printed.find(" is Link", firstLink + 1), std::string::npos) << printed;
}

}  // namespace
}  // namespace tessel
