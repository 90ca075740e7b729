// The poll scheduler with the real drivers on a line that misbehaves: noise, floods and answers
// split across chunks. Nothing may crash, and the device's communication state must follow what
// really arrived whole.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "comm/comm_master.h"
#include "fault_support.h"
#include "log/data_log.h"
#include "log/event_log.h"
#include "model/clock.h"
#include "model/context.h"
#include "protocol/ascii_frame.h"
#include "protocol/epower_driver.h"
#include "protocol/modbus_crc.h"
#include "protocol/modbus_driver.h"
#include "protocol/ydt_v31_driver.h"

namespace tessel {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kUnit = 3;

class LinePort : public SerialPort {
 public:
  void Open(const SerialPortSettings&) override { open = true; }
  void Close() override { open = false; }
  bool IsOpen() const override { return open; }
  bool Send(const uint8_t* data, int n) override {
    sent.emplace_back(data, data + n);
    return open;
  }
  bool open = false;
  std::vector<Bytes> sent;
};

// What the unit at kUnit answers to a request, whole, under the rig's protocol.
Bytes WholeAnswer(int protocol, const Bytes& request) {
  if (protocol == 0) {
    std::string f = BuildAnswerFrame(0x31, kUnit, 0, std::string(146, '0'));
    return Bytes(f.begin(), f.end());
  }
  Bytes a = {request[0], request[1]};
  if (request[1] == 6) {
    a.assign(request.begin(), request.begin() + 6);
  } else {
    const int count = request[4] << 8 | request[5];
    a.push_back(static_cast<uint8_t>(2 * count));
    for (int i = 0; i < count; ++i) {
      a.push_back(0x08);
      a.push_back(static_cast<uint8_t>(i));
    }
  }
  AppendModbusCrc(a);
  return a;
}

struct Rig {
  explicit Rig(int protocol) : protocol(protocol) {
    InitUpsTable(ctx.model.UpsTable);
    TEquipRec rec;
    rec.Addr = kUnit;
    AppendDevice(ctx.model.EquipList, rec);
    TPortInfo& p = ctx.settings.PortInfo;
    p.ComName = "COM1";
    p.BaudRate = 9600;
    p.Protocol = static_cast<uint8_t>(protocol);
    p.ReadIntervalTimeout = 200;
    p.MaxReSend = 2;
    master = std::make_unique<TCommMaster>(ctx, TCommMaster::Drivers{&v31, &epower, &modbus}, port,
                                           events, samples, clock);
    master->OpenComm();
  }

  // Runs ticks until `transmissions` requests have gone to the unit; each is answered by
  // `line`, which hands chunks to Deliver. Returns the unit's CommState after each of them.
  std::vector<int> Poll(int transmissions, const std::function<void(const Bytes&)>& line) {
    std::vector<int> states;
    for (int guard = 0; static_cast<int>(states.size()) < transmissions && guard < 100000;
         ++guard) {
      const size_t before = port.sent.size();
      clock.AdvanceSeconds(0.1);
      master->Tick();
      if (port.sent.size() == before) continue;
      if (ctx.model.EquipList.CurAddr != kUnit) continue;  // start-up probes of other addresses
      line(port.sent.back());
      states.push_back(Unit().CommState);
    }
    return states;
  }
  void Deliver(const Bytes& chunk) {
    master->OnReceive(chunk.data(), static_cast<int>(chunk.size()));
  }
  void AnswerWhole(const Bytes& req) { Deliver(WholeAnswer(protocol, req)); }

  const TUpsInfo& Unit() const { return ctx.model.UpsTable[kUnit]; }
  int EventsWithCode(int code) {
    int n = 0;
    std::string b = fault::ReadAll(events.FilePath());
    for (size_t off = 0; off + kEventRecSize <= b.size(); off += kEventRecSize) {
      TEventRec r = DecodeEventRec(reinterpret_cast<const uint8_t*>(b.data()) + off);
      if (r.Kind == 0 && r.Address == kUnit && r.Code == code) ++n;
    }
    return n;
  }

  int protocol;
  fault::TempDir dir;
  ManualClock clock{EncodeDateTime(2024, 5, 10, 12)};
  Context ctx;
  TYdtV31Protocol v31{ctx};
  TEpowerProtocol epower{ctx};
  TMModbus modbus{ctx};
  LinePort port;
  TEventLog events{dir / "Record", dir / "Backup", "EventLog.dat", ctx.model.UpsTable, clock};
  TDataLog samples{dir / "Record"};
  std::unique_ptr<TCommMaster> master;
  std::mt19937 rng{12345};
};

Bytes Noise(std::mt19937& rng, int maxLen) {
  Bytes b(std::uniform_int_distribution<int>(1, maxLen)(rng));
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

constexpr int kProtocols[] = {0, 2};  // ASCII (modular units) and Modbus

TEST(SerialLineFault, NoiseAroundWholeAnswersKeepsTheUnitCommunicating) {
  for (int protocol : kProtocols) {
    SCOPED_TRACE("protocol " + std::to_string(protocol));
    Rig rig(protocol);
    const auto states = rig.Poll(40, [&](const Bytes& req) {
      rig.Deliver(Noise(rig.rng, 300));
      rig.AnswerWhole(req);
      rig.Deliver(Noise(rig.rng, 300));
    });
    EXPECT_EQ(states, std::vector<int>(40, 0));
    EXPECT_EQ(rig.Unit().FailCnt, 0);
    EXPECT_EQ(rig.EventsWithCode(22), 1);  // established once
    EXPECT_EQ(rig.EventsWithCode(18), 0);  // never lost
  }
}

// Lines on which no answer arrives whole. Each must count as silence: the error state from the
// 4th transmission, lost at the 10th with one event, and back with the next whole answer.
TEST(SerialLineFault, AnswersThatNeverArriveWholeCountAsSilence) {
  struct Line {
    const char* name;
    std::function<void(Rig&, const Bytes&)> deliver;
  } lines[] = {
      {"noise bursts",
       [](Rig& r, const Bytes&) {
         for (int i = 0; i < 3; ++i) r.Deliver(Noise(r.rng, 400));
       }},
      {"5,000-byte flood of whole answers",
       [](Rig& r, const Bytes& req) {
         Bytes flood;
         const Bytes a = WholeAnswer(r.protocol, req);
         while (flood.size() < 5000) flood.insert(flood.end(), a.begin(), a.end());
         flood.resize(5000);
         r.Deliver(flood);
       }},
      {"5,000-byte flood of noise",
       [](Rig& r, const Bytes&) {
         Bytes flood(5000);
         for (auto& x : flood) x = static_cast<uint8_t>(r.rng());
         r.Deliver(flood);
       }},
      {"answers split across two chunks",
       [](Rig& r, const Bytes& req) {
         const Bytes a = WholeAnswer(r.protocol, req);
         const size_t cut = std::uniform_int_distribution<size_t>(1, a.size() - 1)(r.rng);
         r.Deliver(Bytes(a.begin(), a.begin() + cut));
         r.Deliver(Bytes(a.begin() + cut, a.end()));
       }},
      {"answers split byte by byte",
       [](Rig& r, const Bytes& req) {
         for (uint8_t b : WholeAnswer(r.protocol, req)) r.Deliver(Bytes{b});
       }},
  };
  const std::vector<int> expected = {0, 0, 0, 1, 1, 1, 1, 1, 1, 2, 2, 2};
  for (int protocol : kProtocols) {
    for (const Line& line : lines) {
      SCOPED_TRACE("protocol " + std::to_string(protocol) + ", " + line.name);
      Rig rig(protocol);
      rig.Poll(6, [&](const Bytes& req) { rig.AnswerWhole(req); });
      ASSERT_EQ(rig.Unit().CommState, 0);

      EXPECT_EQ(rig.Poll(12, [&](const Bytes& req) { line.deliver(rig, req); }), expected);
      EXPECT_EQ(rig.EventsWithCode(18), 1);

      EXPECT_EQ(rig.Poll(3, [&](const Bytes& req) { rig.AnswerWhole(req); }),
                (std::vector<int>{0, 0, 0}));
      EXPECT_EQ(rig.EventsWithCode(22), 2);  // established at start and again after the loss
    }
  }
}

}  // namespace
}  // namespace tessel
