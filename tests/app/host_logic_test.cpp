// The host without any event loop: the test is the loop. It arms what the host asks for, and
// steps a clock to that deadline (or past it, for a stall) before calling OnDeadline.
#include "app/host_logic.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/device_list_file.h"
#include "app/settings_file.h"
#include "protocol/modbus_crc.h"

namespace fs = std::filesystem;

namespace tessel {
namespace {

constexpr int64_t kTickNs = int64_t{kPollIntervalMs} * 1'000'000;

class FakePort : public SerialPort {
 public:
  void Open(const SerialPortSettings&) override {
    if (refuse) throw SerialPortError("Error opening serial port", "/dev/fake-ups", 2);
    open = true;
  }
  void Close() override { open = false; }
  bool IsOpen() const override { return open; }
  bool Send(const uint8_t* data, int n) override {
    if (!open || n <= 0) return false;
    sent.emplace_back(data, data + n);
    return true;
  }
  bool open = false;
  bool refuse = false;
  std::vector<std::vector<uint8_t>> sent;
};

// What the host told its listeners, one line each.
class Recorder : public HostListener {
 public:
  void PortOpenTried(const std::string& e) override { Add("open tried: " + e); }
  void PortStateChanged(bool open) override { Add(open ? "port open" : "port closed"); }
  void PortFailed(const std::string& d) override { Add("failed: " + d); }
  void PortRetried(const std::string& e) override { Add("retried: " + e); }
  void DeviceUpdated(int a) override { updated.push_back(a); }
  void StopRequested() override { Add("stop requested"); }
  void Add(const std::string& line) { lines.push_back(line); }
  std::vector<std::string> lines;
  std::vector<int> updated;
};

class HostLogicTest : public ::testing::Test {
 protected:
  HostLogicTest() {
    std::random_device rd;
    home_ = fs::temp_directory_path() / ("tessel_host_logic_" + std::to_string(rd()));
    fs::create_directories(home_);
    paths_ = MakeProgramPaths(home_.string());
    CreateProgramFolders(paths_);
    Settings s;
    s.PortInfo.ComName = "/dev/fake-ups";
    s.PortInfo.Protocol = 2;
    s.PortInfo.BaudRate = 9600;
    s.PortInfo.MaxReSend = 2;
    s.RecInterval = 0;
    WriteUserParaIni(paths_.SettingsFile, s);
    TEquipList list;
    TEquipRec rec;
    rec.Addr = 1;
    AppendDevice(list, rec);
    SaveDeviceList(paths_.TreeFile, list);
    host_ = std::make_unique<HostLogic>(paths_, port_, clock_, [this] { return now_; });
    host_->ArmDeadline = [this](int64_t at) { armed_ = at; };
    host_->AddListener(&rec_);
  }
  ~HostLogicTest() override {
    host_.reset();
    std::error_code ec;
    fs::remove_all(home_, ec);
  }

  // Steps the clock to the armed deadline and lets the host run what is due.
  void Fire() {
    ASSERT_NE(armed_, HostLogic::kNoDeadline);
    if (armed_ > now_) now_ = armed_;
    host_->OnDeadline();
  }
  // The answer of unit 1 to the last read request (every register zero).
  void Answer() {
    ASSERT_FALSE(port_.sent.empty());
    const std::vector<uint8_t>& req = port_.sent.back();
    ASSERT_EQ(req.size(), 8u);
    const int count = (req[4] << 8) | req[5];
    std::vector<uint8_t> answer = {req[0], req[1], static_cast<uint8_t>(2 * count)};
    answer.resize(answer.size() + 2 * count, 0);
    AppendModbusCrc(answer);
    host_->OnReceive(answer.data(), static_cast<int>(answer.size()));
  }

  fs::path home_;
  ProgramPaths paths_;
  FakePort port_;
  ManualClock clock_{EncodeDateTime(2026, 3, 1, 10)};
  int64_t now_ = 5'000'000'000;
  int64_t armed_ = HostLogic::kNoDeadline;
  Recorder rec_;
  std::unique_ptr<HostLogic> host_;
};

TEST_F(HostLogicTest, WakesOnlyForTicksThatWorkAndRunsTheIdleOnesOnTheWay) {
  host_->Start();
  ASSERT_EQ(rec_.lines, std::vector<std::string>({"port open", "open tried: "}));
  ASSERT_NE(armed_, HostLogic::kNoDeadline);
  EXPECT_EQ((armed_ - now_) % kTickNs, 0) << "deadlines fall on the tick grid";

  // Each deadline sends a request; the answer moves the next deadline; nothing in between.
  int wakeUps = 0;
  for (int request = 0; request < 5; ++request) {
    const size_t before = port_.sent.size();
    while (port_.sent.size() == before) {
      Fire();
      ++wakeUps;
      ASSERT_LT(wakeUps, 50);
    }
    Answer();
  }
  EXPECT_EQ(wakeUps, 5) << "one wake-up per request";
  EXPECT_GE(rec_.updated.size(), 5u);
  EXPECT_EQ(host_->TicksRun(), (now_ - 5'000'000'000) / kTickNs);
}

TEST_F(HostLogicTest, AStallDropsTheTicksItMissedInsteadOfReplayingThem) {
  host_->Start();
  Fire();
  Answer();
  const int64_t ticksBefore = host_->TicksRun();
  const size_t sentBefore = port_.sent.size();
  now_ += 60 * kTickNs + kTickNs / 2;  // the thread was stopped for six seconds
  host_->OnDeadline();
  // The idle ticks up to the one that works run late, as they would have on time; the rest of the
  // sixty are dropped.
  const int64_t run = host_->TicksRun() - ticksBefore;
  EXPECT_EQ(run + host_->Pacer().TicksDropped(), 60);
  EXPECT_GT(host_->Pacer().TicksDropped(), 40);
  EXPECT_LE(port_.sent.size() - sentBefore, 1u) << "no burst on the line after the stall";
  ASSERT_NE(armed_, HostLogic::kNoDeadline);
  EXPECT_GT(armed_, now_) << "the next deadline lies ahead, not in the missed past";
}

TEST_F(HostLogicTest, APortThatWillNotOpenIsTriedAgainEveryTenSeconds) {
  port_.refuse = true;
  host_->Start();
  ASSERT_EQ(rec_.lines.size(), 1u);
  EXPECT_NE(rec_.lines[0].find("open tried: Error opening serial port"), std::string::npos);
  EXPECT_EQ(armed_, HostLogic::kNoDeadline) << "a closed port has no ticks to wake for";

  host_->RetryPortLater();
  EXPECT_EQ(armed_, now_ + HostLogic::kPortRetryNs);
  Fire();
  ASSERT_EQ(rec_.lines.size(), 2u);
  EXPECT_NE(rec_.lines[1].find("retried: Error opening serial port"), std::string::npos);
  EXPECT_EQ(armed_, now_ + HostLogic::kPortRetryNs) << "on until it opens";

  port_.refuse = false;
  Fire();
  EXPECT_EQ(std::vector<std::string>(rec_.lines.begin() + 2, rec_.lines.end()),
            std::vector<std::string>({"port open", "retried: "}));
  EXPECT_TRUE(host_->PortIsOpen());
  EXPECT_LT(armed_, now_ + HostLogic::kPortRetryNs) << "polling again";
}

TEST_F(HostLogicTest, AHangUpClosesThePortAndReopensItTenSecondsLater) {
  host_->Start();
  Fire();
  Answer();
  rec_.lines.clear();
  host_->OnHangUp("/dev/fake-ups");
  EXPECT_EQ(rec_.lines, std::vector<std::string>({"port closed", "failed: /dev/fake-ups"}));
  EXPECT_FALSE(host_->PortIsOpen());
  EXPECT_EQ(armed_, now_ + HostLogic::kPortRetryNs);
  Fire();
  EXPECT_EQ(rec_.lines.back(), "retried: ");
  EXPECT_TRUE(host_->PortIsOpen());

  // Opening by hand ends a pending retry.
  host_->OnHangUp("/dev/fake-ups");
  EXPECT_EQ(host_->OpenPort(), "");
  const size_t told = rec_.lines.size();
  now_ += HostLogic::kPortRetryNs;
  host_->OnDeadline();
  EXPECT_EQ(rec_.lines.size(), told) << "no retry after the port was opened";
}

TEST_F(HostLogicTest, StopWritesTheLastRecordAndEndsEveryDeadline) {
  host_->Start();
  Fire();
  host_->RetryPortLater();
  host_->OnStopRequested();
  EXPECT_EQ(rec_.lines.back(), "stop requested") << "the front end decides what a stop means";
  EXPECT_FALSE(host_->Stopped());
  const uintmax_t before = fs::file_size(host_->Core().EventLog().FilePath());
  host_->Stop();
  EXPECT_EQ(fs::file_size(host_->Core().EventLog().FilePath()), before + kEventRecSize);
  EXPECT_EQ(armed_, HostLogic::kNoDeadline);
  EXPECT_FALSE(port_.open);
  const size_t sent = port_.sent.size();
  now_ += HostLogic::kPortRetryNs;
  host_->OnDeadline();
  EXPECT_EQ(port_.sent.size(), sent);
  EXPECT_FALSE(port_.open);
}

}  // namespace
}  // namespace tessel
