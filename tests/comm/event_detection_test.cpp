#include "comm/event_detection.h"

#include <gtest/gtest.h>

#include <vector>

#include "log/temp_folder.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

struct Ev {
  int address, kind, code, alarmState;
  bool operator==(const Ev&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Ev& e) {
  return os << "{" << e.address << "," << e.kind << "," << e.code << "," << e.alarmState << "}";
}

class EventDetectionTest : public ::testing::Test {
 protected:
  EventDetectionTest() { InitUpsTable(table); }

  std::vector<Ev> Events() {
    std::vector<Ev> out;
    for (const TEventRec& r : Records()) out.push_back({r.Address, r.Kind, r.Code, r.AlarmState});
    return out;
  }
  std::vector<TEventRec> Records() {
    return testing::ReadRecordFile(log.FilePath(), kEventRecSize, DecodeEventRec);
  }
  void SetAlarms(TUpsInfo& u, std::vector<int> now, std::vector<int> prev) {
    u.AlarmCount = static_cast<uint8_t>(now.size());
    for (size_t i = 0; i < now.size(); ++i) u.AlarmCodes[i] = now[i];
    u.PrevAlarmCount = static_cast<uint8_t>(prev.size());
    for (size_t i = 0; i < prev.size(); ++i) u.PrevAlarmCodes[i] = prev[i];
  }

  testing::TempFolder folder;
  TUpsTable table{};
  ManualClock clock{45292.5};
  TEventLog log{(folder / "Record").string(), (folder / "Backup").string(), "EventLog.dat", table,
                clock};
};

TEST_F(EventDetectionTest, ErrorAtFourthUnansweredSendLostWithEventAtTenth) {
  TUpsInfo& u = table[5];
  NoteAnswered(u, log);  // leaves the start state 2 with "communication upbuilt"
  EXPECT_EQ(u.CommState, 0);
  EXPECT_EQ(Events(), (std::vector<Ev>{{5, 0, 22, 255}}));

  const int stateAfterSend[] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 2, 2, 2};
  for (int i = 0; i < 12; ++i) {
    NoteSent(u, log);
    EXPECT_EQ(u.FailCnt, i + 1);
    EXPECT_EQ(u.CommState, stateAfterSend[i]) << "send " << i + 1;
  }
  EXPECT_EQ(Events(), (std::vector<Ev>{{5, 0, 22, 255}, {5, 0, 18, 255}}));
  EXPECT_EQ(Records()[1].StatusSnapshot, StatusBlock(u));

  for (int i = 0; i < 200; ++i) NoteSent(u, log);
  EXPECT_EQ(u.FailCnt, 100);
  EXPECT_EQ(Events().size(), 2u);

  // Back from lost: logged; back from error: silent.
  NoteAnswered(u, log);
  for (int i = 0; i < 5; ++i) NoteSent(u, log);
  ASSERT_EQ(u.CommState, 1);
  NoteAnswered(u, log);
  EXPECT_EQ(u.CommState, 0);
  EXPECT_EQ(u.FailCnt, 0);
  EXPECT_EQ(Events(), (std::vector<Ev>{{5, 0, 22, 255}, {5, 0, 18, 255}, {5, 0, 22, 255}}));
}

TEST_F(EventDetectionTest, NeverAnsweredDeviceAndAddressZeroLogNothing) {
  for (int i = 0; i < 30; ++i) NoteSent(table[8], log);
  EXPECT_EQ(table[8].CommState, 2);

  TUpsInfo& zero = table[0];
  NoteAnswered(zero, log);
  EXPECT_EQ(zero.CommState, 2);
  EXPECT_EQ(zero.FailCnt, 0);
  EXPECT_EQ(zero.OkCnt, 1);
  zero.RunState = 3;
  LogStateChange(zero, log);
  EXPECT_EQ(zero.PrevRunState, -1);
  SetAlarms(zero, {1, 2}, {3});
  LogAlarmChanges(zero, log, clock);
  EXPECT_EQ(zero.PrevAlarmCount, 1);
  for (int i = 0; i < 30; ++i) NoteSent(zero, log);

  EXPECT_TRUE(Events().empty());
}

TEST_F(EventDetectionTest, RateRoundsHalfToEvenAndRescalesAt10000) {
  struct Case {
    int ok, polls, rate;
  } const cases[] = {
      {0, 0, 0},   {1, 3, 33},        {2, 3, 67}, {1, 8, 12},  // 12.5 -> 12
      {3, 8, 38},                                              // 37.5 -> 38
      {1, 40, 2},                                              // 2.5 -> 2
      {3, 40, 8},                                              // 7.5 -> 8
      {5, 5, 100}, {9998, 9999, 100},
  };
  for (const auto& c : cases) {
    TUpsInfo u = table[3];
    u.OkCnt = c.ok;
    u.PollCnt = c.polls;
    NoteSent(u, log);
    EXPECT_EQ(u.OkRate, c.rate) << c.ok << "/" << c.polls;
    EXPECT_EQ(u.PollCnt, c.polls + 1);
    EXPECT_EQ(u.OkCnt, c.ok);
  }

  TUpsInfo u = table[3];
  u.OkCnt = 4999;
  u.PollCnt = 9999;
  NoteSent(u, log);
  EXPECT_EQ(u.OkRate, 50);  // 49.995 rounds up
  EXPECT_EQ(u.PollCnt, 10000);
  NoteSent(u, log);
  EXPECT_EQ(u.PollCnt, 100);
  EXPECT_EQ(u.OkCnt, 50);
  EXPECT_EQ(u.OkRate, 50);
}

TEST_F(EventDetectionTest, ReceivedCountStopsAt10000) {
  TUpsInfo& u = table[4];
  u.RecvCnt = 9998;
  for (int i = 0; i < 5; ++i) NoteReceived(u);
  EXPECT_EQ(u.RecvCnt, 10000);
}

TEST_F(EventDetectionTest, StateChangeLoggedOncePerNewState) {
  TUpsInfo& u = table[12];
  LogStateChange(u, log);  // -1 / -1: nothing yet
  u.RunState = 4;
  u.InvState1 = 0x0780;
  LogStateChange(u, log);
  LogStateChange(u, log);
  u.RunState = 5;
  LogStateChange(u, log);
  EXPECT_EQ(u.PrevRunState, 5);
  EXPECT_EQ(Events(), (std::vector<Ev>{{12, 1, 4, 255}, {12, 1, 5, 255}}));
  EXPECT_EQ(Records()[0].StatusSnapshot, StatusBlock(u));
}

TEST_F(EventDetectionTest, AlarmsAppearedThenClearedThenCopied) {
  struct Case {
    std::vector<int> now, prev;
    std::vector<Ev> events;
  } const cases[] = {
      {{7, 9, 1}, {3, 7}, {{6, 2, 9, 1}, {6, 2, 1, 1}, {6, 2, 3, 0}}},
      {{5}, {}, {{6, 2, 5, 1}}},  // first comparison: every active alarm appeared
      {{}, {4, 2}, {{6, 2, 4, 0}, {6, 2, 2, 0}}},
      {{2, 4}, {4, 2}, {}},  // same alarms in another order
      {{8, 8}, {8}, {}},     // a repeated code matches either occurrence
      {{}, {}, {}},
  };
  for (const auto& c : cases) {
    fs::remove(log.FilePath());
    TUpsInfo& u = table[6];
    SetAlarms(u, c.now, c.prev);
    clock.AdvanceSeconds(1);
    LogAlarmChanges(u, log, clock);
    EXPECT_EQ(Events(), c.events);
    for (const auto& r : Records()) {
      EXPECT_EQ(r.Time, clock.Now());
      EXPECT_EQ(r.StatusSnapshot, (std::array<uint8_t, kStatusBlockSize>{}));
    }
    EXPECT_EQ(u.PrevAlarmCount, c.now.size());
    EXPECT_EQ(std::vector<int>(u.PrevAlarmCodes.begin(), u.PrevAlarmCodes.begin() + c.now.size()),
              c.now);
    // Nothing changed since: the same answer again logs nothing.
    fs::remove(log.FilePath());
    LogAlarmChanges(u, log, clock);
    EXPECT_TRUE(Events().empty());
  }
}

}  // namespace
}  // namespace tessel
