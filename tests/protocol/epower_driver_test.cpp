#include "protocol/epower_driver.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "protocol/ascii_answer.h"
#include "protocol/func_unit.h"

namespace tessel {
namespace {

using testing::FrameAnswer;
using testing::InfoText;

// Eight characters of a single, least significant byte first.
std::string SingleHex(float v) {
  const auto bits = std::bit_cast<uint32_t>(v);
  std::string s;
  for (int i = 0; i < 4; ++i) s += WordToHex4((bits >> (8 * i)) & 0xFF).substr(2);
  return s;
}

class EpowerDriver : public ::testing::Test {
 protected:
  EpowerDriver() {
    InitUpsTable(ctx.model.UpsTable);
    rec().OkCnt = 4;  // past the start-up gate unless a test says otherwise
  }

  std::string Sent() const {
    return std::string(reinterpret_cast<const char*>(ctx.comm.TxBuf.data()),
                       static_cast<size_t>(drv.TxLen));
  }

  bool Answer(uint8_t cmd, const std::string& info) {
    drv.CurCmd = cmd;
    drv.TargetAddr = 1;
    const std::string frame = FrameAnswer("~11012A00", info);
    const std::vector<uint8_t> chunk(frame.begin(), frame.end());
    return drv.ParseAnswer(chunk.data(), static_cast<int>(chunk.size()));
  }

  std::vector<int32_t> Alarms() {
    return {rec().AlarmCodes.begin(), rec().AlarmCodes.begin() + rec().AlarmCount};
  }

  TUpsInfo& rec() { return ctx.model.UpsTable[1]; }

  Context ctx;
  TEpowerProtocol drv{ctx};
};

// Status "43" INFO with the given codes at 15, 19, 25, 29, 31, 33, 35.
std::string StatusInfo(const char* ups, const char* test, const char* input, const char* inSw,
                       const char* maintSw, const char* bpsSw, const char* outSw) {
  InfoText info(42);
  info.Put(15, ups).Put(19, test).Put(25, input).Put(29, inSw).Put(31, maintSw).Put(33, bpsSw);
  info.Put(35, outSw);
  return info.text;
}

// Alarm "44" INFO: summary bytes H0..H6 and alarm bytes B0..B55, all 0 unless set.
struct AlarmInfo {
  AlarmInfo() : info(148) {}
  AlarmInfo& H(int k, int v) {
    info.Put(15 + 2 * k, WordToHex4(v).substr(2));
    return *this;
  }
  AlarmInfo& B(int i, int v) {
    info.Put(31 + 2 * i, WordToHex4(v).substr(2));
    return *this;
  }
  InfoText info;
};

TEST_F(EpowerDriver, BuildsTheFiveRequestsByteForByte) {
  const char* expected[] = {"~11012A410000FDA5\r", "~11012A430000FDA3\r", "~11012A440000FDA2\r",
                            "~11012AE20000FD93\r", "~11012AE30000FD92\r"};
  for (uint8_t cmd = 1; cmd <= 5; ++cmd) {
    drv.CurCmd = cmd;
    drv.BuildFrame();
    EXPECT_EQ(drv.TxLen, 18);
    EXPECT_EQ(Sent(), expected[cmd - 1]);
  }
}

TEST_F(EpowerDriver, RotationUsesTheThreePhaseCommands) {
  for (uint8_t a : {3, 4}) {
    TEquipRec r;
    r.Addr = a;
    AppendDevice(ctx.model.EquipList, r);
  }
  ctx.model.UpsTable[3].CommState = 0;  // 4 stays lost
  const std::vector<std::pair<int, std::string>> expected = {
      {1, "41"}, {3, "41"}, {3, "43"}, {3, "44"}, {3, "E2"}, {3, "E3"}, {4, "41"}, {3, "41"},
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    drv.BuildRequest();
    EXPECT_EQ((std::pair<int, std::string>{drv.TargetAddr, Sent().substr(7, 2)}), expected[i]) << i;
  }
  ctx.comm.PollState.SearchMode = kFlagOn;
  ctx.comm.PollState.SearchAddr = 20;
  drv.BuildRequest();
  EXPECT_EQ(Sent(), "~11142A430000FD9F\r");
}

TEST_F(EpowerDriver, DecodesMeasuredSingles) {
  InfoText info(108);
  info.Put(15, SingleHex(380.0f)).Put(23, SingleHex(381.0f)).Put(31, SingleHex(0.0f));
  info.Put(39, SingleHex(220.5f)).Put(47, SingleHex(221.0f)).Put(55, SingleHex(-1.0f));
  info.Put(63, SingleHex(999.0f)).Put(71, SingleHex(999.0f)).Put(79, SingleHex(999.0f));
  info.Put(87, SingleHex(409.6f)).Put(95, SingleHex(49.95f));
  ASSERT_TRUE(Answer(1, info.text));
  EXPECT_NEAR(rec().InputV_A, 219.3931, 1e-4);
  EXPECT_DOUBLE_EQ(rec().InputV_A, 380.0 / std::sqrt(3.0));
  EXPECT_DOUBLE_EQ(rec().InputV_B, 381.0 / std::sqrt(3.0));
  EXPECT_EQ(rec().InputV_C, 0.0);
  EXPECT_EQ(rec().OutputV_A, 220.5);
  EXPECT_EQ(rec().OutputV_B, 221.0);
  EXPECT_EQ(rec().OutputV_C, -1.0);
  EXPECT_EQ(rec().DCInputV, static_cast<double>(409.6f));  // widened, not re-rounded
  EXPECT_EQ(rec().OutputFreq, static_cast<double>(49.95f));
}

TEST_F(EpowerDriver, StatusCodesGiveSupplySwitchesAndState) {
  struct Case {
    std::string info;
    int runState;
    uint8_t ups, test, input, inSw, maint, bps, out;
  };
  const Case cases[] = {
      {StatusInfo("01", "00", "E0", "E1", "E0", "E0", "E1"), 4, 1, 0, 1, 1, 0, 0, 1},
      {StatusInfo("01", "E0", "E1", "E1", "E0", "E1", "E1"), 6, 1, 1, 2, 1, 0, 1, 1},
      {StatusInfo("01", "E1", "E1", "E0", "E0", "E0", "E0"), 5, 1, 0, 2, 0, 0, 0, 0},
      {StatusInfo("01", "00", "E3", "E0", "E0", "E0", "E0"), 1, 1, 0, 0, 0, 0, 0, 0},
      {StatusInfo("02", "00", "E0", "E0", "E0", "E1", "E1"), 3, 2, 0, 1, 0, 0, 1, 1},
      {StatusInfo("E9", "00", "E0", "E0", "E0", "E0", "E0"), 1, 0, 0, 1, 0, 0, 0, 0},
      {StatusInfo("01", "00", "E0", "E0", "E1", "E0", "E0"), 10, 1, 0, 1, 0, 1, 0, 0},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Answer(2, c.info));
    const TUpsInfo& u = rec();
    EXPECT_EQ(u.RunState, c.runState) << c.info;
    EXPECT_EQ(u.UpsSupply, c.ups) << c.info;
    EXPECT_EQ(u.BattTest, c.test) << c.info;
    EXPECT_EQ(u.InputSupply, c.input) << c.info;
    EXPECT_EQ(u.InputSwitch, c.inSw) << c.info;
    EXPECT_EQ(u.MaintSwitch, c.maint) << c.info;
    EXPECT_EQ(u.BypassSwitch, c.bps) << c.info;
    EXPECT_EQ(u.OutputSwitch, c.out) << c.info;
  }
  // The raw status words belong to the other protocols and stay as they were.
  EXPECT_EQ(rec().CmmState1, 0);
  EXPECT_EQ(rec().InvState1, 0);
}

TEST_F(EpowerDriver, UnknownStatusCodesLeaveFieldsButClearBatteryTest) {
  ASSERT_TRUE(Answer(2, StatusInfo("02", "E0", "E1", "E1", "E1", "E1", "E1")));
  ASSERT_EQ(rec().BattTest, 1);
  // Codes compare case-sensitively: lowercase "e1" is not a known code.
  ASSERT_TRUE(Answer(2, StatusInfo("03", "e0", "e0", "e0", "XX", "00", "E2")));
  const TUpsInfo& u = rec();
  EXPECT_EQ(u.UpsSupply, 2);
  EXPECT_EQ(u.BattTest, 0);
  EXPECT_EQ(u.InputSupply, 2);
  EXPECT_EQ(u.InputSwitch, 1);
  EXPECT_EQ(u.MaintSwitch, 1);
  EXPECT_EQ(u.BypassSwitch, 1);
  EXPECT_EQ(u.OutputSwitch, 1);
  EXPECT_EQ(u.RunState, 10);
}

TEST_F(EpowerDriver, AlarmList) {
  const std::vector<int32_t> none;
  std::vector<int32_t> allBytes;
  for (int i = 0; i < 56; ++i)
    if (i != 35 && i != 48) allBytes.push_back(100 + i);
  for (int32_t c : {201, 202, 203, 204, 205, 206}) allBytes.push_back(c);
  std::vector<int32_t> maximum = allBytes;
  maximum.insert(maximum.begin() + 35, 135);
  maximum.insert(maximum.begin() + 48, 160);

  AlarmInfo all;
  for (int i = 0; i < 56; ++i) all.B(i, 1);
  for (int k = 0; k < 5; ++k) all.H(k, 0x80);
  all.H(5, 1).H(6, 0xFF);
  AlarmInfo max = all;
  max.B(35, 0xF1).B(48, 0xF1);

  struct Case {
    const char* what;
    AlarmInfo info;
    std::vector<int32_t> codes;
  };
  const Case cases[] = {
      {"all zero: B48 = 0 is an alarm", AlarmInfo(), {148}},
      {"B48 = F1", AlarmInfo().B(48, 0xF1), {160}},
      {"B48 other value", AlarmInfo().B(48, 0x01), none},
      {"B35 = 01 gives nothing", AlarmInfo().B(35, 0x01).B(48, 1), none},
      {"B35 = F1", AlarmInfo().B(35, 0xF1).B(48, 1), {135}},
      {"B0 and B55", AlarmInfo().B(0, 0xFF).B(55, 2).B(48, 1), {100, 155}},
      {"H5 = 2", AlarmInfo().H(5, 2).B(48, 1), {207}},
      {"H5 = F0", AlarmInfo().H(5, 0xF0).B(48, 1), {208}},
      {"H5 = E1", AlarmInfo().H(5, 0xE1).B(48, 1), {209}},
      {"H5 = 05", AlarmInfo().H(5, 0x05), {148, 210}},
      {"H6 unused", AlarmInfo().H(6, 0x55).B(48, 1), none},
      {"every byte set", all, allBytes},
      {"longest list", max, maximum},
  };
  for (const auto& c : cases) {
    rec().AlarmCodes.fill(-7);
    rec().AlarmCount = 77;  // replaced, not appended to
    ASSERT_TRUE(Answer(3, c.info.info.text)) << c.what;
    EXPECT_EQ(Alarms(), c.codes) << c.what;
  }
  EXPECT_EQ(maximum.size(), 62u);
  // The raw alarm words and the modular alarm numbering are not involved.
  EXPECT_EQ(rec().CmmAlarm1, 0);
}

TEST_F(EpowerDriver, StatusAndAlarmsWaitForFourValidAnswers) {
  rec().OkCnt = 3;
  const auto acks = ctx.comm.Debug.AckOkCnt;
  EXPECT_TRUE(Answer(2, StatusInfo("01", "E0", "E1", "E1", "E0", "E1", "E1")));
  EXPECT_TRUE(Answer(3, AlarmInfo().B(0, 1).info.text));
  EXPECT_EQ(ctx.comm.Debug.AckOkCnt, acks + 2);
  EXPECT_EQ(rec().RunState, -1);
  EXPECT_EQ(rec().UpsSupply, 0);
  EXPECT_EQ(rec().AlarmCount, 0);
  EXPECT_EQ(drv.CurCmd, 0);
  // Measurements are not gated.
  InfoText load(142);
  load.Put(113, SingleHex(35.0f));
  EXPECT_TRUE(Answer(4, load.text));
  EXPECT_EQ(rec().LoadPer_A, 35.0);

  rec().OkCnt = 4;
  EXPECT_TRUE(Answer(2, StatusInfo("01", "E0", "E1", "E1", "E0", "E1", "E1")));
  EXPECT_EQ(rec().RunState, 6);
  EXPECT_TRUE(Answer(3, AlarmInfo().B(0, 1).info.text));
  EXPECT_EQ(Alarms(), (std::vector<int32_t>{100, 148}));
}

TEST_F(EpowerDriver, DecodesLoadPerPhase) {
  InfoText info(142);
  info.Put(105, SingleHex(99.0f)).Put(113, SingleHex(12.5f)).Put(121, SingleHex(80.0f));
  info.Put(129, SingleHex(100.25f));
  ASSERT_TRUE(Answer(4, info.text));
  EXPECT_EQ(rec().LoadPer_A, 12.5);
  EXPECT_EQ(rec().LoadPer_B, 80.0);
  EXPECT_EQ(rec().LoadPer_C, 100.25);
}

TEST_F(EpowerDriver, BackupTimeRoundsHalfToEven) {
  const std::pair<float, uint16_t> cases[] = {
      {12.5f, 12}, {13.5f, 14},    {12.4f, 12},      {12.6f, 13}, {0.0f, 0},
      {-0.5f, 0},  {-1.0f, 65535}, {70000.0f, 4464}, {1e30f, 0},  // low 16 bits
  };
  for (const auto& [value, minutes] : cases) {
    rec().BattLivingTime = 999;
    InfoText info(126);
    info.Put(113, SingleHex(value));
    ASSERT_TRUE(Answer(5, info.text));
    EXPECT_EQ(rec().BattLivingTime, minutes) << value;
  }
}

TEST_F(EpowerDriver, BackupTimeKeepsLastValueForNonNumbers) {
  for (float v :
       {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    rec().BattLivingTime = 30;
    InfoText info(126);
    info.Put(113, SingleHex(v));
    ASSERT_TRUE(Answer(5, info.text));
    EXPECT_EQ(rec().BattLivingTime, 30);
  }
}

TEST_F(EpowerDriver, ShortInfoCountsAsAnsweredButDecodesNothing) {
  struct Case {
    uint8_t cmd;
    int minLen;
  };
  const Case cases[] = {{1, 108}, {2, 42}, {3, 148}, {4, 142}, {5, 126}};
  for (const auto& c : cases) {
    // 'E' everywhere: every float reads 0xEEEEEEEE, every code "EE", every byte non-zero.
    const std::string info(static_cast<size_t>(c.minLen - 18), 'E');
    const TUpsInfo before = rec();
    const int acks = ctx.comm.Debug.AckOkCnt;
    EXPECT_TRUE(Answer(c.cmd, info.substr(1))) << int(c.cmd);
    EXPECT_EQ(ctx.comm.Debug.AckOkCnt, acks + 1);
    EXPECT_EQ(StatusBlock(rec()), StatusBlock(before)) << int(c.cmd);
    EXPECT_EQ(MeasureBlock(rec()), MeasureBlock(before)) << int(c.cmd);
    EXPECT_EQ(rec().RunState, before.RunState) << int(c.cmd);
    EXPECT_EQ(rec().AlarmCount, before.AlarmCount) << int(c.cmd);
    EXPECT_EQ(rec().BattTest, before.BattTest) << int(c.cmd);
    EXPECT_TRUE(Answer(c.cmd, info)) << int(c.cmd);
  }
  // The full-length answers did decode.
  EXPECT_NE(rec().InputV_A, 0.0);
  EXPECT_EQ(rec().BattTest, 0);
  EXPECT_EQ(int(rec().AlarmCount),
            60);  // all bytes 0xEE: 54 codes (35 and 48 give none), 201..205, 210
  EXPECT_NE(rec().LoadPer_A, 0.0);
}

TEST_F(EpowerDriver, RejectsOtherVersion) {
  drv.CurCmd = 1;
  const std::string frame = FrameAnswer("~31012A00", "");
  EXPECT_FALSE(drv.ParseAnswer(reinterpret_cast<const uint8_t*>(frame.data()),
                               static_cast<int>(frame.size())));
  EXPECT_EQ(ctx.comm.Debug.ErrCnt[1], 1);
  EXPECT_EQ(drv.CurCmd, 1);
}

}  // namespace
}  // namespace tessel
