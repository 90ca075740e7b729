// The monitor's core without any front end: a unit that is lost, or whose port closed, has its
// live values cleared by the core itself, so its state and alarms are logged again when it
// answers, whether a window shows it, is minimised, or there is none (the headless monitor).
#include "app/monitor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "app/device_list_file.h"
#include "app/settings_file.h"
#include "protocol/modbus_crc.h"

namespace fs = std::filesystem;

namespace tessel {
namespace {

class FakePort : public SerialPort {
 public:
  void Open(const SerialPortSettings&) override { open = true; }
  void Close() override { open = false; }
  bool IsOpen() const override { return open; }
  bool Send(const uint8_t* data, int n) override {
    if (!open || n <= 0) return false;
    sent.emplace_back(data, data + n);
    return true;
  }
  bool open = false;
  std::vector<std::vector<uint8_t>> sent;
};

class NoHooks : public StartupHooks {
 public:
  void StartPollTimer() override {}
};

struct CoreRig {
  CoreRig() {
    std::random_device rd;
    home = fs::temp_directory_path() / ("tessel_monitor_" + std::to_string(rd()));
    fs::create_directories(home);
    paths = MakeProgramPaths(home.string());
    CreateProgramFolders(paths);
    Settings s;
    s.PortInfo.ComName = "/dev/fake-ups";
    s.PortInfo.Protocol = 2;
    s.PortInfo.BaudRate = 9600;
    s.PortInfo.MaxReSend = 2;
    s.RecInterval = 0;
    WriteUserParaIni(paths.SettingsFile, s);
    TEquipList list;
    TEquipRec rec;
    rec.Addr = 1;
    AppendDevice(list, rec);
    SaveDeviceList(paths.TreeFile, list);
    monitor = std::make_unique<Monitor>(paths, port, clock);
    monitor->StartUp(hooks);
  }
  ~CoreRig() {
    monitor.reset();
    std::error_code ec;
    fs::remove_all(home, ec);
  }

  // Runs n ticks; the unit answers every read unless silent: standby, "mains abnormal" alarm.
  void Run(int n, bool silent) {
    for (int i = 0; i < n; ++i) {
      clock.AdvanceSeconds(0.1);
      const size_t before = port.sent.size();
      monitor->Tick();
      if (silent || port.sent.size() == before) continue;
      const std::vector<uint8_t>& req = port.sent.back();
      if (req.size() != 8 || (req[1] != 3 && req[1] != 4)) continue;
      const int reg = ((req[2] << 8) | req[3]) + 1;
      const int count = (req[4] << 8) | req[5];
      std::vector<uint8_t> answer = {req[0], req[1], static_cast<uint8_t>(2 * count)};
      for (int r = reg; r < reg + count; ++r) {
        const uint16_t v = r == 30087 ? 0x0040 : 0;
        answer.push_back(static_cast<uint8_t>(v >> 8));
        answer.push_back(static_cast<uint8_t>(v & 0xFF));
      }
      AppendModbusCrc(answer);
      monitor->OnReceive(answer.data(), static_cast<int>(answer.size()));
    }
  }

  // The unit's events as (kind, code, alarm state).
  std::vector<std::tuple<int, int, int>> UnitEvents() {
    std::ifstream in(monitor->EventLog().FilePath(), std::ios::binary);
    std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::tuple<int, int, int>> out;
    for (size_t off = 0; off + kEventRecSize <= b.size(); off += kEventRecSize) {
      const TEventRec r = DecodeEventRec(b.data() + off);
      if (r.Address == 1) out.emplace_back(r.Kind, r.Code, r.AlarmState);
    }
    return out;
  }

  fs::path home;
  ProgramPaths paths;
  FakePort port;
  ManualClock clock{EncodeDateTime(2026, 3, 1, 10)};
  NoHooks hooks;
  std::unique_ptr<Monitor> monitor;
};

TEST(MonitorCore, LostUnitIsClearedByTheCoreAndItsStateIsLoggedAgain) {
  CoreRig rig;
  ASSERT_TRUE(rig.port.open);
  const TUpsInfo& u = rig.monitor->Ctx().model.UpsTable[1];
  rig.Run(100, false);
  ASSERT_EQ(u.CommState, kCommOk);
  ASSERT_EQ(u.RunState, kRunStandby);
  ASSERT_GT(u.AlarmCount, 0);
  const auto up = rig.UnitEvents();
  ASSERT_EQ(up.size(), 3u);  // communication up, standby, the alarm appeared
  EXPECT_EQ(up[0], std::make_tuple(0, 22, 255));
  EXPECT_EQ(up[1], std::make_tuple(1, kRunStandby, 255));
  EXPECT_EQ(std::get<0>(up[2]), 2);

  // Silent until lost: the tick that declares it lost clears it, with no window anywhere.
  int ticks = 0;
  while (u.CommState != kCommLost && ticks < 1000) {
    rig.Run(1, true);
    ++ticks;
  }
  ASSERT_EQ(u.CommState, kCommLost);
  EXPECT_EQ(u.RunState, kRunUnknown);
  EXPECT_EQ(u.PrevRunState, 0);
  EXPECT_EQ(u.AlarmCount, 0);

  // Back: established, and its state and alarm are logged again.
  rig.Run(100, false);
  const auto back = rig.UnitEvents();
  // The alarm list was emptied with the rest: the first answer, which does not carry the alarm
  // words, ends the alarm of before, and the next one has it appear again.
  ASSERT_EQ(back.size(), 8u);
  EXPECT_EQ(back[3], std::make_tuple(0, 18, 255));
  EXPECT_EQ(back[4], std::make_tuple(0, 22, 255));
  EXPECT_EQ(back[5], std::make_tuple(1, kRunStandby, 255));
  EXPECT_EQ(back[6], std::make_tuple(2, std::get<1>(up[2]), 0));
  EXPECT_EQ(back[7], up[2]);
}

TEST(MonitorCore, ClosedPortClearsEveryListedUnit) {
  CoreRig rig;
  const TUpsInfo& u = rig.monitor->Ctx().model.UpsTable[1];
  rig.Run(100, false);
  ASSERT_EQ(u.RunState, kRunStandby);
  rig.monitor->Master().CloseComm();
  rig.monitor->ClearListedRecords();
  EXPECT_EQ(u.RunState, kRunUnknown);
  EXPECT_EQ(u.AlarmCount, 0);
  rig.monitor->Master().OpenComm();
  rig.Run(100, false);
  const auto events = rig.UnitEvents();
  ASSERT_EQ(events.size(), 6u);  // the state and the alarm again, no communication event
  EXPECT_EQ(events[3], std::make_tuple(1, kRunStandby, 255));
  EXPECT_EQ(events[4], std::make_tuple(2, std::get<1>(events[2]), 0));
  EXPECT_EQ(events[5], events[2]);
}

}  // namespace
}  // namespace tessel
