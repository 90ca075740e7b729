#include "model/state_derivation.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessel {
namespace {

struct RunStateCase {
  uint16_t s1, s2, s3, a1, a2, a3;
  int expected;
};

TEST(DeriveRunState, FirstMatchingRuleWins) {
  const RunStateCase cases[] = {
      {0x2000, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF, 9},  // EPO beats fault
      {0, 0x0008, 0, 0, 0, 0, 9},
      {0, 0, 0, 0, 0, 0, 1},
      {0, 0, 0, 0, 0, 0x0001, 1},  // bit 0 lies outside the fault mask
      {0, 0, 0, 0, 0, 0x0004, 11},
      {0, 0, 0, 0x0001, 0, 0, 11},
      {0, 0, 0, 0, 0x8000, 0, 11},
      {0, 0, 0, 0, 0x4000, 0, 1},
      {0, 0x2000, 0, 0, 0, 0, 10},
      {0x4400, 0x0780, 0, 0, 0, 0, 4},
      {0x4200, 0x0780, 0, 0, 0, 0, 6},
      {0x4000, 0x0780, 0, 0, 0, 0, 5},
      {0, 0x0780, 0, 0, 0, 0, 2},
      {0, 0x0480, 0x0800, 0, 0, 0, 8},
      {0, 0x0480, 0, 0, 0, 0, 3},
      {0, 0x0080, 0x0800, 0, 0, 0, 3},  // ECO needs InvState1 bit 10 too
      {0, 0x0200, 0, 0, 0, 0, 7},
      {0, 0x0400, 0, 0, 0, 0, 2},
      {0, 0x0600, 0, 0, 0, 0, 2},
      {0, 0x0100, 0, 0, 0, 0, 1},
      {0, 0x0300, 0, 0, 0, 0, 7},
      {0, 0x0500, 0, 0, 0, 0, 1},
  };
  for (const auto& c : cases) {
    TUpsInfo u;
    u.CmmState1 = c.s1;
    u.InvState1 = c.s2;
    u.InvState2 = c.s3;
    u.CmmAlarm1 = c.a1;
    u.CmmAlarm2 = c.a2;
    u.InvAlarm1 = c.a3;
    EXPECT_EQ(DeriveRunState(u), c.expected)
        << std::hex << "S1=" << c.s1 << " S2=" << c.s2 << " S3=" << c.s3;
  }
}

TEST(DeriveSwitches, ReadsTheSwitchAndSupplyBits) {
  TUpsInfo u;
  u.CmmState1 = 0x8800;  // input switch, input supplied from battery (bit 10 clear)
  u.InvState1 = 0xE080;  // bypass, output and maintenance switches; output from bypass
  DeriveSwitches(u);
  EXPECT_EQ(u.InputSwitch, 1);
  EXPECT_EQ(u.BypassSwitch, 1);
  EXPECT_EQ(u.OutputSwitch, 1);
  EXPECT_EQ(u.MaintSwitch, 1);
  EXPECT_EQ(u.InputSupply, 2);
  EXPECT_EQ(u.UpsSupply, 2);

  u.CmmState1 = 0x0C00;
  u.InvState1 = 0x0180;  // inverter wins over bypass
  DeriveSwitches(u);
  EXPECT_EQ(u.InputSwitch, 0);
  EXPECT_EQ(u.BypassSwitch, 0);
  EXPECT_EQ(u.InputSupply, 1);
  EXPECT_EQ(u.UpsSupply, 1);

  u.CmmState1 = 0x0400;  // mains bit without the supplied bit
  u.InvState1 = 0;
  DeriveSwitches(u);
  EXPECT_EQ(u.InputSupply, 0);
  EXPECT_EQ(u.UpsSupply, 0);
}

std::vector<int> Codes(const TUpsInfo& u) {
  return std::vector<int>(u.AlarmCodes.begin(), u.AlarmCodes.begin() + u.AlarmCount);
}

TEST(BuildAlarmList, NumbersBitsInAscendingOrder) {
  TUpsInfo u;
  u.CmmAlarm1 = 0x8001;
  u.SysAlarm = 0x0100;
  BuildAlarmList(u);
  EXPECT_EQ(Codes(u), (std::vector<int>{0, 15, 71}));

  // Bits that produce no code.
  TUpsInfo quiet;
  quiet.CmmAlarm2 = 0x003F;
  quiet.InvAlarm2 = 0x007F;
  quiet.SysAlarm = 0x00FF;
  BuildAlarmList(quiet);
  EXPECT_EQ(quiet.AlarmCount, 0);

  TUpsInfo all;
  all.CmmAlarm1 = all.CmmAlarm2 = all.InvAlarm1 = all.InvAlarm2 = all.SysAlarm = 0xFFFF;
  BuildAlarmList(all);
  ASSERT_EQ(all.AlarmCount, 59);
  EXPECT_EQ(all.AlarmCodes[15], 15);
  EXPECT_EQ(all.AlarmCodes[16], 16);
  EXPECT_EQ(all.AlarmCodes[25], 25);
  EXPECT_EQ(all.AlarmCodes[26], 32);
  EXPECT_EQ(all.AlarmCodes[50], 56);
  EXPECT_EQ(all.AlarmCodes[51], 64);
  EXPECT_EQ(all.AlarmCodes[58], 71);

  // A shorter list replaces a longer one.
  all.CmmAlarm1 = 0x0002;
  all.CmmAlarm2 = all.InvAlarm1 = all.InvAlarm2 = all.SysAlarm = 0;
  BuildAlarmList(all);
  EXPECT_EQ(Codes(all), (std::vector<int>{14}));
}

}  // namespace
}  // namespace tessel
