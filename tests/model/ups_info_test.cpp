#include "model/ups_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tessel {
namespace {

std::vector<uint8_t> Le(uint64_t v, int n) {
  std::vector<uint8_t> b;
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return b;
}

std::vector<uint8_t> Le(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  return Le(bits, 8);
}

template <size_t N>
std::vector<uint8_t> Slice(const std::array<uint8_t, N>& b, size_t at, size_t n) {
  return std::vector<uint8_t>(b.begin() + at, b.begin() + at + n);
}

TEST(UpsInfoBlocks, StatusBlockLayout) {
  TUpsInfo u;
  u.CmmState1 = 0x0102;
  u.CmmState2 = 0x0304;
  u.CmmAlarm1 = 0x0506;
  u.CmmAlarm2 = 0x0708;
  u.InvState1 = 0x090A;
  u.InvState2 = 0x0B0C;
  u.InvAlarm1 = 0x0D0E;
  u.InvAlarm2 = 0x0F10;
  u.SysState = 0x1112;
  u.SysAlarm = 0x1314;
  u.UpsState = 0x15;
  u.Reserved = {0x16, 0x17, 0x18, 0x19, 0x1A};
  const std::array<uint8_t, kStatusBlockSize> expected = {
      0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07, 0x0A, 0x09, 0x0C, 0x0B, 0x0E,
      0x0D, 0x10, 0x0F, 0x12, 0x11, 0x14, 0x13, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A};
  EXPECT_EQ(StatusBlock(u), expected);
}

TUpsInfo MeasuredSample() {
  TUpsInfo u;
  u.InputV_A = 1.0;
  u.InputV_B = 220.5;
  u.InputV_C = 221.25;
  u.OutputV_A = 230.125;
  u.OutputV_B = 229.75;
  u.OutputV_C = -0.5;
  u.LoadPer_A = 35.0;
  u.LoadPer_B = 36.5;
  u.LoadPer_C = 37.25;
  u.OutputFreq = 49.98;
  u.DCInputV = 432.1;
  u.BattCapa = 0x0A0B0C0D;
  u.BattLivingTime = 0x1234;
  u.BattCurr1 = -12.5;
  u.BattCurr2 = 3.0e-7;
  // Fields beside the block must not leak into it.
  u.BattCurr1P = 99;
  u.BattVP = 98;
  u.CommState = 1;
  return u;
}

TEST(UpsInfoBlocks, MeasureBlockLayout) {
  const TUpsInfo u = MeasuredSample();
  const auto b = MeasureBlock(u);
  EXPECT_EQ(Slice(b, 0, 8), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));  // 1.0
  const double doubles[] = {u.InputV_A,  u.InputV_B,   u.InputV_C,  u.OutputV_A,
                            u.OutputV_B, u.OutputV_C,  u.LoadPer_A, u.LoadPer_B,
                            u.LoadPer_C, u.OutputFreq, u.DCInputV};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(Slice(b, 8 * i, 8), Le(doubles[i])) << "double " << i;
  EXPECT_EQ(Slice(b, 88, 4), (std::vector<uint8_t>{0x0D, 0x0C, 0x0B, 0x0A}));
  EXPECT_EQ(Slice(b, 92, 2), (std::vector<uint8_t>{0x34, 0x12}));
  EXPECT_EQ(Slice(b, 94, 2), (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(Slice(b, 96, 8), Le(-12.5));
  EXPECT_EQ(Slice(b, 104, 8), Le(3.0e-7));
}

TEST(UpsInfoBlocks, ApplyMeasureBlockRestoresTheBlockFields) {
  const auto block = MeasureBlock(MeasuredSample());
  TUpsInfo v;
  v.BattCurr1P = 7;
  v.RunState = 4;
  ApplyMeasureBlock(v, block.data());
  EXPECT_EQ(MeasureBlock(v), block);
  EXPECT_EQ(v.BattCapa, 0x0A0B0C0Du);
  EXPECT_EQ(v.BattLivingTime, 0x1234);
  EXPECT_EQ(v.OutputFreq, 49.98);
  EXPECT_EQ(v.BattCurr2, 3.0e-7);
  EXPECT_EQ(v.BattCurr1P, 7);  // not part of the block
  EXPECT_EQ(v.RunState, 4);
}

TEST(UpsTable, StartValues) {
  TUpsTable table{};
  table[7].InputV_A = 230;
  table[7].AlarmCount = 3;
  table[7].Params.BattNum = 32;
  table[200].OkCnt = 5;
  InitUpsTable(table);
  for (int a = 0; a < kTableSize; ++a) {
    const TUpsInfo& u = table[a];
    EXPECT_EQ(u.Addr, a);
    EXPECT_EQ(u.CommState, 2) << a;
    EXPECT_EQ(u.RunState, -1) << a;
    EXPECT_EQ(u.PrevRunState, -1) << a;
    EXPECT_EQ(u.FailCnt + u.PollCnt + u.RecvCnt + u.OkCnt + u.OkRate, 0) << a;
    EXPECT_EQ(u.AlarmCount + u.PrevAlarmCount, 0) << a;
    EXPECT_EQ(u.Params.BattNum, 0) << a;
    EXPECT_EQ(MeasureBlock(u), (std::array<uint8_t, kMeasureBlockSize>{})) << a;
    EXPECT_EQ(StatusBlock(u), (std::array<uint8_t, kStatusBlockSize>{})) << a;
  }
}

TEquipList ListOf(std::initializer_list<uint8_t> addrs) {
  TEquipList list;
  for (uint8_t a : addrs) {
    TEquipRec r;
    r.Addr = a;
    AppendDevice(list, r);
  }
  return list;
}

std::vector<int> Rotation(TEquipList& list, int steps) {
  std::vector<int> seen;
  for (int i = 0; i < steps; ++i) {
    NextDevice(list);
    seen.push_back(list.Cursor * 1000 + list.CurAddr);
  }
  return seen;
}

TEST(EquipList, NextDeviceRotation) {
  TEquipList empty;
  empty.Cursor = 3;
  empty.CurAddr = 9;
  EXPECT_EQ(Rotation(empty, 2), (std::vector<int>{0, 0}));

  TEquipList one = ListOf({17});
  EXPECT_EQ(Rotation(one, 3), (std::vector<int>{1017, 1017, 1017}));

  TEquipList three = ListOf({4, 9, 2});
  EXPECT_EQ(Rotation(three, 4), (std::vector<int>{1004, 2009, 3002, 1004}));

  // A deletion left the cursor past the end of the list.
  TEquipList shrunk = ListOf({4, 9});
  shrunk.Cursor = 3;
  EXPECT_EQ(Rotation(shrunk, 2), (std::vector<int>{1004, 2009}));
  shrunk.Cursor = 255;
  EXPECT_EQ(Rotation(shrunk, 1), (std::vector<int>{1004}));
}

TEST(EquipList, AppendToAFullListIsIgnored) {
  TEquipList list;
  for (int a = 1; a <= kMaxDevices; ++a) {
    TEquipRec r;
    r.Addr = static_cast<uint8_t>(a);
    ASSERT_TRUE(AppendDevice(list, r));
  }
  TEquipRec extra;
  extra.Addr = 1;
  extra.NodeIndex = 99;
  EXPECT_FALSE(AppendDevice(list, extra));
  EXPECT_EQ(list.Count, kMaxDevices);
  EXPECT_EQ(FindDevice(list, 252), 252);
  EXPECT_EQ(FindDevice(list, 1), 1);
  EXPECT_EQ(list.Items[1].NodeIndex, 0);
  EXPECT_EQ(FindDevice(ListOf({4, 9}), 2), 0);
}

TEST(UpsInfo, ClearLiveValuesClearsOnlyTheLiveFields) {
  TUpsInfo u = MeasuredSample();
  u.FailCnt = 3;
  u.PollCnt = 40;
  u.RecvCnt = 30;
  u.OkCnt = 20;
  u.OkRate = 50;
  u.CommState = 2;
  u.InputSwitch = u.OutputSwitch = u.BypassSwitch = u.MaintSwitch = 1;
  u.BattTest = 1;
  u.InputSupply = 2;
  u.UpsSupply = 2;
  u.RunState = 5;
  u.PrevRunState = 5;
  u.AlarmCodes.fill(33);
  u.AlarmCount = 80;
  u.PrevAlarmCodes.fill(44);
  u.PrevAlarmCount = 2;
  u.Params.BattNum = 32;
  u.BattVN = 97;
  u.BattCurr1N = 1;
  u.BattCurr2P = 2;
  u.BattCurr2N = 3;
  u.CmmState1 = u.CmmState2 = u.CmmAlarm1 = u.CmmAlarm2 = 0xFFFF;
  u.InvState1 = u.InvState2 = u.InvAlarm1 = u.InvAlarm2 = 0xFFFF;
  u.SysState = u.SysAlarm = 0xFFFF;
  u.UpsState = 0xFF;
  u.Reserved.fill(0xEE);

  ClearLiveValues(u);

  EXPECT_EQ(u.RunState, -1);
  EXPECT_EQ(u.PrevRunState, 0);  // so that the next answer reports a state change
  auto block = MeasureBlock(u);
  for (int i = 0; i < 96; ++i) EXPECT_EQ(block[i], 0) << "measure byte " << i;
  // The battery currents are kept.
  EXPECT_EQ(u.BattCurr1, -12.5);
  EXPECT_EQ(u.BattCurr2, 3.0e-7);
  const std::array<uint8_t, kStatusBlockSize> status = StatusBlock(u);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(status[i], 0) << "status byte " << i;
  EXPECT_EQ(status[25], 0xEE);  // the fifth reserved byte is kept
  EXPECT_EQ(u.AlarmCount, 0);
  for (int i = 0; i < 65; ++i) EXPECT_EQ(u.AlarmCodes[i], 0) << "entry " << i + 1;
  for (int i = 65; i < kMaxAlarms; ++i) EXPECT_EQ(u.AlarmCodes[i], 33) << "entry " << i + 1;
  EXPECT_EQ(u.InputSwitch + u.OutputSwitch + u.BypassSwitch + u.MaintSwitch, 0);
  EXPECT_EQ(u.InputSupply + u.UpsSupply, 0);

  // Kept: counters, state, self-test flag, battery group values, settings, previous alarms.
  EXPECT_EQ(u.CommState, 2);
  EXPECT_EQ(u.FailCnt, 3);
  EXPECT_EQ(u.PollCnt, 40);
  EXPECT_EQ(u.RecvCnt, 30);
  EXPECT_EQ(u.OkCnt, 20);
  EXPECT_EQ(u.OkRate, 50);
  EXPECT_EQ(u.BattTest, 1);
  EXPECT_EQ(u.BattVP, 98);
  EXPECT_EQ(u.BattVN, 97);
  EXPECT_EQ(u.BattCurr1P, 99);
  EXPECT_EQ(u.BattCurr1N, 1);
  EXPECT_EQ(u.BattCurr2P, 2);
  EXPECT_EQ(u.BattCurr2N, 3);
  EXPECT_EQ(u.Params.BattNum, 32);
  EXPECT_EQ(u.PrevAlarmCount, 2);
  EXPECT_EQ(u.PrevAlarmCodes[0], 44);
  EXPECT_EQ(u.PrevAlarmCodes[79], 44);
}

TEST(UpsParams, RegistersAreTruncatedToTheirFieldWidth) {
  struct Case {
    int reg;
    uint16_t in;
    uint16_t back;  // what the field gives when written out again
  };
  const Case cases[] = {
      {40002, 0x1234, 0x34},   {40003, 0x01FF, 0xFF},   {40004, 0xFFFF, 0xFFFF},
      {40005, 230, 230},       {40006, 0x0132, 0x32},   {40007, 4, 4},
      {40008, 0x0101, 0x01},   {40009, 0xABCD, 0xCD},   {40011, 10, 10},
      {40012, 0x010F, 0x0F},   {40013, 65491, 65491},   {40014, 0x8000, 0x8000},
      {40015, 0xFFFF, 0xFFFF}, {40016, 0x1234, 0x1234}, {40017, 2, 2},
      {40018, 235, 235},       {40019, 225, 225},       {40020, 175, 175},
      {40021, 100, 100},       {40022, 0x7777, 0x7777}, {40023, 20, 20},
      {40025, 480, 480},       {40027, 0x3000, 0x3000}, {40028, 0x0A0A, 0x0A0A},
      {40029, 0x0102, 0x02},
  };
  TUpsParams p;
  for (const Case& c : cases) {
    ASSERT_TRUE(SetParamByRegister(p, c.reg, c.in)) << c.reg;
    uint16_t v = 0;
    ASSERT_TRUE(GetParamByRegister(p, c.reg, v)) << c.reg;
    EXPECT_EQ(v, c.back) << c.reg;
  }
  // Each register reached its own field; nothing was overwritten by a later one.
  for (const Case& c : cases) {
    uint16_t v = 0;
    GetParamByRegister(p, c.reg, v);
    EXPECT_EQ(v, c.back) << c.reg;
  }
  EXPECT_EQ(p.BpsVMin, -45);
  EXPECT_EQ(p.OutputVFine, -32768);
  EXPECT_EQ(p.SetMode, 65535);  // read back zero-extended

  const TUpsParams before = p;
  for (int reg : {40000, 40001, 40010, 40024, 40026, 40030, 30001}) {
    uint16_t v = 77;
    EXPECT_FALSE(SetParamByRegister(p, reg, 1)) << reg;
    EXPECT_FALSE(GetParamByRegister(p, reg, v)) << reg;
  }
  for (const Case& c : cases) {
    uint16_t x = 0, y = 0;
    GetParamByRegister(before, c.reg, x);
    GetParamByRegister(p, c.reg, y);
    EXPECT_EQ(x, y) << c.reg;
  }
  EXPECT_EQ(before.SetMode, p.SetMode);
}

}  // namespace
}  // namespace tessel
