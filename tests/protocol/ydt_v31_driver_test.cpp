#include "protocol/ydt_v31_driver.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <string>
#include <utility>
#include <vector>

#include "protocol/ascii_answer.h"
#include "protocol/func_unit.h"

namespace tessel {
namespace {

using testing::FrameAnswer;
using testing::InfoText;

class V31Driver : public ::testing::Test {
 protected:
  V31Driver() { InitUpsTable(ctx.model.UpsTable); }

  void AddDevice(uint8_t addr, uint8_t commState) {
    TEquipRec rec;
    rec.Addr = addr;
    AppendDevice(ctx.model.EquipList, rec);
    ctx.model.UpsTable[addr].CommState = commState;
  }

  std::string Sent() const {
    return std::string(reinterpret_cast<const char*>(ctx.comm.TxBuf.data()),
                       static_cast<size_t>(drv.TxLen));
  }

  // Builds the next request the way the scheduler does and returns (address, CID2).
  std::pair<int, std::string> Next() {
    drv.BuildRequest();
    return {drv.TargetAddr, Sent().substr(7, 2)};
  }

  // Hands an answer over in a buffer of exactly its size, as the scheduler's receive path does.
  bool Answer(const std::string& frame) {
    const std::vector<uint8_t> chunk(frame.begin(), frame.end());
    return drv.ParseAnswer(chunk.data(), static_cast<int>(chunk.size()));
  }
  // An answer from addr carrying info, for the outstanding command kind cmd.
  bool Answer(uint8_t cmd, const std::string& info, int addr = 1) {
    drv.CurCmd = cmd;
    drv.TargetAddr = addr;
    return Answer(FrameAnswer("~31" + WordToHex4(addr).substr(2) + "2A00", info));
  }

  TUpsInfo& rec(int addr = 1) { return ctx.model.UpsTable[addr]; }

  Context ctx;
  TYdtV31Protocol drv{ctx};
};

// Everything a decoder may write, for "nothing changed" checks.
std::vector<uint8_t> Snapshot(const TUpsInfo& u) {
  std::vector<uint8_t> s;
  for (uint8_t b : StatusBlock(u)) s.push_back(b);
  for (uint8_t b : MeasureBlock(u)) s.push_back(b);
  for (uint8_t b : {u.InputSwitch, u.OutputSwitch, u.BypassSwitch, u.MaintSwitch, u.BattTest,
                    u.InputSupply, u.UpsSupply, u.AlarmCount})
    s.push_back(b);
  auto put = [&](auto v) {
    const auto bytes = std::bit_cast<std::array<uint8_t, sizeof(v)>>(v);
    s.insert(s.end(), bytes.begin(), bytes.end());
  };
  put(u.RunState);
  put(u.AlarmCodes);
  for (double d : {u.BattCurr1P, u.BattCurr1N, u.BattCurr2P, u.BattCurr2N}) put(d);
  return s;
}

TEST_F(V31Driver, BuildsTheFiveRequestsByteForByte) {
  const char* expected[] = {"~31012A420000FDA2\r", "~31012A430000FDA1\r", "~31012A440000FDA0\r",
                            "~31012A800000FDA0\r", "~31012A820000FD9E\r"};
  for (uint8_t cmd = 1; cmd <= 5; ++cmd) {
    drv.CurCmd = cmd;
    drv.BuildFrame();
    EXPECT_EQ(drv.TxLen, 18);
    EXPECT_EQ(Sent(), expected[cmd - 1]);
    EXPECT_EQ(ctx.comm.TxBuf[18], 0);
  }
}

TEST_F(V31Driver, RotationAsksEachDeviceItsKindsThenMovesOn) {
  AddDevice(5, 0);
  AddDevice(7, 2);  // lost
  AddDevice(6, 0);
  const std::vector<std::pair<int, std::string>> expected = {
      {1, "42"},  // initial target, not in the list and lost: one kind
      {5, "42"},
      {5, "43"},
      {5, "44"},
      {5, "80"},
      {5, "82"},
      {7, "42"},  // lost device: one request
                  // per visit
      {6, "42"},
      {6, "43"},
      {6, "44"},
      {6, "80"},
      {6, "82"},
      {5, "42"},
      {5, "43"},
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Next(), expected[i]) << "request " << i;
    EXPECT_EQ(drv.TxLen, 18);
    EXPECT_EQ(drv.CurCmd, ctx.comm.PollState.StepIndex);
  }
}

TEST_F(V31Driver, FirstRequestGoesToAddressOneEvenWhenCommunicating) {
  AddDevice(1, 0);
  AddDevice(2, 0);
  std::vector<std::pair<int, std::string>> seen;
  for (int i = 0; i < 16; ++i) seen.push_back(Next());
  // Address 1 gets a full cycle as the initial target, then again as the list's first entry.
  const char* kinds[] = {"42", "43", "44", "80", "82"};
  for (int i = 0; i < 15; ++i)
    EXPECT_EQ(seen[i], (std::pair<int, std::string>{i < 10 ? 1 : 2, kinds[i % 5]}));
  EXPECT_EQ(seen[15], (std::pair<int, std::string>{1, "42"}));
}

TEST_F(V31Driver, EmptyListPollsAddressZero) {
  EXPECT_EQ(Next(), (std::pair<int, std::string>{1, "42"}));
  EXPECT_EQ(Next(), (std::pair<int, std::string>{0, "42"}));
  EXPECT_EQ(Next(), (std::pair<int, std::string>{0, "42"}));
  EXPECT_EQ(Sent(), "~31002A420000FDA3\r");
}

TEST_F(V31Driver, SearchProbesWithStatusRequestAndLeavesRotationAlone) {
  AddDevice(5, 0);
  Next();
  Next();  // (5, "42")
  auto& poll = ctx.comm.PollState;
  poll.SearchMode = kFlagOn;
  for (uint8_t addr : {9, 10}) {
    poll.SearchAddr = addr;
    EXPECT_EQ(Next(), (std::pair<int, std::string>{addr, "43"}));
    EXPECT_EQ(poll.StepIndex, 1);
    EXPECT_EQ(ctx.model.EquipList.Cursor, 1);
  }
}

TEST_F(V31Driver, ManualModeBuildsNothingAndKeepsTheLastFrame) {
  Next();
  const std::string before = Sent();
  ctx.comm.PollState.ManualMode = kFlagOn;
  ctx.comm.TxBuf[30] = 0x55;
  drv.BuildRequest();
  EXPECT_EQ(drv.TxLen, 18);
  EXPECT_EQ(Sent(), before);
  EXPECT_EQ(ctx.comm.TxBuf[30], 0x55);
  EXPECT_EQ(ctx.comm.PollState.StepIndex, 1);
}

TEST_F(V31Driver, StaleStepIndexFromAnotherDriverRestartsTheCycle) {
  AddDevice(5, 0);
  rec(1).CommState = 0;
  ctx.comm.PollState.StepIndex = 255;
  EXPECT_EQ(Next(), (std::pair<int, std::string>{5, "42"}));
}

TEST_F(V31Driver, DecodesMeasurements) {
  InfoText info(64);
  info.Put(15, "55F0").Put(19, "55fa").Put(23, "5604");  // 220.00, 220.10, 220.20
  info.Put(27, "5622").Put(31, "562C").Put(35, "FFFF");  // 220.50, 220.60, 655.35
  info.Put(39, "9999").Put(47, "9999");                  // not read
  info.Put(51, "A410").Put(55, "1388");                  // 420.00, 50.00
  ASSERT_TRUE(Answer(1, info.text));
  EXPECT_DOUBLE_EQ(rec().InputV_A, 220.0);
  EXPECT_DOUBLE_EQ(rec().InputV_B, 220.1);
  EXPECT_DOUBLE_EQ(rec().InputV_C, 220.2);
  EXPECT_DOUBLE_EQ(rec().OutputV_A, 220.5);
  EXPECT_DOUBLE_EQ(rec().OutputV_B, 220.6);
  EXPECT_DOUBLE_EQ(rec().OutputV_C, 655.35);
  EXPECT_DOUBLE_EQ(rec().DCInputV, 420.0);
  EXPECT_DOUBLE_EQ(rec().OutputFreq, 50.0);
  EXPECT_EQ(drv.CurCmd, 0);
  EXPECT_EQ(ctx.comm.Debug.AckOkCnt, 1);
}

TEST_F(V31Driver, DecodesStatusThenDerivesStateAndSwitches) {
  struct Case {
    const char *ups, *cmm1, *inv1, *inv2, *sys;
    int runState;
    uint8_t input, bypass, output, maint, inSupply, upsSupply;
  };
  const Case cases[] = {
      // online: inverter output, mains supply, all switches closed but the maintenance one
      {"12", "CC00", "C780", "0800", "AB", 4, 1, 1, 1, 0, 1, 1},
      // maintenance bypass wins over the other status bits when no fault is set
      {"00", "CE00", "2780", "0000", "00", 10, 1, 0, 0, 1, 1, 1},
      {"00", "0000", "0000", "0000", "ff", 1, 0, 0, 0, 0, 0, 0},
      {"00", "2000", "2000", "0000", "00", 9, 0, 0, 0, 1, 0, 0},  // EPO beats maintenance
  };
  for (const auto& c : cases) {
    InfoText info(40);
    info.Put(19, c.ups).Put(21, c.cmm1).Put(25, c.inv1).Put(29, c.inv2).Put(33, c.sys);
    ASSERT_TRUE(Answer(2, info.text)) << c.cmm1;
    const TUpsInfo& u = rec();
    EXPECT_EQ(u.UpsState, HexToInt(c.ups, 2));
    EXPECT_EQ(u.CmmState1, HexToInt(c.cmm1, 4));
    EXPECT_EQ(u.InvState1, HexToInt(c.inv1, 4));
    EXPECT_EQ(u.InvState2, HexToInt(c.inv2, 4));
    EXPECT_EQ(u.SysState, HexToInt(c.sys, 2));
    EXPECT_EQ(u.RunState, c.runState) << c.cmm1 << " " << c.inv1;
    EXPECT_EQ(u.InputSwitch, c.input);
    EXPECT_EQ(u.BypassSwitch, c.bypass);
    EXPECT_EQ(u.OutputSwitch, c.output);
    EXPECT_EQ(u.MaintSwitch, c.maint);
    EXPECT_EQ(u.InputSupply, c.inSupply);
    EXPECT_EQ(u.UpsSupply, c.upsSupply);
  }
}

TEST_F(V31Driver, DecodesAlarmsIntoTheAlarmList) {
  InfoText info(56);
  info.Put(33, "8001").Put(37, "0040").Put(41, "0004").Put(45, "0080").Put(49, "FF");
  ASSERT_TRUE(Answer(3, info.text));
  const TUpsInfo& u = rec();
  EXPECT_EQ(u.CmmAlarm1, 0x8001);
  EXPECT_EQ(u.CmmAlarm2, 0x0040);
  EXPECT_EQ(u.InvAlarm1, 0x0004);
  EXPECT_EQ(u.InvAlarm2, 0x0080);
  EXPECT_EQ(u.SysAlarm, 0xFF);  // two characters: the codes of its high byte never arise
  const std::vector<int32_t> codes(u.AlarmCodes.begin(), u.AlarmCodes.begin() + u.AlarmCount);
  EXPECT_EQ(codes, (std::vector<int32_t>{0, 15, 25, 45, 56}));
}

TEST_F(V31Driver, DecodesLoadAndBatteryCurrents) {
  InfoText info(164);
  info.Put(95, "0032").Put(99, "0033").Put(103, "0064");
  info.Put(143, "03E8").Put(147, "0064").Put(151, "00C8").Put(155, "0001");
  ASSERT_TRUE(Answer(4, info.text));
  const TUpsInfo& u = rec();
  EXPECT_EQ(u.LoadPer_A, 50.0);
  EXPECT_EQ(u.LoadPer_B, 51.0);
  EXPECT_EQ(u.LoadPer_C, 100.0);
  EXPECT_DOUBLE_EQ(u.BattCurr1P, 10.0);
  EXPECT_DOUBLE_EQ(u.BattCurr1N, 1.0);
  EXPECT_DOUBLE_EQ(u.BattCurr2P, 2.0);
  EXPECT_DOUBLE_EQ(u.BattCurr2N, 0.01);
  EXPECT_DOUBLE_EQ(u.BattCurr1, 11.0);
  EXPECT_DOUBLE_EQ(u.BattCurr2, 2.01);
}

TEST_F(V31Driver, DecodesBatteryTimeAndCapacity) {
  InfoText info(48);
  info.Put(35, "00F0").Put(39, "0055");
  ASSERT_TRUE(Answer(5, info.text));
  EXPECT_EQ(rec().BattLivingTime, 240);
  EXPECT_EQ(rec().BattCapa, 85u);
}

TEST_F(V31Driver, ShortInfoCountsAsAnsweredButDecodesNothing) {
  // Frame length each layout needs; one character less must leave the record untouched.
  const std::pair<uint8_t, int> minimum[] = {{1, 64}, {2, 40}, {3, 56}, {4, 164}, {5, 48}};
  for (const auto& [cmd, len] : minimum) {
    const std::string fs(static_cast<size_t>(len - 18), 'F');
    const auto before = Snapshot(rec());
    const int acks = ctx.comm.Debug.AckOkCnt;
    EXPECT_TRUE(Answer(cmd, fs.substr(1))) << int(cmd);
    EXPECT_EQ(Snapshot(rec()), before) << int(cmd);
    EXPECT_EQ(ctx.comm.Debug.AckOkCnt, acks + 1);
    EXPECT_EQ(drv.CurCmd, 0);
    EXPECT_TRUE(Answer(cmd, fs)) << int(cmd);
    EXPECT_NE(Snapshot(rec()), before) << int(cmd);
  }
}

TEST_F(V31Driver, AnswerIsDecodedByTheOutstandingKindNotItsShape) {
  InfoText info(64);
  info.Put(19, "00").Put(21, "2000").Put(25, "2000");  // status fields of a "43" answer
  ASSERT_TRUE(Answer(1, info.text));
  EXPECT_EQ(rec().CmmState1, 0);  // read with the "42" layout
  EXPECT_DOUBLE_EQ(rec().InputV_A, 0x0000 / 100.0);
  EXPECT_DOUBLE_EQ(rec().InputV_B, 0x0020 / 100.0);  // "0020" at 19..22
  EXPECT_EQ(rec().RunState, -1);

  // A second answer to the same request (CurCmd is 0 now) is accepted and decodes nothing.
  const auto before = Snapshot(rec());
  drv.TargetAddr = 1;
  EXPECT_TRUE(Answer(FrameAnswer("~31012A00", InfoText(64).Put(15, "FFFF").text)));
  EXPECT_EQ(Snapshot(rec()), before);
}

TEST_F(V31Driver, DecodesIntoTheAnsweringRecordOnly) {
  InfoText info(48);
  info.Put(35, "0010").Put(39, "0020");
  ASSERT_TRUE(Answer(5, info.text, 3));
  EXPECT_EQ(rec(3).BattLivingTime, 16);
  EXPECT_EQ(rec(1).BattLivingTime, 0);
}

TEST_F(V31Driver, RejectedAnswersChangeNoRecord) {
  AddDevice(1, 0);
  AddDevice(2, 0);
  InfoText info(48);
  info.Put(35, "0010").Put(39, "0020");
  const std::string fromTwo = FrameAnswer("~31022A00", info.text);
  const std::string rtn4 = FrameAnswer("~31012A04", info.text);
  const std::string version11 = FrameAnswer("~11012A00", info.text);
  std::string badSum = FrameAnswer("~31012A00", info.text);
  badSum[badSum.size() - 2] ^= 1;
  const std::pair<std::string, int> cases[] = {
      {fromTwo, 2}, {rtn4, 3}, {version11, 1}, {badSum, 5}};
  for (const auto& [frame, counter] : cases) {
    const auto one = Snapshot(rec(1)), two = Snapshot(rec(2));
    const TCommDebug before = ctx.comm.Debug;
    drv.CurCmd = 5;
    drv.TargetAddr = 1;
    EXPECT_FALSE(Answer(frame));
    EXPECT_EQ(ctx.comm.Debug.ErrCnt[counter], before.ErrCnt[counter] + 1);
    EXPECT_EQ(ctx.comm.Debug.AckOkCnt, before.AckOkCnt);
    EXPECT_EQ(Snapshot(rec(1)), one);
    EXPECT_EQ(Snapshot(rec(2)), two);
    EXPECT_EQ(drv.CurCmd, 5);  // still outstanding
  }
}

TEST_F(V31Driver, HandlesEmptyAndNullChunks) {
  EXPECT_FALSE(drv.ParseAnswer(nullptr, 0));
  const uint8_t tilde = '~';
  EXPECT_FALSE(drv.ParseAnswer(&tilde, 1));
  EXPECT_FALSE(drv.ParseAnswer(&tilde, -5));
  EXPECT_EQ(ctx.comm.Debug.ErrCnt[0], 2);
  EXPECT_EQ(ctx.comm.Debug.ErrCnt[1], 1);
}

}  // namespace
}  // namespace tessel
