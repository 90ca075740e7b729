#include "protocol/ydt_v31_driver.h"

#include <array>

#include "model/state_derivation.h"
#include "protocol/ascii_frame.h"

namespace tessel {

namespace {

// CID2 of the command kinds 1..5.
constexpr std::array<uint8_t, 6> kCid2 = {0, 0x42, 0x43, 0x44, 0x80, 0x82};

void DecodeMeasurements(const AnswerInfo& info, TUpsInfo& u) {
  if (!info.Holds(55, 4)) return;
  u.InputV_A = info.Word(15) / 100.0;
  u.InputV_B = info.Word(19) / 100.0;
  u.InputV_C = info.Word(23) / 100.0;
  u.OutputV_A = info.Word(27) / 100.0;
  u.OutputV_B = info.Word(31) / 100.0;
  u.OutputV_C = info.Word(35) / 100.0;
  u.DCInputV = info.Word(51) / 100.0;
  u.OutputFreq = info.Word(55) / 100.0;
}

void DecodeStatus(const AnswerInfo& info, TUpsInfo& u) {
  if (!info.Holds(33, 2)) return;
  u.UpsState = static_cast<uint8_t>(info.Hex(19, 2));
  u.CmmState1 = static_cast<uint16_t>(info.Hex(21, 4));
  u.InvState1 = static_cast<uint16_t>(info.Hex(25, 4));
  u.InvState2 = static_cast<uint16_t>(info.Hex(29, 4));
  u.SysState = static_cast<uint16_t>(info.Hex(33, 2));
  u.RunState = DeriveRunState(u);
  DeriveSwitches(u);
}

void DecodeAlarms(const AnswerInfo& info, TUpsInfo& u) {
  if (!info.Holds(49, 2)) return;
  u.CmmAlarm1 = static_cast<uint16_t>(info.Hex(33, 4));
  u.CmmAlarm2 = static_cast<uint16_t>(info.Hex(37, 4));
  u.InvAlarm1 = static_cast<uint16_t>(info.Hex(41, 4));
  u.InvAlarm2 = static_cast<uint16_t>(info.Hex(45, 4));
  u.SysAlarm = static_cast<uint16_t>(info.Hex(49, 2));
  BuildAlarmList(u);
}

void DecodeLoadAndCurrents(const AnswerInfo& info, TUpsInfo& u) {
  if (!info.Holds(155, 4)) return;
  u.LoadPer_A = info.Word(95);
  u.LoadPer_B = info.Word(99);
  u.LoadPer_C = info.Word(103);
  u.BattCurr1P = info.Word(143) / 100.0;
  u.BattCurr1N = info.Word(147) / 100.0;
  u.BattCurr2P = info.Word(151) / 100.0;
  u.BattCurr2N = info.Word(155) / 100.0;
  u.BattCurr1 = u.BattCurr1P + u.BattCurr1N;
  u.BattCurr2 = u.BattCurr2P + u.BattCurr2N;
}

void DecodeBattery(const AnswerInfo& info, TUpsInfo& u) {
  if (!info.Holds(39, 4)) return;
  u.BattLivingTime = info.Word(35);
  u.BattCapa = info.Word(39);
}

}  // namespace

TYdtV31Protocol::TYdtV31Protocol(Context& ctx) : TAsciiDriver(ctx, kVersionByte, kCid2) {}

void TYdtV31Protocol::Decode(uint8_t cmd, const AnswerInfo& info, TUpsInfo& u) {
  switch (cmd) {
    case 1:
      DecodeMeasurements(info, u);
      break;
    case 2:
      DecodeStatus(info, u);
      break;
    case 3:
      DecodeAlarms(info, u);
      break;
    case 4:
      DecodeLoadAndCurrents(info, u);
      break;
    case 5:
      DecodeBattery(info, u);
      break;
  }
}

}  // namespace tessel
