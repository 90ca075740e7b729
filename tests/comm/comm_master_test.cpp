#include "comm/comm_master.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "comm/poll_pacer.h"
#include "model/cmd_request.h"
#include "model/ups_info.h"
#include "protocol/frame_end.h"
#include "protocol/modbus_crc.h"
#include "protocol/modbus_driver.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

constexpr double kStart = 45422.5;  // 2024-05-10 12:00
constexpr int64_t kTickNs = int64_t{kPollIntervalMs} * 1'000'000;

// Records every frame with the number of the tick that sent it.
class FakePort : public SerialPort {
 public:
  explicit FakePort(const int& tick) : tick_(tick) {}
  struct Frame {
    int tick;
    std::vector<uint8_t> bytes;
  };

  void Open(const SerialPortSettings& s) override {
    opens.push_back(s);
    if (!failWith.empty()) throw SerialPortError(failWith);
    open = true;
  }
  void Close() override {
    ++closes;
    open = false;
  }
  bool IsOpen() const override { return open; }
  bool Send(const uint8_t* data, int n) override {
    sent.push_back({tick_, std::vector<uint8_t>(data, data + n)});
    return open && n > 0;
  }
  std::vector<int> SentTicks() const {
    std::vector<int> t;
    for (const auto& f : sent) t.push_back(f.tick);
    return t;
  }

  bool open = false;
  std::string failWith;
  std::vector<SerialPortSettings> opens;
  int closes = 0;
  std::vector<Frame> sent;

 private:
  const int& tick_;
};

// Polls its targets in turn (or the search address) with a frame 7E <target> <build number>.
// Accepts chunks that start with 'A' and then "decodes" state 3 and alarm 7 into the record of
// the current address, as a real driver would.
class FakeDriver : public ProtocolDriver {
 public:
  FakeDriver(CommState& comm, DeviceModel& model) : comm_(comm), model_(model) {}

  void BuildRequest() override {
    ++builds;
    const int target = comm_.PollState.SearchMode ? comm_.PollState.SearchAddr
                                                  : targets[(builds - 1) % targets.size()];
    TargetAddr = target;
    TxLen = txLen;
    comm_.TxBuf[0] = 0x7E;
    comm_.TxBuf[1] = static_cast<uint8_t>(target);
    comm_.TxBuf[2] = static_cast<uint8_t>(builds);
  }
  bool ParseAnswer(const uint8_t* data, int n) override {
    parsed.emplace_back(data, data + n);
    if (n == 0 || data[0] != 'A') return false;
    ++comm_.Debug.AckOkCnt;
    const uint8_t addr = model_.EquipList.CurAddr;
    if (addr < kTableSize) {
      TUpsInfo& u = model_.UpsTable[addr];
      u.RunState = 3;
      u.AlarmCodes[0] = 7;
      u.AlarmCount = 1;
    }
    return true;
  }

  std::vector<int> targets{5};
  int txLen = 3;
  int builds = 0;
  std::vector<std::vector<uint8_t>> parsed;

 private:
  CommState& comm_;
  DeviceModel& model_;
};

class FakeSearch : public SearchHooks {
 public:
  FakeSearch(TPollState& ps, int first, int last) : ps_(ps), next_(first - 1), last_(last) {}
  uint8_t NextSearchAddress() override {
    ++next_;
    if (next_ > last_) ps_.SearchMode = kFlagOff;
    return static_cast<uint8_t>(next_);
  }
  void DeviceFound(uint8_t a) override { found.push_back(a); }
  std::vector<int> found;

 private:
  TPollState& ps_;
  int next_, last_;
};

class FakeTrace : public TraceSink {
 public:
  void ShowTxFrame(const uint8_t* d, int n) override { tx.emplace_back(d, d + n); }
  void ShowRxFrame(const uint8_t* d, int n) override { rx.emplace_back(d, d + n); }
  void RefreshDebug() override { ++refreshes; }
  void ShowRecDly(int32_t v) override { recDly.push_back(v); }
  std::vector<std::vector<uint8_t>> tx, rx;
  int refreshes = 0;
  std::vector<int32_t> recDly;
};

// One complete communication master on a fresh program folder.
struct Rig {
  explicit Rig(int protocol = 0, int maxReSend = 2, bool realModbus = false) {
    std::random_device rd;
    dir = fs::temp_directory_path() / ("tessel_comm_" + std::to_string(rd()));
    fs::create_directories(dir / "Record");
    fs::create_directories(dir / "Backup");
    InitUpsTable(ctx.model.UpsTable);
    TPortInfo& p = ctx.settings.PortInfo;
    p.ComName = "COM1";
    p.BaudRate = 9600;
    p.StopBits = 1;
    p.Protocol = static_cast<uint8_t>(protocol);
    p.ReadIntervalTimeout = 200;
    p.MaxReSend = static_cast<uint8_t>(maxReSend);
    eventLog = std::make_unique<TEventLog>((dir / "Record").string(), (dir / "Backup").string(),
                                           "EventLog.dat", ctx.model.UpsTable, clock);
    dataLog = std::make_unique<TDataLog>((dir / "Record").string());
    ProtocolDriver* modbusChoice = realModbus ? static_cast<ProtocolDriver*>(&modbus) : &d2;
    master = std::make_unique<TCommMaster>(ctx, TCommMaster::Drivers{&d0, &d1, modbusChoice}, port,
                                           *eventLog, *dataLog, clock);
    master->SetTraceSink(&trace);
  }
  ~Rig() {
    master.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  void Open() { master->OpenComm(); }

  // Runs n ticks; after each, `after` sees the tick's number (the clock reads kStart + 0.1 s
  // per tick).
  void Run(int n, const std::function<void(int)>& after = {}) {
    for (int i = 0; i < n; ++i, ++tick) {
      clock.Set(kStart + tick * 0.1 / 86400.0);
      master->Tick();
      if (after) after(tick);
    }
  }
  bool SentAt(int t) const { return !port.sent.empty() && port.sent.back().tick == t; }
  void Receive(const std::string& s) {
    master->OnReceive(reinterpret_cast<const uint8_t*>(s.data()), static_cast<int>(s.size()));
  }

  std::vector<TEventRec> Events() {
    std::ifstream in(eventLog->FilePath(), std::ios::binary);
    std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<TEventRec> out;
    for (size_t off = 0; off + kEventRecSize <= b.size(); off += kEventRecSize)
      out.push_back(DecodeEventRec(b.data() + off));
    return out;
  }
  // Data log samples as (tick, address).
  std::vector<std::pair<int, int>> Samples() {
    std::ifstream in(dir / "Record" / DataLogFileName(kStart), std::ios::binary);
    std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::pair<int, int>> out;
    for (size_t off = 0; off + kDataRecSize <= b.size(); off += kDataRecSize) {
      const TDataRec r = DecodeDataRec(b.data() + off);
      out.emplace_back(static_cast<int>(std::lround((r.Time - kStart) * 864000.0)), r.Address);
    }
    return out;
  }

  fs::path dir;
  int tick = 0;
  ManualClock clock{kStart};
  Context ctx;
  FakePort port{tick};
  FakeDriver d0{ctx.comm, ctx.model}, d1{ctx.comm, ctx.model}, d2{ctx.comm, ctx.model};
  TMModbus modbus{ctx};
  FakeTrace trace;
  std::unique_ptr<TEventLog> eventLog;
  std::unique_ptr<TDataLog> dataLog;
  std::unique_ptr<TCommMaster> master;
};

TEST(CommMasterTiming, RequestIsSentMaxReSendMinusOneTimesAnsweredOrNot) {
  struct Case {
    int n;
    std::vector<int> sentTicks;  // within the first 60 ticks
    int builds;
  } cases[] = {
      {0, {}, 30},
      {1, {}, 30},
      {2, {1, 14, 27, 40, 53}, 5},
      {3, {1, 12, 25, 36, 49}, 3},
      {4, {1, 12, 23, 36, 47, 58}, 2},
  };
  for (const auto& c : cases) {
    for (bool answered : {false, true}) {
      SCOPED_TRACE("MaxReSend " + std::to_string(c.n) + (answered ? " answered" : " silent"));
      Rig rig(0, c.n);
      rig.Open();
      rig.Run(60, [&](int t) {
        if (answered && rig.SentAt(t)) rig.Receive("A-answer");
      });
      EXPECT_EQ(rig.port.SentTicks(), c.sentTicks);
      EXPECT_EQ(rig.d0.builds, c.builds);
      EXPECT_EQ(rig.ctx.comm.Debug.SendCnt, static_cast<int>(c.sentTicks.size()));
      const TUpsInfo& u = rig.ctx.model.UpsTable[5];
      EXPECT_EQ(u.PollCnt, static_cast<int>(c.sentTicks.size()));
      if (answered && !c.sentTicks.empty()) {
        EXPECT_EQ(u.CommState, 0);
        EXPECT_EQ(u.FailCnt, 0);
      } else {
        EXPECT_EQ(u.CommState, 2);  // never answered or never asked: stays lost
      }
    }
  }
}

TEST(CommMasterTiming, StepStatesOfOneRequestCycle) {
  Rig rig(0, 2);
  rig.Open();
  std::vector<int> states;
  rig.Run(15, [&](int) { states.push_back(rig.ctx.comm.PollState.SchedState); });
  const std::vector<int> expected = {5, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 5, 2};
  EXPECT_EQ(states, expected);
  ASSERT_EQ(rig.port.sent.size(), 2u);
  EXPECT_EQ(rig.port.sent[0].bytes, (std::vector<uint8_t>{0x7E, 5, 1}));
  EXPECT_EQ(rig.port.sent[1].bytes, (std::vector<uint8_t>{0x7E, 5, 2}));
  EXPECT_EQ(rig.ctx.comm.TxLed, 3);
}

TEST(CommMasterTiming, LateAnswerIsAccountedToTheNewTarget) {
  Rig rig(0, 2);
  rig.d0.targets = {5, 6};
  rig.Open();
  rig.Run(14);  // tick 13 built the request for address 6
  ASSERT_EQ(rig.ctx.model.EquipList.CurAddr, 6);
  rig.Receive("A-late answer from 5");

  const TUpsInfo& u5 = rig.ctx.model.UpsTable[5];
  const TUpsInfo& u6 = rig.ctx.model.UpsTable[6];
  EXPECT_EQ(u5.OkCnt, 0);
  EXPECT_EQ(u5.RecvCnt, 0);
  EXPECT_EQ(u5.FailCnt, 1);
  EXPECT_EQ(u6.OkCnt, 1);
  EXPECT_EQ(u6.RecvCnt, 1);
  EXPECT_EQ(u6.CommState, 0);
  for (const auto& e : rig.Events()) EXPECT_EQ(e.Address, 6);
}

TEST(CommMasterTiming, ManualModeLetsTheOutstandingRequestFinish) {
  Rig rig(0, 3);
  rig.Open();
  rig.Run(4);
  rig.master->SetManualMode(true);
  rig.Run(37);  // through tick 40
  EXPECT_EQ(rig.port.SentTicks(), (std::vector<int>{1, 12}));
  EXPECT_EQ(rig.d0.builds, 1);
  const TPollState& ps = rig.ctx.comm.PollState;
  EXPECT_EQ(ps.Awaiting, 0);
  EXPECT_EQ(ps.SchedState, 3);
  EXPECT_EQ(ps.SendCount, 0);
  EXPECT_EQ(ps.WaitTicks, 0);
  EXPECT_EQ(ps.FrameLen, 0);

  rig.master->SetManualMode(false);
  rig.Run(2);
  EXPECT_EQ(rig.d0.builds, 2);
  EXPECT_EQ(rig.port.SentTicks(), (std::vector<int>{1, 12, 42}));
}

TEST(CommMasterProtocol, EachProtocolUsesItsDriver) {
  struct Case {
    int protocol;
    int driver;
  } cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE("Protocol " + std::to_string(c.protocol));
    Rig rig(c.protocol);
    rig.Open();
    rig.Run(2);
    rig.Receive("A");
    FakeDriver* drivers[] = {&rig.d0, &rig.d1, &rig.d2};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(drivers[i]->builds, i == c.driver ? 1 : 0);
      EXPECT_EQ(drivers[i]->parsed.size(), i == c.driver ? 1u : 0u);
    }
    EXPECT_EQ(rig.port.sent.size(), 1u);
  }
}

TEST(CommMasterProtocol, UnknownProtocolSendsNothingAndRejectsEveryChunk) {
  for (int protocol : {4, 9, 255}) {
    SCOPED_TRACE("Protocol " + std::to_string(protocol));
    Rig rig(protocol);
    rig.Open();
    rig.Run(30);
    EXPECT_TRUE(rig.port.sent.empty());
    EXPECT_EQ(rig.ctx.comm.PollState.SchedState, 4);
    EXPECT_EQ(rig.ctx.comm.PollState.Awaiting, 0);
    for (const char* chunk : {"A-looks valid", "junk", "A"}) rig.Receive(chunk);
    EXPECT_EQ(rig.ctx.comm.Debug.AckCnt, 3);
    EXPECT_EQ(rig.ctx.comm.DbgCnt[0], 3);
    EXPECT_EQ(rig.d0.builds + rig.d1.builds + rig.d2.builds, 0);
    EXPECT_TRUE(rig.d0.parsed.empty() && rig.d1.parsed.empty() && rig.d2.parsed.empty());
    EXPECT_EQ(rig.ctx.model.UpsTable[0].RecvCnt, 3);
    EXPECT_TRUE(rig.Events().empty());
  }
}

TEST(CommMasterReceive, ChunksAreCutTo400BytesBeforeParsing) {
  for (int n : {0, 1, 399, 400, 401, 2048}) {
    SCOPED_TRACE("chunk of " + std::to_string(n));
    Rig rig;
    rig.ctx.comm.TraceShown = kFlagOn;
    std::vector<uint8_t> chunk(n);
    for (int i = 0; i < n; ++i) chunk[i] = static_cast<uint8_t>(i * 7 + 1);
    rig.master->OnReceive(chunk.data(), n);
    const size_t kept = std::min(n, 400);
    const std::vector<uint8_t> head(chunk.begin(), chunk.begin() + kept);
    ASSERT_EQ(rig.d0.parsed.size(), 1u);
    EXPECT_EQ(rig.d0.parsed[0], head);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), rig.ctx.comm.RxBuf.begin()));
    ASSERT_EQ(rig.trace.rx.size(), 1u);
    EXPECT_EQ(rig.trace.rx[0], head);
  }
}

TEST(CommMasterReceive, AcceptedAndRejectedChunksAreAccounted) {
  Rig rig;
  rig.Open();
  rig.Run(2);  // address 5 polled once
  rig.Receive("reject");
  EXPECT_EQ(rig.ctx.comm.DbgCnt[0], 1);
  EXPECT_EQ(rig.ctx.comm.RxLed, 3);
  EXPECT_EQ(rig.ctx.model.UpsTable[5].RecvCnt, 1);
  EXPECT_EQ(rig.ctx.model.UpsTable[5].CommState, 2);
  EXPECT_TRUE(rig.Events().empty());

  rig.Receive("A-accept");
  EXPECT_EQ(rig.ctx.comm.DbgCnt[0], 1);
  EXPECT_EQ(rig.ctx.comm.Debug.AckCnt, 2);
  const TUpsInfo& u = rig.ctx.model.UpsTable[5];
  EXPECT_EQ(u.RecvCnt, 2);
  EXPECT_EQ(u.OkCnt, 1);
  EXPECT_EQ(u.CommState, 0);
  EXPECT_EQ(u.PrevRunState, 3);
  EXPECT_EQ(u.PrevAlarmCount, 1);
}

TEST(CommMasterReceive, OnlyAddressedDevicesProduceEvents) {
  struct Case {
    int target;
    std::vector<std::pair<int, int>> kindAndCode;
  } cases[] = {
      {0, {}}, {5, {{0, 22}, {1, 3}, {2, 7}}},  // communication up, state 3, alarm 7 appeared
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("address " + std::to_string(c.target));
    Rig rig;
    rig.d0.targets = {c.target};
    rig.Open();
    rig.Run(2);
    rig.Receive("A");
    std::vector<std::pair<int, int>> got;
    for (const auto& e : rig.Events()) {
      EXPECT_EQ(e.Address, c.target);
      got.emplace_back(e.Kind, e.Code);
    }
    EXPECT_EQ(got, c.kindAndCode);
    EXPECT_EQ(rig.ctx.model.UpsTable[c.target].OkCnt, 1);
  }
  Rig rig;
  rig.d0.targets = {0};
  rig.Open();
  rig.Run(2);
  rig.Receive("A");
  EXPECT_EQ(rig.ctx.model.UpsTable[0].CommState, 2);  // address 0 never comes up
}

TEST(CommMasterSearch, SearchProbesItsRangeThenPollingResumes) {
  Rig rig(0, 2);
  FakeSearch search(rig.ctx.comm.PollState, 10, 11);
  rig.master->SetSearchHooks(&search);
  rig.master->SetSearchMode(true);
  rig.Open();
  std::vector<int> states;
  rig.Run(29, [&](int t) {
    states.push_back(rig.ctx.comm.PollState.SchedState);
    if (t == 1) rig.Receive("A-from 10");
    if (t == 14) rig.Receive("rejected from 11");
    if (t == 26) rig.Receive("A-late, search over");
  });
  ASSERT_EQ(rig.port.sent.size(), 3u);
  EXPECT_EQ(rig.port.sent[0].bytes[1], 10);
  EXPECT_EQ(rig.port.sent[1].bytes[1], 11);
  EXPECT_EQ(rig.port.sent[2].bytes[1], 5);  // the device list again
  EXPECT_EQ(states[0], 5);
  EXPECT_EQ(states[13], 5);
  EXPECT_EQ(states[26], 12);  // the end tick builds nothing
  EXPECT_EQ(states[27], 5);
  EXPECT_EQ(states[28], 2);
  EXPECT_EQ(rig.d0.builds, 3);
  EXPECT_EQ(search.found, (std::vector<int>{10}));
  EXPECT_FALSE(rig.master->SearchMode());
}

TEST(CommMasterSearch, SearchWithoutHooksEndsAtOnce) {
  Rig rig;
  rig.master->SetSearchMode(true);
  rig.Open();
  rig.Run(1);
  EXPECT_EQ(rig.ctx.comm.PollState.SchedState, 12);
  EXPECT_FALSE(rig.master->SearchMode());
  rig.Run(1);
  EXPECT_EQ(rig.ctx.comm.PollState.SchedState, 5);
}

TEST(CommMasterDataLog, SamplesEveryRecIntervalPlusOneTicks) {
  Rig rig;  // port closed: sampling does not depend on it
  rig.ctx.settings.RecInterval = 600;
  for (int a : {5, 6, 7}) {
    TEquipRec rec;
    rec.Addr = static_cast<uint8_t>(a);
    AppendDevice(rig.ctx.model.EquipList, rec);
  }
  rig.ctx.model.UpsTable[5].CommState = 0;
  rig.ctx.model.UpsTable[6].CommState = 1;  // communication error: left out
  rig.Run(1203);
  using S = std::vector<std::pair<int, int>>;
  EXPECT_EQ(rig.Samples(), (S{{0, 5}, {601, 5}, {1202, 5}}));
  EXPECT_EQ(rig.ctx.comm.RecDly, 600);
  EXPECT_EQ(rig.trace.recDly.back(), 600);

  rig.Run(100);  // through tick 1302
  rig.ctx.comm.RecDly = 0;
  rig.Run(2);
  EXPECT_EQ(rig.Samples().back(), (std::pair<int, int>{1303, 5}));
  EXPECT_EQ(rig.ctx.comm.RecDly, 599);
}

TEST(CommMasterDataLog, ZeroIntervalNeverSamples) {
  Rig rig;
  rig.ctx.settings.RecInterval = 0;
  TEquipRec rec;
  rec.Addr = 5;
  AppendDevice(rig.ctx.model.EquipList, rec);
  rig.ctx.model.UpsTable[5].CommState = 0;
  rig.Run(50);
  EXPECT_TRUE(rig.Samples().empty());
  EXPECT_EQ(rig.ctx.comm.RecDly, 0);
}

TEST(CommMasterTick, DebugValuesAndTraceFollowTheTick) {
  Rig rig;
  rig.Open();
  rig.Run(3);
  EXPECT_EQ(rig.ctx.comm.DbgVar[1], 100);
  EXPECT_EQ(rig.ctx.comm.DbgVar[11], 3);
  EXPECT_EQ(rig.trace.refreshes, 0);
  EXPECT_TRUE(rig.trace.tx.empty());  // the frame of tick 1 went out while the trace was hidden
  EXPECT_EQ(rig.trace.recDly.size(), 3u);

  rig.ctx.comm.TraceShown = kFlagOn;
  rig.Run(12);  // tick 14 sends again
  EXPECT_EQ(rig.trace.refreshes, 12);
  ASSERT_EQ(rig.trace.tx.size(), 1u);
  EXPECT_EQ(rig.trace.tx[0], rig.port.sent.back().bytes);
}

TEST(CommMasterSend, RefusedFramesStillCount) {
  Rig rig;  // port closed: the port refuses
  const uint8_t frame[] = {1, 2, 3};
  rig.master->SendFrame(frame, 3);
  rig.master->SendFrame(frame, 0);
  EXPECT_EQ(rig.ctx.comm.Debug.SendCnt, 2);
  EXPECT_EQ(rig.ctx.comm.TxLed, 3);
  EXPECT_EQ(rig.port.sent.size(), 2u);
}

TEST(CommMasterGuards, TargetAddressLowByteAndOversizedFrames) {
  {
    SCOPED_TRACE("low 8 bits of the target");
    Rig rig;
    rig.d0.targets = {0x105};
    rig.Open();
    rig.Run(2);
    EXPECT_EQ(rig.ctx.model.EquipList.CurAddr, 5);
    EXPECT_EQ(rig.ctx.model.UpsTable[5].PollCnt, 1);
  }
  {
    // Addresses 253..255 have no record: they are polled but never accounted.
    SCOPED_TRACE("target without a record");
    Rig rig;
    rig.d0.targets = {0xFD};
    rig.Open();
    rig.Run(2);
    rig.Receive("A");
    rig.Receive("reject");
    EXPECT_EQ(rig.ctx.model.EquipList.CurAddr, 253);
    EXPECT_EQ(rig.port.sent.size(), 1u);
    EXPECT_EQ(rig.ctx.comm.DbgCnt[0], 1);
    for (const auto& u : rig.ctx.model.UpsTable) {
      EXPECT_EQ(u.PollCnt + u.RecvCnt + u.OkCnt + u.FailCnt, 0) << int(u.Addr);
    }
    EXPECT_TRUE(rig.Events().empty());
  }
  {
    SCOPED_TRACE("frame longer than the transmit buffer");
    Rig rig;
    rig.d0.txLen = 300;
    rig.Open();
    rig.Run(2);
    ASSERT_EQ(rig.port.sent.size(), 1u);
    EXPECT_EQ(rig.port.sent[0].bytes.size(), 256u);
  }
}

TEST(CommMasterPort, ComNamesMapToDevices) {
  struct Case {
    const char* comName;
    const char* device;  // "" = the port stays closed
  } cases[] = {{"COM1", "/dev/ttyS0"},
               {"COM2", "/dev/ttyS1"},
               {"com3", "/dev/ttyS2"},
               {"COM10", "/dev/ttyS9"},
               {"COM99", "/dev/ttyS98"},
               {"COM0", ""},
               {"COM", ""},
               {"", ""},
               {"COMX", ""},
               {"COM1x", ""},
               {"COM00", ""},
               {"COM99999999999", "COM99999999999"},  // too long for a number: opened as named
               {"/dev/ttyUSB0", "/dev/ttyUSB0"},
               {"/dev/pts/7", "/dev/pts/7"}};
  for (const auto& c : cases) EXPECT_EQ(ComDeviceName(c.comName), c.device) << c.comName;
}

TEST(CommMasterPort, OpenCommAppliesSettings) {
  struct Case {
    uint8_t stopBits;
    uint8_t applied;
  } cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE("StopBits " + std::to_string(c.stopBits));
    Rig rig;
    TPortInfo& p = rig.ctx.settings.PortInfo;
    p.ComName = "COM3";
    p.BaudRate = 4800;
    p.ReadIntervalTimeout = 150;
    p.StopBits = c.stopBits;
    rig.master->OpenComm();
    ASSERT_TRUE(rig.master->CommIsOpen());
    ASSERT_EQ(rig.port.opens.size(), 1u);
    const SerialPortSettings& s = rig.port.opens[0];
    EXPECT_EQ(s.DeviceName, "/dev/ttyS2");
    EXPECT_EQ(s.BaudRate, 4800);
    EXPECT_EQ(s.ReadIntervalTimeout, 150);
    EXPECT_EQ(s.StopBits, c.applied);
    EXPECT_EQ(p.StopBits, c.applied);
  }
}

TEST(CommMasterPort, ReopeningClosesFirstAndANamelessPortStaysClosed) {
  Rig rig;
  rig.master->OpenComm();
  rig.master->OpenComm();
  EXPECT_EQ(rig.port.closes, 1);
  EXPECT_EQ(rig.port.opens.size(), 2u);

  rig.ctx.settings.PortInfo.ComName = "COM0";
  EXPECT_NO_THROW(rig.master->OpenComm());
  EXPECT_FALSE(rig.master->CommIsOpen());
  EXPECT_EQ(rig.port.opens.size(), 2u);
}

TEST(CommMasterPort, OpeningErrorReachesTheCaller) {
  Rig rig;
  rig.port.failWith = "Error opening serial port";
  try {
    rig.master->OpenComm();
    FAIL() << "no error";
  } catch (const SerialPortError& e) {
    EXPECT_STREQ(e.what(), "Error opening serial port");
  }
  EXPECT_FALSE(rig.master->CommIsOpen());
  rig.Run(20);
  EXPECT_TRUE(rig.port.sent.empty());
  EXPECT_EQ(rig.d0.builds, 0);
}

TEST(CommMasterPort, ClosingKeepsTheOutstandingRequest) {
  Rig rig(0, 2);
  rig.Open();
  rig.Run(3);  // built at 0, sent at 1, waiting
  rig.master->CloseComm();
  const TPollState before = rig.ctx.comm.PollState;
  rig.Run(20);
  EXPECT_EQ(rig.ctx.comm.PollState.WaitTicks, before.WaitTicks);
  EXPECT_EQ(rig.ctx.comm.PollState.Awaiting, kFlagOn);
  EXPECT_EQ(rig.port.sent.size(), 1u);

  rig.Open();  // the wait runs out (9 ticks left), the request is given up, the next is built
  rig.Run(12);
  EXPECT_EQ(rig.d0.builds, 2);
  EXPECT_EQ(rig.port.SentTicks(), (std::vector<int>{1, 34}));
}

// The real Modbus driver under the scheduler, with a unit that answers every read with zeros.
TEST(CommMasterWithModbus, AnsweringUnitComesUpAndIsSampled) {
  Rig rig(2, 2, true);
  rig.ctx.settings.RecInterval = 100;
  TEquipRec rec;
  rec.Addr = 3;
  AppendDevice(rig.ctx.model.EquipList, rec);
  rig.Open();
  int answers = 0;
  rig.Run(300, [&](int t) {
    if (!rig.SentAt(t)) return;
    const std::vector<uint8_t>& req = rig.port.sent.back().bytes;
    ASSERT_EQ(req.size(), 8u);
    ASSERT_EQ(ModbusCrc(req.data(), req.size()), 0);
    if (req[1] != 3 && req[1] != 4) return;
    const int count = (req[4] << 8) | req[5];
    std::vector<uint8_t> answer = {req[0], req[1], static_cast<uint8_t>(2 * count)};
    answer.resize(3 + 2 * count, 0);
    AppendModbusCrc(answer);
    rig.master->OnReceive(answer.data(), static_cast<int>(answer.size()));
    ++answers;
  });
  const TUpsInfo& u = rig.ctx.model.UpsTable[3];
  EXPECT_GT(answers, 10);
  EXPECT_EQ(rig.ctx.comm.DbgCnt[0], 0);
  EXPECT_EQ(rig.ctx.comm.Debug.AckOkCnt, answers);
  EXPECT_EQ(u.CommState, 0);
  // The rotation starts at address 0 (empty cursor), which answers once and logs nothing.
  EXPECT_EQ(rig.ctx.model.UpsTable[0].OkCnt, 1);
  EXPECT_EQ(u.OkCnt, answers - 1);
  const auto events = rig.Events();
  ASSERT_GE(events.size(), 2u);
  for (const auto& e : events) EXPECT_EQ(e.Address, 3);
  EXPECT_EQ(events[0].Code, 22);  // communication up
  EXPECT_EQ(events[1].Kind, 1);   // first operating state: standby
  EXPECT_EQ(events[1].Code, 1);
  const auto samples = rig.Samples();
  ASSERT_FALSE(samples.empty());
  EXPECT_EQ(samples.front().second, 3);
}

// The port closes an answer at its frame's end once the line stayed quiet for the inter-frame gap,
// where it used to wait for the full silence. The chunks differ only when bytes trail a whole
// frame after that gap: they then come as a chunk of their own. A byte within the gap still joins
// the frame's chunk, which the driver refuses, as it always did; a stray chunk after an accepted
// answer is refused on its own and changes nothing the answer set.
TEST(CommMasterWithModbus, BytesTrailingAWholeAnswerNeverTurnARefusalIntoAnAnswer) {
  struct Case {
    const char* name;
    bool trailing;  // a stray byte after the answer
    bool apart;     // in a chunk of its own (it came after the quiet time)
    bool answered;
  } cases[] = {
      {"answer alone", false, false, true},
      {"a byte within the quiet time joins the chunk: refused", true, false, false},
      {"a byte after the quiet time is a chunk of its own", true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(2, 2, true);
    TEquipRec rec;
    rec.Addr = 3;
    AppendDevice(rig.ctx.model.EquipList, rec);
    rig.Open();
    int okBefore = -1;
    bool answered = false;
    rig.Run(60, [&](int t) {
      if (okBefore >= 0 || !rig.SentAt(t)) return;
      const std::vector<uint8_t>& req = rig.port.sent.back().bytes;
      if (req[0] != 3 || (req[1] != 3 && req[1] != 4)) return;
      const int count = (req[4] << 8) | req[5];
      std::vector<uint8_t> answer = {req[0], req[1], static_cast<uint8_t>(2 * count)};
      answer.resize(3 + 2 * count, 0);
      AppendModbusCrc(answer);
      okBefore = rig.ctx.comm.Debug.AckOkCnt;
      const uint8_t stray = 0x55;
      if (c.trailing && !c.apart) answer.push_back(stray);
      answered = rig.master->OnReceive(answer.data(), static_cast<int>(answer.size()));
      if (c.trailing && c.apart) EXPECT_FALSE(rig.master->OnReceive(&stray, 1));
    });
    ASSERT_GE(okBefore, 0) << "no read request to unit 3";
    EXPECT_EQ(answered, c.answered);
    EXPECT_EQ(rig.ctx.comm.Debug.AckOkCnt - okBefore, c.answered ? 1 : 0);
  }
}

// Skipping the ticks that only count down, and running them at once before the next handler or
// the next tick that works, must give exactly what stepping every tick gives: the same frames at
// the same ticks, the same event and data log bytes, the same counters. Two masters run the same
// long random schedule of answers, silences, command requests, manual and search mode, Trace
// window, logging interval and port changes; the second one runs a tick on time only when
// IdleTicksAhead says it works.
void SkippingIdleTicksChangesNothing(bool fastPoll) {
  constexpr int kTicks = 30000;
  struct Action {
    bool answerSilent = false;
    int change = -1;  // -1 none; 0 manual, 1 search, 2 Trace, 3 interval, 4 port, 5 command, 6 junk
    int value = 0;
  };
  std::mt19937 rng(20261210);
  std::vector<Action> plan(kTicks);
  for (Action& a : plan) {
    a.answerSilent = rng() % 5 == 0;
    if (rng() % 300 == 0) a.change = static_cast<int>(rng() % 7);
    a.value = static_cast<int>(rng() % 1000);
  }

  Rig eager(2, 2, true), lazy(2, 2, true);
  FakeSearch eagerSearch(eager.ctx.comm.PollState, 1, 6), lazySearch(lazy.ctx.comm.PollState, 1, 6);
  for (Rig* r : {&eager, &lazy}) {
    for (uint8_t a : {1, 2, 3}) {
      TEquipRec rec;
      rec.Addr = a;
      AppendDevice(r->ctx.model.EquipList, rec);
    }
    r->ctx.settings.RecInterval = 50;
    r->ctx.settings.PortInfo.FastPoll = fastPoll;
    r->Open();
  }
  eager.master->SetSearchHooks(&eagerSearch);
  lazy.master->SetSearchHooks(&lazySearch);

  // What the units on the line and the windows do after tick t.
  auto handle = [&](Rig& r, int t) {
    const Action& a = plan[t];
    if (r.SentAt(t) && !a.answerSilent) {
      const std::vector<uint8_t>& req = r.port.sent.back().bytes;
      if (req.size() == 8 && req[0] != 3) {  // unit 3 never answers
        std::vector<uint8_t> answer;
        if (req[1] == 6) {
          answer = req;
        } else {
          const int count = (req[4] << 8) | req[5];
          answer = {req[0], req[1], static_cast<uint8_t>(2 * count)};
          answer.resize(3 + 2 * count, static_cast<uint8_t>(a.value));
          AppendModbusCrc(answer);
        }
        r.master->OnReceive(answer.data(), static_cast<int>(answer.size()));
      }
    }
    CommState& c = r.ctx.comm;
    // Each change lasts until the next one: manual mode, the Trace window and a closed port are
    // excursions from plain polling.
    if (a.change >= 0) {
      r.master->SetManualMode(false);
      c.TraceShown = kFlagOff;
      if (!r.master->CommIsOpen()) r.master->OpenComm();
    }
    switch (a.change) {
      case 0:
        r.master->SetManualMode(true);
        break;
      case 1:
        r.master->SetSearchMode(a.value % 2 == 0);
        break;
      case 2:
        c.TraceShown = kFlagOn;
        break;
      case 3:
        r.ctx.settings.RecInterval = std::array{0, 7, 50, 600}[a.value % 4];
        break;
      case 4:
        r.master->CloseComm();
        break;
      case 5:
        RequestSwitchOn(r.ctx.cmd, r.ctx.settings.PortInfo.Protocol,
                        static_cast<uint8_t>(1 + a.value % 3));
        break;
      case 6:
        r.Receive("junk");
        break;
    }
  };

  // The lazy master runs under the host's pacer, on a clock that reads tick t's moment plus a
  // little (ticks are counted from 1 there: the pacer's tick t + 1 is the eager master's tick t).
  int64_t lazyNow = 0;
  PollPacer pacer([&] { return lazyNow; }, [&] { lazy.master->Tick(); },
                  [&] { return lazy.master->IdleTicksAhead(); });
  pacer.Start();
  int64_t nextWake = 0;  // the next tick it must run on time
  int wakes = 0;
  auto catchUp = [&](int t) {
    lazyNow = (t + 1) * kTickNs + 1'000'000;
    pacer.CatchUp();
  };
  auto rearm = [&] {
    const int64_t work = pacer.NextWorkTick();
    nextWake = work == PollPacer::kNoWork ? INT64_MAX : work - 1;
  };
  for (int t = 0; t < kTicks; ++t) {
    for (Rig* r : {&eager, &lazy}) {
      r->tick = t;
      r->clock.Set(kStart + t * 0.1 / 86400.0);
    }
    eager.master->Tick();
    handle(eager, t);

    if (t == nextWake) {
      ++wakes;
      catchUp(t);
      rearm();
    }
    if (plan[t].change >= 0 || lazy.SentAt(t)) {
      catchUp(t);
      handle(lazy, t);
      rearm();
    }
  }
  catchUp(kTicks - 1);
  EXPECT_EQ(pacer.TicksRun(), kTicks);
  EXPECT_EQ(pacer.TicksDropped(), 0);

  ASSERT_EQ(lazy.port.sent.size(), eager.port.sent.size());
  for (size_t i = 0; i < eager.port.sent.size(); ++i) {
    ASSERT_EQ(lazy.port.sent[i].tick, eager.port.sent[i].tick) << "frame " << i;
    ASSERT_EQ(lazy.port.sent[i].bytes, eager.port.sent[i].bytes) << "frame " << i;
  }
  auto bytes = [](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>{std::istreambuf_iterator<char>(in), {}};
  };
  EXPECT_EQ(bytes(lazy.eventLog->FilePath()), bytes(eager.eventLog->FilePath()));
  EXPECT_EQ(bytes(lazy.dir / "Record" / DataLogFileName(kStart)),
            bytes(eager.dir / "Record" / DataLogFileName(kStart)));
  EXPECT_EQ(lazy.trace.recDly, eager.trace.recDly);
  EXPECT_EQ(lazy.trace.refreshes, eager.trace.refreshes);
  const CommState &a = eager.ctx.comm, &b = lazy.ctx.comm;
  EXPECT_EQ(b.DbgVar, a.DbgVar);
  EXPECT_EQ(b.DbgCnt, a.DbgCnt);
  EXPECT_EQ(b.RecDly, a.RecDly);
  EXPECT_EQ(std::tie(b.Debug.SendCnt, b.Debug.AckCnt, b.Debug.AckOkCnt, b.Debug.ErrCnt),
            std::tie(a.Debug.SendCnt, a.Debug.AckCnt, a.Debug.AckOkCnt, a.Debug.ErrCnt));
  const TPollState &pa = a.PollState, &pb = b.PollState;
  EXPECT_EQ(std::tie(pb.Awaiting, pb.WaitTicks, pb.SendCount, pb.SendLimit, pb.SchedState),
            std::tie(pa.Awaiting, pa.WaitTicks, pa.SendCount, pa.SendLimit, pa.SchedState));
  for (int addr : {1, 2, 3}) {
    const TUpsInfo &ua = eager.ctx.model.UpsTable[addr], &ub = lazy.ctx.model.UpsTable[addr];
    EXPECT_EQ(std::tie(ub.CommState, ub.FailCnt, ub.PollCnt, ub.RecvCnt, ub.OkCnt),
              std::tie(ua.CommState, ua.FailCnt, ua.PollCnt, ua.RecvCnt, ua.OkCnt))
        << "address " << addr;
  }
  // The schedule must have exercised what it claims to, and the skipping must have saved work.
  EXPECT_GT(eager.port.sent.size(), 1000u);
  EXPECT_LT(wakes, kTicks / 3) << "ticks run on time";
}

TEST(CommMasterIdleTicks, SkippingIdleTicksChangesNothing) {
  SkippingIdleTicksChangesNothing(false);
}

TEST(CommMasterIdleTicks, SkippingIdleTicksChangesNothingWithFastPolling) {
  SkippingIdleTicksChangesNothing(true);
}

// Fast polling with the fake driver (targets 5 and 6 in turn). The units answer the frames in the
// order they were sent as `answers` says: 'A' accepted, 'J' rejected, ' ' silent; later frames
// get no answer. An answer arrives within the tick of its frame.
TEST(CommMasterFast, Schedule) {
  struct Case {
    const char* name;
    int maxReSend;
    std::string answers;
    std::vector<std::pair<int, int>> sent;  // (tick, target) within the first 30 ticks
  } cases[] = {
      {"an accepted answer ends the wait: the next request goes out at once",
       2,
       "AAA",
       {{1, 5}, {1, 6}, {1, 5}, {1, 6}, {13, 5}, {25, 6}}},
      {"a silent unit is given up on after the wait; the next request is built in that step",
       2,
       "",
       {{1, 5}, {13, 6}, {25, 5}}},
      {"a rejected answer does not end the wait", 2, "J", {{1, 5}, {13, 6}, {25, 5}}},
      {"an unanswered request is sent again as with the fixed cadence, the answer to the second "
       "transmission ends its wait",
       3,
       " A",
       {{1, 5}, {12, 5}, {12, 6}, {23, 6}}},
      {"an answered request is not sent again", 3, "A", {{1, 5}, {1, 6}, {12, 6}, {24, 5}}},
      {"MaxReSend 1 transmits nothing, as with the fixed cadence", 1, "AA", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(0, c.maxReSend);
    rig.d0.targets = {5, 6};
    rig.ctx.settings.PortInfo.FastPoll = true;
    rig.Open();
    size_t handled = 0;
    rig.Run(30, [&](int) {
      // Frames sent while answering are answered too, within the same tick.
      while (handled < rig.port.sent.size()) {
        const size_t i = handled++;
        if (i >= c.answers.size() || c.answers[i] == ' ') continue;
        rig.Receive(c.answers[i] == 'A' ? "A-answer" : "junk");
      }
    });
    std::vector<std::pair<int, int>> got;
    for (const auto& f : rig.port.sent) got.emplace_back(f.tick, f.bytes[1]);
    EXPECT_EQ(got, c.sent);
    EXPECT_EQ(rig.ctx.model.UpsTable[5].PollCnt + rig.ctx.model.UpsTable[6].PollCnt,
              static_cast<int>(c.sent.size()));
  }
}

TEST(CommMasterFast, ManualModeAndSearch) {
  {
    SCOPED_TRACE("manual mode: the answer ends the wait, nothing new is built");
    Rig rig;
    rig.ctx.settings.PortInfo.FastPoll = true;
    rig.Open();
    rig.Run(2);
    rig.master->SetManualMode(true);
    rig.Receive("A-answer");
    EXPECT_EQ(rig.ctx.comm.PollState.Awaiting, 0);
    rig.Run(30);
    EXPECT_EQ(rig.port.SentTicks(), (std::vector<int>{1}));
    EXPECT_EQ(rig.d0.builds, 1);
  }
  {
    SCOPED_TRACE("search: an answer ends a probe's wait and the next address is probed at once");
    Rig rig;
    rig.ctx.settings.PortInfo.FastPoll = true;
    FakeSearch search(rig.ctx.comm.PollState, 10, 12);
    rig.master->SetSearchHooks(&search);
    rig.master->SetSearchMode(true);
    rig.Open();
    rig.Run(2);
    rig.Receive("A-from 10");
    rig.Receive("A-from 11");
    std::vector<int> probed;
    for (const auto& f : rig.port.sent) probed.push_back(f.bytes[1]);
    EXPECT_EQ(probed, (std::vector<int>{10, 11, 12}));
    EXPECT_EQ(search.found, (std::vector<int>{10, 11}));
  }
}

TEST(CommMasterFast, OpeningAsksThePortToEndAnswersByLengthWhateverTheCadence) {
  struct Case {
    bool fast;
    int protocol;
    AnswerCompleteFn complete;
  } cases[] = {
      {false, 2, &IsCompleteModbusAnswer},
      {false, 0, &IsCompleteAsciiAnswer},
      {true, 1, &IsCompleteAsciiAnswer},
      {true, 3, &IsCompleteModbusAnswer},
      {true, 7, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.fast) + " " + std::to_string(c.protocol));
    Rig rig(c.protocol);
    rig.ctx.settings.PortInfo.FastPoll = c.fast;
    rig.Open();
    ASSERT_EQ(rig.port.opens.size(), 1u);
    EXPECT_EQ(rig.port.opens[0].AnswerComplete, c.complete);
    EXPECT_EQ(rig.port.opens[0].AnswerQuietMs, c.complete ? AnswerQuietMs(9600, 1) : 0);
  }
}

// A stall of the thread (the clock jumps by seconds between two wake-ups) is met as a 100 ms
// timer meets it: the tick woken for runs once, late, and the ticks missed after it are dropped,
// never replayed; the countdowns go on from the late tick. The lazy master under the pacer must
// give exactly what a master stepped by such a timer gives: the same frames at the same moments,
// the same logs. The stall starts just after the last idle tick before a tick that works.
TEST(CommMasterIdleTicks, StallRunsOneLateTickAndDropsTheMissedOnes) {
  constexpr int64_t kMs = 1'000'000;
  constexpr int64_t kStallMs = 8000;
  constexpr int64_t kEndMs = 130'000;
  Rig timer(2, 2, true), lazy(2, 2, true);
  for (Rig* r : {&timer, &lazy}) {
    for (uint8_t a : {1, 2, 3}) {
      TEquipRec rec;
      rec.Addr = a;
      AppendDevice(r->ctx.model.EquipList, rec);
    }
    r->ctx.settings.RecInterval = 50;
    r->Open();
  }
  // The rig's tick number is the moment in milliseconds here.
  auto at = [](Rig& r, int64_t ms) {
    r.tick = static_cast<int>(ms);
    r.clock.Set(kStart + static_cast<double>(ms) / 86'400'000.0);
  };
  // Units 1 and 2 answer every read at once; unit 3 never answers.
  auto answer = [](Rig& r) {
    const std::vector<uint8_t>& req = r.port.sent.back().bytes;
    if (req.size() != 8 || req[0] == 3 || (req[1] != 3 && req[1] != 4)) return;
    const int count = (req[4] << 8) | req[5];
    std::vector<uint8_t> a = {req[0], req[1], static_cast<uint8_t>(2 * count)};
    a.resize(3 + 2 * count, static_cast<uint8_t>(req[0] * 7));
    AppendModbusCrc(a);
    r.master->OnReceive(a.data(), static_cast<int>(a.size()));
  };

  // The host: woken for the next tick that works (rounded up to the millisecond), the ticks due
  // run, an answer handled at once. One wake-up, the first after 60 s, comes kStallMs late.
  int64_t now = 0;
  PollPacer pacer([&] { return now; }, [&] { lazy.master->Tick(); },
                  [&] { return lazy.master->IdleTicksAhead(); });
  pacer.Start();
  int64_t stalledTick = -1, resumedMs = -1;
  size_t sentInStall = 0;
  for (;;) {
    const int64_t wait = pacer.NanosUntilNextWork();
    ASSERT_NE(wait, PollPacer::kNoWork);
    int64_t wake = now + (wait + kMs - 1) / kMs * kMs;
    const bool stall = stalledTick < 0 && wake >= 60'000 * kMs;
    if (stall) {
      stalledTick = pacer.NextWorkTick();
      wake += kStallMs * kMs;
      resumedMs = wake / kMs;
    }
    if (wake > kEndMs * kMs) break;
    now = wake;
    at(lazy, now / kMs);
    const size_t before = lazy.port.sent.size();
    pacer.CatchUp();
    if (stall) sentInStall = lazy.port.sent.size() - before;
    if (lazy.port.sent.size() != before) answer(lazy);
  }
  ASSERT_GT(stalledTick, 0);
  EXPECT_LE(sentInStall, 1u);
  EXPECT_EQ(pacer.Stalls(), 1);
  EXPECT_EQ(pacer.TicksDropped(), kStallMs / kPollIntervalMs);

  // The timer: every 100 ms until the tick before the stalled one, that tick when the thread
  // comes back, then every 100 ms from there.
  for (int64_t k = 1;; ++k) {
    const int64_t ms =
        k < stalledTick ? k * kPollIntervalMs : resumedMs + (k - stalledTick) * kPollIntervalMs;
    if (ms > kEndMs) break;
    at(timer, ms);
    const size_t before = timer.port.sent.size();
    timer.master->Tick();
    if (timer.port.sent.size() != before) answer(timer);
  }

  ASSERT_EQ(lazy.port.sent.size(), timer.port.sent.size());
  for (size_t i = 0; i < timer.port.sent.size(); ++i) {
    ASSERT_EQ(lazy.port.sent[i].tick, timer.port.sent[i].tick) << "frame " << i;
    ASSERT_EQ(lazy.port.sent[i].bytes, timer.port.sent[i].bytes) << "frame " << i;
  }
  // No two transmissions closer than the scheduler's own spacing (a build, then the send).
  for (size_t i = 1; i < lazy.port.sent.size(); ++i)
    EXPECT_GE(lazy.port.sent[i].tick - lazy.port.sent[i - 1].tick, 2 * kPollIntervalMs)
        << "frame " << i;
  auto bytes = [](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>{std::istreambuf_iterator<char>(in), {}};
  };
  EXPECT_EQ(bytes(lazy.eventLog->FilePath()), bytes(timer.eventLog->FilePath()));
  EXPECT_EQ(bytes(lazy.dir / "Record" / DataLogFileName(kStart)),
            bytes(timer.dir / "Record" / DataLogFileName(kStart)));
  EXPECT_GT(lazy.port.sent.size(), 60u);
}

// A clock that jumps while nothing is due to work (the port closed, logging off) runs the idle
// ticks, which change nothing, and drops nothing; the first transmission after the port opens
// comes at the scheduler's own spacing.
TEST(CommMasterIdleTicks, JumpWhileIdleThenPollingGoesOnAtItsSpacing) {
  Rig rig(0, 3);
  int64_t now = 0;
  PollPacer pacer([&] { return now; }, [&] { rig.master->Tick(); },
                  [&] { return rig.master->IdleTicksAhead(); });
  pacer.Start();
  EXPECT_EQ(pacer.NextWorkTick(), PollPacer::kNoWork);
  now = 30 * 1'000'000'000LL;
  pacer.CatchUp();
  EXPECT_EQ(pacer.TicksRun(), 300);
  EXPECT_EQ(pacer.TicksDropped(), 0);
  rig.Open();
  EXPECT_EQ(pacer.NextWorkTick(), 302);  // the build, then the transmission
  now += 5 * 1'000'000'000LL;            // a stall of 5 s before it
  pacer.CatchUp();
  EXPECT_EQ(rig.port.sent.size(), 1u);
  EXPECT_EQ(pacer.Stalls(), 1);
  // The silent unit's transmission is repeated after the wait, counted from the late tick.
  EXPECT_EQ(pacer.NextWorkTick(), pacer.TicksRun() + kReplyWaitTicks + 1);
  now += (kReplyWaitTicks + 1) * kTickNs;
  pacer.CatchUp();
  EXPECT_EQ(rig.port.sent.size(), 2u);
  EXPECT_EQ(pacer.Stalls(), 1);
}

}  // namespace
}  // namespace tessel
