#include "model/cmd_request.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tessel {
namespace {

void ExpectSlot(const TCmdRequest& s, uint8_t pending, uint8_t addr, uint8_t func, int reg,
                int count, const char* what) {
  EXPECT_EQ(s.Pending, pending) << what;
  EXPECT_EQ(s.Addr, addr) << what;
  EXPECT_EQ(s.Func, func) << what;
  EXPECT_EQ(s.Reg, reg) << what;
  EXPECT_EQ(s.Count, count) << what;
}

bool SameParams(const TUpsParams& a, const TUpsParams& b) {
  for (int reg = 40001; reg <= 40030; ++reg) {
    uint16_t x = 0, y = 0;
    if (GetParamByRegister(a, reg, x) != GetParamByRegister(b, reg, y) || x != y) return false;
  }
  return a.SetMode == b.SetMode;
}

// A slot 1 left over from an earlier read request, so that a kept Count is visible.
CmdRequests WithOldSlot1() {
  CmdRequests c;
  c.CmdSlots[1] = {0, 9, 3, 40001, 28};
  return c;
}

TEST(CmdRequest, SwitchOnAndOffUseSlotOneAndKeepCount) {
  CmdRequests c = WithOldSlot1();
  RequestSwitchOn(c, 5);
  ExpectSlot(c.CmdSlots[1], 255, 5, 6, 20001, 28, "on");
  EXPECT_EQ(c.CmdValue, 1);
  // Off before the driver took the on request: only off remains.
  RequestSwitchOff(c, 7);
  ExpectSlot(c.CmdSlots[1], 255, 7, 6, 20002, 28, "off replaces on");
  EXPECT_EQ(c.CmdValue, 1);
  ExpectSlot(c.CmdSlots[0], 0, 0, 0, 0, 0, "slot 0 untouched");
}

TEST(CmdRequest, SelfTestOnlyUnderModbusChoices) {
  for (uint8_t protocol : {0, 1, 4}) {
    CmdRequests c = WithOldSlot1();
    EXPECT_FALSE(RequestSelfTest(c, protocol, 5, 60));
    ExpectSlot(c.CmdSlots[1], 0, 9, 3, 40001, 28, "nothing queued");
    EXPECT_EQ(c.CmdValue, 0);
  }
  for (uint8_t protocol : {2, 3}) {
    CmdRequests c = WithOldSlot1();
    EXPECT_TRUE(RequestSelfTest(c, protocol, 5, 600));
    ExpectSlot(c.CmdSlots[1], 255, 5, 6, 20003, 28, "start");
    EXPECT_EQ(c.CmdValue, 600);
    EXPECT_TRUE(RequestSelfTest(c, protocol, 5, 0));
    ExpectSlot(c.CmdSlots[1], 255, 5, 6, 20003, 28, "cancel");
    EXPECT_EQ(c.CmdValue, 0);
  }
}

TEST(CmdRequest, ParameterWriteSlotsByProtocolChoice) {
  // Choices 0 and 1 only remember the value.
  for (uint8_t protocol : {0, 1}) {
    CmdRequests c = WithOldSlot1();
    EXPECT_TRUE(RequestParamWrite(c, protocol, 5, 40005, 230));
    EXPECT_EQ(c.PendingParams.VoltLevel, 230);
    ExpectSlot(c.CmdSlots[0], 0, 0, 0, 0, 0, "no slot 0");
    ExpectSlot(c.CmdSlots[1], 0, 9, 3, 40001, 28, "no slot 1");
  }
  {
    CmdRequests c = WithOldSlot1();
    EXPECT_TRUE(RequestParamWrite(c, 2, 5, 40021, 100));
    EXPECT_EQ(c.PendingParams.BattCap, 100);
    ExpectSlot(c.CmdSlots[0], 255, 5, 6, 50000, 1, "unlock first");
    ExpectSlot(c.CmdSlots[1], 255, 5, 6, 40021, 1, "then the parameter");
  }
  {
    CmdRequests c = WithOldSlot1();
    EXPECT_TRUE(RequestParamWrite(c, 3, 5, 40021, 100));
    EXPECT_EQ(c.PendingParams.BattCap, 100);
    ExpectSlot(c.CmdSlots[0], 255, 5, 6, 40021, 1, "the parameter alone");
    ExpectSlot(c.CmdSlots[1], 0, 9, 3, 40001, 28, "slot 1 untouched");
  }
}

TEST(CmdRequest, ParameterValuesAreTruncatedToTheirField) {
  CmdRequests c;
  ASSERT_TRUE(RequestParamWrite(c, 2, 1, 40013, 65491));
  EXPECT_EQ(c.PendingParams.BpsVMin, -45);
  ASSERT_TRUE(RequestParamWrite(c, 2, 1, 40002, 0x1234));
  EXPECT_EQ(c.PendingParams.SysID, 0x34);
  ASSERT_TRUE(RequestParamWrite(c, 2, 1, 40004, 0xFFFF));
  EXPECT_EQ(c.PendingParams.SetMode, -1);
  uint16_t wire = 0;
  ASSERT_TRUE(GetParamByRegister(c.PendingParams, 40004, wire));
  EXPECT_EQ(wire, 0xFFFF);
}

TEST(CmdRequest, OnlyTheSettingRegistersAreWritable) {
  const int writable[] = {40002, 40004, 40005, 40006, 40007, 40008, 40011, 40012, 40013, 40014,
                          40015, 40017, 40018, 40019, 40020, 40021, 40023, 40025, 40027, 40029};
  int count = 0;
  for (int reg = 39990; reg <= 40040; ++reg) {
    const bool expected =
        std::find(std::begin(writable), std::end(writable), reg) != std::end(writable);
    EXPECT_EQ(IsWritableParam(reg), expected) << reg;
    count += expected;
  }
  EXPECT_EQ(count, 20);
  for (int reg : {40003, 40016, 40022, 40028, 20001, 50000}) {
    CmdRequests c;
    EXPECT_FALSE(RequestParamWrite(c, 2, 5, reg, 1)) << reg;
    EXPECT_TRUE(SameParams(c.PendingParams, TUpsParams{})) << reg;
    ExpectSlot(c.CmdSlots[0], 0, 0, 0, 0, 0, "nothing queued");
  }
}

TEST(CmdRequest, SlotOneHoldsWhicheverRequestCameLast) {
  CmdRequests c;
  RequestParamWrite(c, 2, 5, 40006, 50);
  RequestSwitchOff(c, 6);
  ExpectSlot(c.CmdSlots[0], 255, 5, 6, 50000, 1, "unlock stays");
  ExpectSlot(c.CmdSlots[1], 255, 6, 6, 20002, 1, "off replaced the parameter write");

  RequestSwitchOn(c, 6);
  RequestParamWrite(c, 2, 5, 40006, 60);
  ExpectSlot(c.CmdSlots[1], 255, 5, 6, 40006, 1, "parameter write replaced on");
  EXPECT_EQ(c.PendingParams.FreqLevel, 60);
}

}  // namespace
}  // namespace tessel
