#include "model/cmd_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>

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

TEST(CmdRequest, CommandsUseSlotOneWithTheirValueAndKeepCount) {
  for (uint8_t protocol : {2, 3}) {
    CmdRequests c = WithOldSlot1();
    EXPECT_EQ(RequestSwitchOn(c, protocol, 5), CmdResult::Queued);
    ExpectSlot(c.CmdSlots[1], 255, 5, 6, 20001, 28, "on");
    EXPECT_EQ(c.CmdSlots[1].Value, 1);
    c.CmdSlots[1].Pending = 0;  // the driver took it
    EXPECT_EQ(RequestSwitchOff(c, protocol, 7), CmdResult::Queued);
    ExpectSlot(c.CmdSlots[1], 255, 7, 6, 20002, 28, "off");
    EXPECT_EQ(c.CmdSlots[1].Value, 1);
    c.CmdSlots[1].Pending = 0;
    EXPECT_EQ(RequestSelfTest(c, protocol, 5, 600), CmdResult::Queued);
    ExpectSlot(c.CmdSlots[1], 255, 5, 6, 20003, 28, "self-test start");
    EXPECT_EQ(c.CmdSlots[1].Value, 600);
    EXPECT_EQ(c.CmdValue, 600);
    c.CmdSlots[1].Pending = 0;
    EXPECT_EQ(RequestSelfTest(c, protocol, 5, 0), CmdResult::Queued);
    EXPECT_EQ(c.CmdSlots[1].Value, 0);
    ExpectSlot(c.CmdSlots[0], 0, 0, 0, 0, 0, "slot 0 untouched");
  }
}

// Every filler refuses, and changes nothing, for address 0 (it would reach every unit on the bus)
// and under the ASCII protocol choices, which send no commands.
TEST(CmdRequest, RefusedRequestsChangeNothing) {
  using Filler = std::function<CmdResult(CmdRequests&, uint8_t protocol, uint8_t addr)>;
  const std::pair<const char*, Filler> fillers[] = {
      {"on", [](CmdRequests& c, uint8_t p, uint8_t a) { return RequestSwitchOn(c, p, a); }},
      {"off", [](CmdRequests& c, uint8_t p, uint8_t a) { return RequestSwitchOff(c, p, a); }},
      {"test", [](CmdRequests& c, uint8_t p, uint8_t a) { return RequestSelfTest(c, p, a, 60); }},
      {"param",
       [](CmdRequests& c, uint8_t p, uint8_t a) { return RequestParamWrite(c, p, a, 40005, 230); }},
  };
  const struct {
    uint8_t protocol, addr;
    CmdResult expected;
  } cases[] = {{2, 0, CmdResult::NoDevice},
               {3, 0, CmdResult::NoDevice},
               {0, 5, CmdResult::NeedsModbus},
               {1, 5, CmdResult::NeedsModbus},
               {4, 5, CmdResult::NeedsModbus}};
  for (const auto& [name, fill] : fillers) {
    for (const auto& k : cases) {
      CmdRequests c = WithOldSlot1();
      EXPECT_EQ(fill(c, k.protocol, k.addr), k.expected) << name << " " << int(k.protocol);
      ExpectSlot(c.CmdSlots[0], 0, 0, 0, 0, 0, name);
      ExpectSlot(c.CmdSlots[1], 0, 9, 3, 40001, 28, name);
      EXPECT_EQ(c.CmdValue, 0) << name;
    }
  }
}

TEST(CmdRequest, ParameterWriteSlotsByProtocolChoice) {
  // Choices 0 and 1 only remember the value.
  for (uint8_t protocol : {0, 1}) {
    CmdRequests c = WithOldSlot1();
    EXPECT_EQ(RequestParamWrite(c, protocol, 5, 40005, 230), CmdResult::NeedsModbus);
    EXPECT_EQ(c.PendingParams.VoltLevel, 230);
    ExpectSlot(c.CmdSlots[0], 0, 0, 0, 0, 0, "no slot 0");
    ExpectSlot(c.CmdSlots[1], 0, 9, 3, 40001, 28, "no slot 1");
  }
  {
    CmdRequests c = WithOldSlot1();
    EXPECT_EQ(RequestParamWrite(c, 2, 5, 40021, 100), CmdResult::Queued);
    EXPECT_EQ(c.PendingParams.BattCap, 100);
    ExpectSlot(c.CmdSlots[0], 255, 5, 6, 50000, 1, "unlock first");
    EXPECT_EQ(c.CmdSlots[0].Value, kUnlockValue);
    ExpectSlot(c.CmdSlots[1], 255, 5, 6, 40021, 1, "then the parameter");
    EXPECT_EQ(c.CmdSlots[1].Value, 100);
  }
  {
    CmdRequests c = WithOldSlot1();
    EXPECT_EQ(RequestParamWrite(c, 3, 5, 40021, 100), CmdResult::Queued);
    EXPECT_EQ(c.PendingParams.BattCap, 100);
    ExpectSlot(c.CmdSlots[0], 255, 5, 6, 40021, 1, "the parameter alone");
    EXPECT_EQ(c.CmdSlots[0].Value, 100);
    ExpectSlot(c.CmdSlots[1], 0, 9, 3, 40001, 28, "slot 1 untouched");
  }
}

// A value wider than its field is refused rather than cut; signed fields take the 16 bits.
TEST(CmdRequest, ParameterValuesMustFitTheirField) {
  CmdRequests c;
  EXPECT_EQ(RequestParamWrite(c, 3, 1, 40002, 0x1234), CmdResult::BadValue);
  EXPECT_EQ(RequestParamWrite(c, 3, 1, 40007, 300), CmdResult::BadValue);
  EXPECT_TRUE(SameParams(c.PendingParams, TUpsParams{}));
  ExpectSlot(c.CmdSlots[0], 0, 0, 0, 0, 0, "nothing queued");

  EXPECT_EQ(RequestParamWrite(c, 3, 1, 40013, 65491), CmdResult::Queued);
  EXPECT_EQ(c.PendingParams.BpsVMin, -45);
  c.CmdSlots[0].Pending = 0;
  EXPECT_EQ(RequestParamWrite(c, 3, 1, 40004, 0xFFFF), CmdResult::Queued);
  EXPECT_EQ(c.PendingParams.SetMode, -1);
  EXPECT_EQ(StoredValue(c, 40004), 0xFFFF);
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
    EXPECT_EQ(RequestParamWrite(c, 2, 5, reg, 1), CmdResult::BadRegister) << reg;
    EXPECT_TRUE(SameParams(c.PendingParams, TUpsParams{})) << reg;
    ExpectSlot(c.CmdSlots[0], 0, 0, 0, 0, 0, "nothing queued");
  }
}

// A request still waiting is never replaced: the operator is told to try again, and the value
// that goes out stays the one that was asked for, whatever the stores hold later.
TEST(CmdRequest, AWaitingRequestIsNeverReplaced) {
  CmdRequests c;
  ASSERT_EQ(RequestParamWrite(c, 2, 5, 40006, 50), CmdResult::Queued);
  c.PendingParams.FreqLevel = 60;  // the dialog shows the unit's value again
  EXPECT_EQ(RequestSwitchOff(c, 2, 6), CmdResult::SlotBusy);
  EXPECT_EQ(RequestParamWrite(c, 3, 5, 40006, 60), CmdResult::SlotBusy);
  ExpectSlot(c.CmdSlots[0], 255, 5, 6, 50000, 1, "unlock stays");
  ExpectSlot(c.CmdSlots[1], 255, 5, 6, 40006, 1, "parameter stays");
  EXPECT_EQ(c.CmdSlots[1].Value, 50);

  c.CmdSlots[0].Pending = 0;  // the unlock went out; the parameter still waits
  EXPECT_EQ(RequestParamWrite(c, 2, 5, 40006, 60), CmdResult::SlotBusy);
  EXPECT_EQ(RequestSelfTest(c, 2, 5, 10), CmdResult::SlotBusy);
  c.CmdSlots[1].Pending = 0;
  EXPECT_EQ(RequestSwitchOff(c, 2, 6), CmdResult::Queued);
  // Under choice 3 a parameter write needs only slot 0, so it may join a waiting command.
  EXPECT_EQ(RequestParamWrite(c, 3, 5, 40006, 60), CmdResult::Queued);
  EXPECT_EQ(c.CmdSlots[1].Reg, kRegSwitchOff);
}

TEST(CmdRequest, StoredValueByRegister) {
  CmdRequests c;
  c.CmdValue = 600;
  TUpsParams& p = c.PendingParams;
  p.SysID = 3;
  p.SetMode = -2;
  p.BpsVMin = -30;
  p.BattCap = 100;
  p.OptMode = 2;
  const std::pair<int, uint16_t> cases[] = {
      {20001, 600}, {20002, 600},    {20003, 600},    {50000, kUnlockValue},
      {40002, 3},   {40004, 0xFFFE}, {40013, 0xFFE2}, {40021, 100},
      {40029, 2},   {40028, 0},      {40010, 0},      {30001, 0}};
  for (const auto& [reg, value] : cases) EXPECT_EQ(StoredValue(c, reg), value) << reg;
}

}  // namespace
}  // namespace tessel
