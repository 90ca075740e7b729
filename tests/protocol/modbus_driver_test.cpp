#include "protocol/modbus_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/modbus_crc.h"

namespace tessel {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAre;

Bytes Hex(const std::string& text) {
  std::istringstream in(text);
  Bytes out;
  std::string byte;
  while (in >> byte) out.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
  return out;
}

// A read answer as a unit sends it: address, function, byte count, registers high byte first, CRC.
Bytes ReadAnswer(uint8_t addr, uint8_t func, const std::vector<uint16_t>& regs) {
  Bytes f = {addr, func, static_cast<uint8_t>(2 * regs.size())};
  for (uint16_t r : regs) {
    f.push_back(static_cast<uint8_t>(r >> 8));
    f.push_back(static_cast<uint8_t>(r & 0xFF));
  }
  AppendModbusCrc(f);
  return f;
}

Bytes WithCrc(Bytes f) {
  AppendModbusCrc(f);
  return f;
}

class ModbusDriverTest : public ::testing::Test {
 protected:
  ModbusDriverTest() { InitUpsTable(ctx.model.UpsTable); }

  void AddDevice(uint8_t addr, uint8_t commState) {
    TEquipRec rec;
    rec.Addr = addr;
    AppendDevice(ctx.model.EquipList, rec);
    if (addr <= kMaxAddr) ctx.model.UpsTable[addr].CommState = commState;
  }

  // One request as the scheduler takes it: build, then follow the target address.
  Bytes Build() {
    drv.BuildRequest();
    ctx.model.EquipList.CurAddr = static_cast<uint8_t>(drv.TargetAddr & 0xFF);
    return Bytes(ctx.comm.TxBuf.begin(), ctx.comm.TxBuf.begin() + drv.TxLen);
  }

  // Builds requests until the rotation asks addr for reg.
  void PollUntil(uint8_t addr, int reg) {
    for (int i = 0; i < 20; ++i) {
      Build();
      if (drv.Request().SlaveAddr == addr && drv.Request().Reg == reg) return;
    }
    FAIL() << "rotation never reached " << int(addr) << "/" << reg;
  }

  // Hands over exactly the answer's bytes, so a read past its end is an out-of-bounds read.
  bool Parse(const Bytes& answer) {
    auto copy = std::make_unique<uint8_t[]>(answer.size());
    std::copy(answer.begin(), answer.end(), copy.get());
    return drv.ParseAnswer(copy.get(), static_cast<int>(answer.size()));
  }

  TCmdRequest& Slot(int i) { return ctx.cmd.CmdSlots[i]; }
  // The two fillers as the control dialogs use them.
  void QueueSwitch(uint8_t addr, int reg) { Slot(1) = {255, addr, 6, reg, Slot(1).Count, 1}; }
  void QueueParamWrite(uint8_t protocol, uint8_t addr, int reg, uint16_t value) {
    if (protocol == 3) Slot(0) = {255, addr, 6, reg, 1, value};
    if (protocol == 2) {
      Slot(0) = {255, addr, 6, kRegUnlock, 1, kUnlockValue};
      Slot(1) = {255, addr, 6, reg, 1, value};
    }
  }

  TUpsInfo& Dev(int addr) { return ctx.model.UpsTable[addr]; }

  Context ctx;
  TMModbus drv{ctx};
};

TEST_F(ModbusDriverTest, RequestsMatchTheWireExamples) {
  AddDevice(1, 0);
  ctx.model.ModelCode = "ZEV305LB";
  // Start-up: the initial target address 0 gets step 1 before the rotation proper begins.
  EXPECT_EQ(Build(), Hex("00 04 75 30 00 0E 6A 1C"));
  EXPECT_EQ(Build(), Hex("01 04 75 30 00 0E 6B CD"));
  EXPECT_EQ(Build(), Hex("01 04 75 44 00 12 2A 1E"));
  EXPECT_EQ(Build(), Hex("01 04 75 80 00 0B AA 29"));
  EXPECT_EQ(Build(), Hex("01 03 9C 40 00 1C 6B 87"));
  EXPECT_EQ(Build(), Hex("01 03 9C 5C 00 01 6A 48"));

  QueueSwitch(1, kRegSwitchOn);
  EXPECT_EQ(Build(), Hex("01 06 4E 20 00 01 5E E8"));
  QueueParamWrite(2, 1, 40005, 230);
  EXPECT_EQ(Build(), Hex("01 06 C3 4F 5A A5 7E 82"));
  EXPECT_EQ(Build(), WithCrc(Hex("01 06 9C 44 00 E6")));
}

struct CycleCase {
  const char* model;
  int steps;  // requests per cycle for a communicating device
};

class ModbusCycleTest : public ModbusDriverTest, public ::testing::WithParamInterface<CycleCase> {};

TEST_P(ModbusCycleTest, CycleLengthFollowsModelCodeAndCommState) {
  AddDevice(1, 0);  // communicating
  AddDevice(2, 2);  // lost: only the first step
  ctx.model.ModelCode = GetParam().model;
  const int regs[] = {30001, 30021, 30081, 40001, 40029};

  std::vector<std::pair<int, int>> expected = {{0, 30001}};
  for (int i = 0; i < GetParam().steps; ++i) expected.push_back({1, regs[i]});
  expected.push_back({2, 30001});
  expected.push_back({1, 30001});
  for (const auto& [addr, reg] : expected) {
    Build();
    EXPECT_EQ(drv.Request().SlaveAddr, addr);
    EXPECT_EQ(drv.Request().Reg, reg);
    EXPECT_EQ(ctx.model.EquipList.CurAddr, addr);
  }
}

INSTANTIATE_TEST_SUITE_P(ModelCodes, ModbusCycleTest,
                         ::testing::Values(CycleCase{"ZEV305LB", 5}, CycleCase{"ZEV305", 4},
                                           CycleCase{"", 4}, CycleCase{"zev305lb", 4},
                                           CycleCase{"RTK8150", 4}),
                         [](const ::testing::TestParamInfo<CycleCase>& info) {
                           const std::string m = info.param.model;
                           return std::to_string(info.index) + "_" + (m.empty() ? "empty" : m);
                         });

TEST_F(ModbusDriverTest, EmptyListKeepsPollingAddressZeroWithTheFirstStep) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Build(), Hex("00 04 75 30 00 0E 6A 1C"));
    EXPECT_EQ(ctx.comm.PollState.StepIndex, 1);
  }
}

TEST_F(ModbusDriverTest, StepIndexLeftHighByAnotherDriverRestartsTheCycle) {
  AddDevice(1, 0);
  ctx.comm.PollState.StepIndex = 255;
  Build();
  EXPECT_EQ(ctx.comm.PollState.StepIndex, 1);
  EXPECT_EQ(drv.Request().Reg, 30001);
  EXPECT_EQ(drv.Request().SlaveAddr, 1);
}

TEST_F(ModbusDriverTest, SlotGoesAheadOfPollingWithoutMovingTheStep) {
  AddDevice(3, 0);
  AddDevice(5, 0);
  PollUntil(3, 30021);  // address 3, step 2
  ASSERT_EQ(ctx.comm.PollState.StepIndex, 2);

  Slot(4) = {255, 5, 6, kRegSwitchOff, 0, 1};
  EXPECT_EQ(Build(), WithCrc(Hex("05 06 4E 21 00 01")));
  EXPECT_EQ(Slot(4).Pending, 0);
  EXPECT_EQ(ctx.model.EquipList.CurAddr, 5);
  EXPECT_EQ(ctx.comm.PollState.StepIndex, 2);

  // The rotation carries on from step 3, addressed to the slot's device.
  Build();
  EXPECT_EQ(drv.Request().SlaveAddr, 5);
  EXPECT_EQ(drv.Request().Reg, 30081);
  EXPECT_EQ(ctx.comm.PollState.StepIndex, 3);
}

TEST_F(ModbusDriverTest, OnThenOffSendsOnlyOff) {
  AddDevice(1, 0);
  Build();
  QueueSwitch(1, kRegSwitchOn);
  QueueSwitch(1, kRegSwitchOff);
  EXPECT_EQ(Build(), WithCrc(Hex("01 06 4E 21 00 01")));
  Build();
  EXPECT_EQ(drv.Request().Func, 4);  // polling again
}

TEST_F(ModbusDriverTest, ParameterWriteAndSwitchUnderModbusChoice) {
  struct Case {
    const char* name;
    bool paramFirst;
    Bytes secondWrite;
  };
  const Case cases[] = {
      {"switch written last", true, WithCrc(Hex("01 06 4E 20 00 01"))},
      {"parameter written last", false, WithCrc(Hex("01 06 9C 44 00 E6"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ctx.cmd = CmdRequests{};
    if (c.paramFirst) {
      QueueParamWrite(2, 1, 40005, 230);
      QueueSwitch(1, kRegSwitchOn);
    } else {
      QueueSwitch(1, kRegSwitchOn);
      QueueParamWrite(2, 1, 40005, 230);
    }
    EXPECT_EQ(Build(), WithCrc(Hex("01 06 C3 4F 5A A5")));
    EXPECT_EQ(Build(), c.secondWrite);
    Build();
    EXPECT_EQ(drv.Request().Func, 4);
  }
}

TEST_F(ModbusDriverTest, ZevChoiceSendsOnlyTheParameterWrite) {
  QueueParamWrite(3, 1, 40013, static_cast<uint16_t>(-45));
  EXPECT_EQ(Build(), WithCrc(Hex("01 06 9C 4C FF D3")));
  Build();
  EXPECT_EQ(drv.Request().Func, 4);
}

// The value a write sends is the one its slot carries, not what the stores hold when it goes out.
TEST_F(ModbusDriverTest, WriteSendsTheValueItsSlotCarries) {
  ASSERT_EQ(RequestParamWrite(ctx.cmd, 3, 1, 40021, 100), CmdResult::Queued);
  ctx.cmd.PendingParams.BattCap = 200;
  ctx.cmd.CmdValue = 7;
  EXPECT_EQ(Build(), WithCrc(Hex("01 06 9C 54 00 64")));
}

// What became of each write: sent, then echoed, refused with an exception, or left unanswered
// (known when the scheduler builds the next request).
TEST_F(ModbusDriverTest, WriteOutcomeFollowsTheAnswer) {
  using R = TCmdOutcome::Result;
  const TCmdOutcome& w = ctx.cmd.LastWrite;
  AddDevice(1, 0);
  Build();

  QueueParamWrite(3, 1, 40005, 230);
  const Bytes write = Build();
  EXPECT_EQ(w.Outcome, R::Sent);
  EXPECT_EQ(w.Reg, 40005);
  EXPECT_EQ(w.Value, 230);
  EXPECT_TRUE(Parse(write));  // the echo
  EXPECT_EQ(w.Outcome, R::Accepted);
  const uint32_t accepted = w.Seq;
  Build();  // polling again: the outcome stays
  EXPECT_EQ(w.Outcome, R::Accepted);

  QueueSwitch(1, kRegSwitchOff);
  Build();
  EXPECT_FALSE(Parse(WithCrc(Hex("01 86 02"))));
  EXPECT_EQ(w.Outcome, R::Refused);
  EXPECT_EQ(w.Exception, 2);
  const uint32_t refused = w.Seq;
  EXPECT_GT(refused, accepted);
  EXPECT_FALSE(Parse(WithCrc(Hex("01 86 02"))));  // the re-sent write refused again: no news
  EXPECT_EQ(w.Seq, refused);
  Build();
  EXPECT_EQ(w.Outcome, R::Refused);

  QueueSwitch(1, kRegSwitchOn);
  Build();
  EXPECT_EQ(w.Outcome, R::Sent);
  EXPECT_FALSE(Parse(WithCrc(Hex("02 06 4E 1F 00 01"))));  // another unit's frame
  Build();
  EXPECT_EQ(w.Outcome, R::NoAnswer);
  EXPECT_EQ(w.Reg, kRegSwitchOn);
}

TEST_F(ModbusDriverTest, SlotWithUnknownFunctionIsConsumedAndSendsNothing) {
  Slot(0) = {255, 1, 5, 20001, 1};
  EXPECT_TRUE(Build().empty());
  EXPECT_EQ(drv.TxLen, 0);
  EXPECT_EQ(Slot(0).Pending, 0);
}

TEST_F(ModbusDriverTest, ManualModeBuildsNothingAndLeavesSlotsWaiting) {
  Build();
  ctx.comm.PollState.ManualMode = kFlagOn;
  Slot(1) = {255, 1, 6, kRegSwitchOn, 0};
  EXPECT_TRUE(Build().empty());
  EXPECT_EQ(Slot(1).Pending, 255);
}

TEST_F(ModbusDriverTest, DecodesMeasurements) {
  AddDevice(1, 0);
  PollUntil(1, 30001);
  std::vector<uint16_t> regs(14, 999);  // 30004..30010 are read but not stored
  regs[0] = 2201, regs[1] = 2202, regs[2] = 2203;
  regs[10] = 2301, regs[11] = 2302, regs[12] = 2303, regs[13] = 501;
  EXPECT_TRUE(Parse(ReadAnswer(1, 4, regs)));
  const TUpsInfo& u = Dev(1);
  EXPECT_DOUBLE_EQ(u.InputV_A, 220.1);
  EXPECT_DOUBLE_EQ(u.InputV_B, 220.2);
  EXPECT_DOUBLE_EQ(u.InputV_C, 220.3);
  EXPECT_DOUBLE_EQ(u.OutputV_A, 230.1);
  EXPECT_DOUBLE_EQ(u.OutputV_C, 230.3);
  EXPECT_DOUBLE_EQ(u.OutputFreq, 50.1);
  EXPECT_EQ(u.RunState, 1);  // derived even though no status word came
  EXPECT_EQ(ctx.comm.Debug.AckOkCnt, 1);
  EXPECT_EQ(drv.AnswerFlag(), 255);

  PollUntil(1, 30021);
  EXPECT_EQ(drv.AnswerFlag(), 0);
  regs.assign(18, 999);
  regs[0] = 45, regs[1] = 46, regs[2] = 47;
  const uint16_t battery[] = {2700, 2650, 105, 95, 12, 8, 87, 123};  // 30031..30038
  std::copy(std::begin(battery), std::end(battery), regs.begin() + 10);
  EXPECT_TRUE(Parse(ReadAnswer(1, 4, regs)));
  EXPECT_DOUBLE_EQ(u.LoadPer_A, 45);
  EXPECT_DOUBLE_EQ(u.LoadPer_C, 47);
  EXPECT_DOUBLE_EQ(u.BattVP, 270.0);
  EXPECT_DOUBLE_EQ(u.BattVN, 265.0);
  EXPECT_DOUBLE_EQ(u.DCInputV, 535.0);
  EXPECT_DOUBLE_EQ(u.BattCurr1, 20.0);
  EXPECT_DOUBLE_EQ(u.BattCurr2, 2.0);
  EXPECT_EQ(u.BattCapa, 87u);
  EXPECT_EQ(u.BattLivingTime, 123);
}

TEST_F(ModbusDriverTest, NegativeBatteryVoltageAloneSumsWithTheStoredPositive) {
  Dev(1).BattVP = 200.0;
  Slot(0) = {255, 1, 4, 30032, 1};
  EXPECT_EQ(Build(), WithCrc(Hex("01 04 75 4F 00 01")));
  EXPECT_TRUE(Parse(ReadAnswer(1, 4, {1990})));
  EXPECT_DOUBLE_EQ(Dev(1).DCInputV, 399.0);
}

TEST_F(ModbusDriverTest, DecodesStatusWordsIntoStateSwitchesAndAlarms) {
  AddDevice(1, 0);
  PollUntil(1, 30081);
  // Online: input switch, bit 14, input supplied from mains; inverter feeding the output.
  const std::vector<uint16_t> online = {0x1203, 0xCC00, 0x0001, 0x4780, 0x0000, 0,
                                        0,      0,      0,      0x0055, 0};
  EXPECT_TRUE(Parse(ReadAnswer(1, 4, online)));
  const TUpsInfo& u = Dev(1);
  EXPECT_EQ(u.UpsState, 0x03);
  EXPECT_EQ(u.CmmState1, 0xCC00);
  EXPECT_EQ(u.CmmState2, 0x0001);
  EXPECT_EQ(u.InvState1, 0x4780);
  EXPECT_EQ(u.SysState, 0x0055);
  EXPECT_EQ(u.RunState, 4);
  EXPECT_EQ(u.InputSwitch, 1);
  EXPECT_EQ(u.OutputSwitch, 1);
  EXPECT_EQ(u.BypassSwitch, 0);
  EXPECT_EQ(u.InputSupply, 1);
  EXPECT_EQ(u.UpsSupply, 1);
  EXPECT_EQ(u.AlarmCount, 0);

  // A re-sent request may be answered again; the alarm words rebuild the list.
  std::vector<uint16_t> alarms = online;
  alarms[5] = 0x8001;   // CmmAlarm1
  alarms[10] = 0x0100;  // SysAlarm
  EXPECT_TRUE(Parse(ReadAnswer(1, 4, alarms)));
  EXPECT_EQ(u.RunState, 11);
  ASSERT_EQ(u.AlarmCount, 3);
  EXPECT_THAT(std::vector<int>(u.AlarmCodes.begin(), u.AlarmCodes.begin() + 3),
              ElementsAre(0, 15, 71));
}

TEST_F(ModbusDriverTest, DecodesSettingsTruncatedToTheirFields) {
  AddDevice(1, 0);
  ctx.model.ModelCode = "ZEV305LB";
  PollUntil(1, 40001);
  std::vector<uint16_t> regs(28, 0);
  auto at = [&](int reg) -> uint16_t& { return regs[reg - 40001]; };
  at(40001) = 999;  // read, not stored
  at(40002) = 0x0105;
  at(40004) = 0xFFFF;
  at(40005) = 230;
  at(40010) = 777;
  at(40013) = 0xFFD3;
  at(40014) = 0xFFF1;
  at(40018) = 235;
  at(40027) = 0x3000;
  at(40028) = 0x1234;
  EXPECT_TRUE(Parse(ReadAnswer(1, 3, regs)));
  const TUpsParams& p = Dev(1).Params;
  EXPECT_EQ(p.SysID, 5);
  EXPECT_EQ(p.SetMode, 65535);  // zero-extended
  EXPECT_EQ(p.VoltLevel, 230);
  EXPECT_EQ(p.BpsVMin, -45);
  EXPECT_EQ(p.OutputVFine, -15);
  EXPECT_EQ(p.BattBoostV, 235);
  EXPECT_EQ(p.StatusCtrl, 0x3000);
  EXPECT_EQ(p.Reg40028, 0x1234);
  EXPECT_EQ(p.OptMode, 0);  // 40029 is the next step's

  Build();
  ASSERT_EQ(drv.Request().Reg, 40029);
  EXPECT_TRUE(Parse(ReadAnswer(1, 3, {2})));
  EXPECT_EQ(p.OptMode, 2);
}

TEST_F(ModbusDriverTest, RejectedAnswersDecodeNothing) {
  struct Case {
    const char* name;
    Bytes answer;
    int ackOk;  // AckOkCnt after the answer
  };
  const std::vector<uint16_t> fourteen(14, 2200);
  Bytes badCrc = ReadAnswer(1, 4, fourteen);
  badCrc.back() ^= 0x01;
  // Byte count promises 28 bytes, 20 arrived, CRC right over what is there.
  Bytes truncated = {0x01, 0x04, 0x1C};
  truncated.insert(truncated.end(), 20, 0x08);
  AppendModbusCrc(truncated);

  const Case cases[] = {
      {"wrong address", ReadAnswer(2, 4, fourteen), 0},
      {"bad CRC", badCrc, 0},
      {"wrong function", ReadAnswer(1, 3, fourteen), 0},
      {"empty", {}, 0},
      {"shorter than any answer", WithCrc(Hex("01 04")), 0},
      {"byte count beyond the frame", truncated, 1},
      {"thirteen registers for fourteen", ReadAnswer(1, 4, std::vector<uint16_t>(13, 2200)), 1},
      {"late answer to another step", ReadAnswer(1, 4, std::vector<uint16_t>(18, 2200)), 1},
      {"byte count 0", ReadAnswer(1, 4, {}), 1},
      {"exception", Hex("01 84 02 C2 C1"), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InitUpsTable(ctx.model.UpsTable);
    ctx.model.EquipList = TEquipList{};
    ctx.comm.PollState = TPollState{};
    ctx.comm.Debug = TCommDebug{};
    AddDevice(1, 0);
    PollUntil(1, 30001);
    EXPECT_FALSE(Parse(c.answer));
    EXPECT_EQ(ctx.comm.Debug.AckOkCnt, c.ackOk);
    EXPECT_DOUBLE_EQ(Dev(1).InputV_A, 0.0);
    EXPECT_EQ(Dev(1).RunState, -1);
  }
}

TEST_F(ModbusDriverTest, NeverReadsPastTheReceivedLength) {
  AddDevice(1, 0);
  PollUntil(1, 30001);
  // The first 23 bytes form a CRC-correct frame that claims 28 data bytes; the buffer goes on
  // with what looks like the rest of the data.
  Bytes buf = {0x01, 0x04, 0x1C};
  buf.insert(buf.end(), 18, 0x08);
  AppendModbusCrc(buf);
  const int n = static_cast<int>(buf.size());
  buf.insert(buf.end(), 40, 0x09);
  EXPECT_FALSE(drv.ParseAnswer(buf.data(), n));
  EXPECT_DOUBLE_EQ(Dev(1).InputV_A, 0.0);
  EXPECT_DOUBLE_EQ(Dev(1).OutputFreq, 0.0);
}

TEST_F(ModbusDriverTest, WriteAnswers) {
  Slot(1) = {255, 1, 6, kRegSwitchOn, 0};
  const Bytes request = Build();
  EXPECT_TRUE(Parse(request));  // the echo
  EXPECT_EQ(ctx.comm.Debug.AckOkCnt, 1);
  EXPECT_FALSE(Parse(WithCrc(Hex("01 86 02"))));
  EXPECT_EQ(ctx.comm.Debug.AckOkCnt, 2);
  EXPECT_FALSE(Parse(ReadAnswer(1, 4, std::vector<uint16_t>(14, 1))));  // not what was asked
  EXPECT_EQ(Slot(1).Pending, 0);                                        // and not queued again

  // A unit that keeps answering cannot wrap the counter around.
  ctx.comm.Debug.AckOkCnt = std::numeric_limits<int32_t>::max();
  EXPECT_TRUE(Parse(request));
  EXPECT_EQ(ctx.comm.Debug.AckOkCnt, std::numeric_limits<int32_t>::max());
}

TEST_F(ModbusDriverTest, SearchProbesTheSearchAddressAndDecodesNothing) {
  AddDevice(1, 0);
  PollUntil(1, 30021);
  ctx.comm.PollState.SearchMode = kFlagOn;
  ctx.comm.PollState.SearchAddr = 7;
  QueueSwitch(1, kRegSwitchOn);
  EXPECT_EQ(Build(), WithCrc(Hex("07 04 75 30 00 0E")));
  EXPECT_EQ(Slot(1).Pending, 255);
  EXPECT_TRUE(Parse(ReadAnswer(7, 4, std::vector<uint16_t>(14, 2200))));
  EXPECT_TRUE(Parse(WithCrc(Hex("07 84 02"))));  // any answer means a unit is there
  EXPECT_DOUBLE_EQ(Dev(7).InputV_A, 0.0);
  EXPECT_EQ(Dev(7).RunState, -1);

  // Afterwards the slot goes out, then the rotation resumes where it was.
  ctx.comm.PollState.SearchMode = kFlagOff;
  EXPECT_EQ(Build(), WithCrc(Hex("01 06 4E 20 00 01")));
  Build();
  EXPECT_EQ(drv.Request().Reg, 30081);
}

TEST_F(ModbusDriverTest, AddressBeyondTheTableIsPolledButNeverDecoded) {
  AddDevice(253, 0);
  PollUntil(253, 30001);
  EXPECT_FALSE(Parse(ReadAnswer(253, 4, std::vector<uint16_t>(14, 2200))));
  EXPECT_EQ(ctx.comm.Debug.AckOkCnt, 0);
  Build();  // no record: treated as lost, so the cycle is one step long
  EXPECT_EQ(ctx.comm.PollState.StepCount, 1);
  EXPECT_EQ(drv.Request().SlaveAddr, 253);
  EXPECT_EQ(drv.Request().Reg, 30001);
}

}  // namespace
}  // namespace tessel
