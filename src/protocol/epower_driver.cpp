#include "protocol/epower_driver.h"

#include <array>
#include <cmath>
#include <numbers>

#include "protocol/ascii_frame.h"

namespace tessel {

namespace {

// CID2 of the command kinds 1..5.
constexpr std::array<uint8_t, 6> kCid2 = {0, 0x41, 0x43, 0x44, 0xE2, 0xE3};

void DecodeMeasurements(const AnswerInfo& info, TUpsInfo& u) {
  if (!info.Holds(95, 8)) return;
  // Input voltages arrive line to line.
  u.InputV_A = info.Single(15) / std::numbers::sqrt3;
  u.InputV_B = info.Single(23) / std::numbers::sqrt3;
  u.InputV_C = info.Single(31) / std::numbers::sqrt3;
  u.OutputV_A = info.Single(39);
  u.OutputV_B = info.Single(47);
  u.OutputV_C = info.Single(55);
  u.DCInputV = info.Single(87);
  u.OutputFreq = info.Single(95);
}

// Stores the switch position of an "E0"/"E1" code; other codes leave it as it is.
void SwitchCode(std::string_view code, uint8_t& field) {
  if (code == "E0") field = 0;
  if (code == "E1") field = 1;
}

void DecodeStatus(const AnswerInfo& info, TUpsInfo& u) {
  if (!info.Holds(35, 2)) return;
  const std::string_view ups = info.Text(15, 2);
  if (ups == "01") u.UpsSupply = 1;
  if (ups == "02") u.UpsSupply = 2;
  if (ups == "E9") u.UpsSupply = 0;
  u.BattTest = info.Text(19, 2) == "E0" ? 1 : 0;
  const std::string_view input = info.Text(25, 2);
  if (input == "E0") u.InputSupply = 1;
  if (input == "E1") u.InputSupply = 2;
  if (input == "E3") u.InputSupply = 0;
  SwitchCode(info.Text(29, 2), u.InputSwitch);
  SwitchCode(info.Text(31, 2), u.MaintSwitch);
  SwitchCode(info.Text(33, 2), u.BypassSwitch);
  SwitchCode(info.Text(35, 2), u.OutputSwitch);
  u.RunState = ThreePhaseRunState(u);
}

void DecodeAlarms(const AnswerInfo& info, TUpsInfo& u) {
  if (!info.Holds(141, 2)) return;
  int count = 0;
  auto add = [&](int32_t code) { u.AlarmCodes[static_cast<size_t>(count++)] = code; };
  for (int i = 0; i < 56; ++i) {
    const int32_t b = info.Hex(31 + 2 * i, 2);
    if (i == 35) {
      if (b == 0xF1) add(135);
    } else if (i == 48) {
      if (b == 0) add(148);
      if (b == 0xF1) add(160);
    } else if (b != 0) {
      add(100 + i);
    }
  }
  for (int k = 0; k < 5; ++k)
    if (info.Hex(15 + 2 * k, 2) != 0) add(201 + k);
  switch (info.Hex(25, 2)) {  // H5; H6 at 27 carries nothing we show
    case 0:
      break;
    case 1:
      add(206);
      break;
    case 2:
      add(207);
      break;
    case 0xF0:
      add(208);
      break;
    case 0xE1:
      add(209);
      break;
    default:
      add(210);
      break;
  }
  u.AlarmCount = static_cast<uint8_t>(count);
}

void DecodeLoad(const AnswerInfo& info, TUpsInfo& u) {
  if (!info.Holds(129, 8)) return;
  u.LoadPer_A = info.Single(113);
  u.LoadPer_B = info.Single(121);
  u.LoadPer_C = info.Single(129);
}

void DecodeBackupTime(const AnswerInfo& info, TUpsInfo& u) {
  if (!info.Holds(113, 8)) return;
  const double v = info.Single(113);
  // A NaN or infinity has no integer value; keep the last good time rather than store garbage.
  if (!std::isfinite(v)) return;
  // Round half to even, independent of the floating-point rounding mode.
  double r = std::floor(v);
  const double frac = v - r;
  if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
  // A single's integer part fits in int64 only up to 2^63; beyond that its low 16 bits are 0.
  const int64_t whole = std::fabs(r) < 9.2e18 ? static_cast<int64_t>(r) : 0;
  u.BattLivingTime = static_cast<uint16_t>(whole);
}

}  // namespace

int32_t ThreePhaseRunState(const TUpsInfo& u) {
  if (u.MaintSwitch == 1) return kRunMaintBypass;
  if (u.UpsSupply == 1) {
    if (u.InputSupply == 1) return kRunOnline;
    if (u.InputSupply == 2) return u.BattTest == 1 ? kRunSelfTest : kRunBattery;
    return kRunStandby;
  }
  if (u.UpsSupply == 2) return kRunBypass;
  return kRunStandby;
}

TEpowerProtocol::TEpowerProtocol(Context& ctx) : TAsciiDriver(ctx, kVersionByte, kCid2) {}

void TEpowerProtocol::Decode(uint8_t cmd, const AnswerInfo& info, TUpsInfo& u) {
  // Status and alarms of a unit that has only just started answering are not trusted yet.
  const bool settled = u.OkCnt >= kMinOkCnt;
  switch (cmd) {
    case 1:
      DecodeMeasurements(info, u);
      break;
    case 2:
      if (settled) DecodeStatus(info, u);
      break;
    case 3:
      if (settled) DecodeAlarms(info, u);
      break;
    case 4:
      DecodeLoad(info, u);
      break;
    case 5:
      DecodeBackupTime(info, u);
      break;
  }
}

}  // namespace tessel
