#include "model/ups_info.h"

#include <cstring>

#include "model/little_endian.h"

namespace tessel {

using le::GetF64;
using le::PutF64;
using le::PutU16;
using le::PutU32;

bool SetParamByRegister(TUpsParams& p, int reg, uint16_t v) {
  switch (reg) {
    case 40002:
      p.SysID = static_cast<uint8_t>(v);
      return true;
    case 40003:
      p.Reg40003 = static_cast<uint8_t>(v);
      return true;
    case 40004:
      p.SetMode = v;
      return true;
    case 40005:
      p.VoltLevel = static_cast<uint8_t>(v);
      return true;
    case 40006:
      p.FreqLevel = static_cast<uint8_t>(v);
      return true;
    case 40007:
      p.ParaNum = static_cast<uint8_t>(v);
      return true;
    case 40008:
      p.RedunNum = static_cast<uint8_t>(v);
      return true;
    case 40009:
      p.Reg40009 = static_cast<uint8_t>(v);
      return true;
    case 40011:
      p.BpsFreq = static_cast<uint8_t>(v);
      return true;
    case 40012:
      p.BpsVMax = static_cast<uint8_t>(v);
      return true;
    case 40013:
      p.BpsVMin = static_cast<int16_t>(v);
      return true;
    case 40014:
      p.OutputVFine = static_cast<int16_t>(v);
      return true;
    case 40015:
      p.BattNum = v;
      return true;
    case 40016:
      p.Reg40016 = v;
      return true;
    case 40017:
      p.BattGroup = v;
      return true;
    case 40018:
      p.BattBoostV = v;
      return true;
    case 40019:
      p.BattFloat = v;
      return true;
    case 40020:
      p.EodV = v;
      return true;
    case 40021:
      p.BattCap = v;
      return true;
    case 40022:
      p.PreAlarm = v;
      return true;
    case 40023:
      p.MaxChgCurr = v;
      return true;
    case 40025:
      p.BoostLast = v;
      return true;
    case 40027:
      p.StatusCtrl = v;
      return true;
    case 40028:
      p.Reg40028 = v;
      return true;
    case 40029:
      p.OptMode = static_cast<uint8_t>(v);
      return true;
    default:
      return false;
  }
}

bool GetParamByRegister(const TUpsParams& p, int reg, uint16_t& v) {
  switch (reg) {
    case 40002:
      v = p.SysID;
      return true;
    case 40003:
      v = p.Reg40003;
      return true;
    case 40004:
      v = static_cast<uint16_t>(p.SetMode);
      return true;
    case 40005:
      v = p.VoltLevel;
      return true;
    case 40006:
      v = p.FreqLevel;
      return true;
    case 40007:
      v = p.ParaNum;
      return true;
    case 40008:
      v = p.RedunNum;
      return true;
    case 40009:
      v = p.Reg40009;
      return true;
    case 40011:
      v = p.BpsFreq;
      return true;
    case 40012:
      v = p.BpsVMax;
      return true;
    case 40013:
      v = static_cast<uint16_t>(p.BpsVMin);
      return true;
    case 40014:
      v = static_cast<uint16_t>(p.OutputVFine);
      return true;
    case 40015:
      v = p.BattNum;
      return true;
    case 40016:
      v = p.Reg40016;
      return true;
    case 40017:
      v = p.BattGroup;
      return true;
    case 40018:
      v = p.BattBoostV;
      return true;
    case 40019:
      v = p.BattFloat;
      return true;
    case 40020:
      v = p.EodV;
      return true;
    case 40021:
      v = p.BattCap;
      return true;
    case 40022:
      v = p.PreAlarm;
      return true;
    case 40023:
      v = p.MaxChgCurr;
      return true;
    case 40025:
      v = p.BoostLast;
      return true;
    case 40027:
      v = p.StatusCtrl;
      return true;
    case 40028:
      v = p.Reg40028;
      return true;
    case 40029:
      v = p.OptMode;
      return true;
    default:
      return false;
  }
}

std::array<uint8_t, kStatusBlockSize> StatusBlock(const TUpsInfo& u) {
  std::array<uint8_t, kStatusBlockSize> b{};
  const uint16_t words[10] = {u.CmmState1, u.CmmState2, u.CmmAlarm1, u.CmmAlarm2, u.InvState1,
                              u.InvState2, u.InvAlarm1, u.InvAlarm2, u.SysState,  u.SysAlarm};
  for (int i = 0; i < 10; ++i) PutU16(&b[2 * i], words[i]);
  b[20] = u.UpsState;
  for (int i = 0; i < 5; ++i) b[21 + i] = u.Reserved[i];
  return b;
}

std::array<uint8_t, kMeasureBlockSize> MeasureBlock(const TUpsInfo& u) {
  std::array<uint8_t, kMeasureBlockSize> b{};
  const double doubles[11] = {u.InputV_A,  u.InputV_B,   u.InputV_C,  u.OutputV_A,
                              u.OutputV_B, u.OutputV_C,  u.LoadPer_A, u.LoadPer_B,
                              u.LoadPer_C, u.OutputFreq, u.DCInputV};
  for (int i = 0; i < 11; ++i) PutF64(&b[8 * i], doubles[i]);
  PutU32(&b[88], u.BattCapa);
  PutU16(&b[92], u.BattLivingTime);
  // bytes 94..95: padding, zero
  PutF64(&b[96], u.BattCurr1);
  PutF64(&b[104], u.BattCurr2);
  return b;
}

void ApplyMeasureBlock(TUpsInfo& u, const uint8_t* b) {
  double* doubles[11] = {&u.InputV_A,  &u.InputV_B,   &u.InputV_C,  &u.OutputV_A,
                         &u.OutputV_B, &u.OutputV_C,  &u.LoadPer_A, &u.LoadPer_B,
                         &u.LoadPer_C, &u.OutputFreq, &u.DCInputV};
  for (int i = 0; i < 11; ++i) *doubles[i] = GetF64(b + 8 * i);
  u.BattCapa = le::GetU32(b + 88);
  u.BattLivingTime = le::GetU16(b + 92);
  u.BattCurr1 = GetF64(b + 96);
  u.BattCurr2 = GetF64(b + 104);
}

void InitUpsTable(TUpsTable& table) {
  for (int a = 0; a < kTableSize; ++a) {
    table[a] = TUpsInfo{};
    table[a].Addr = static_cast<uint8_t>(a);
    table[a].CommState = kCommLost;
    table[a].RunState = kRunUnknown;
    table[a].PrevRunState = kRunUnknown;
  }
}

void NextDevice(TEquipList& list) {
  if (list.Count == 0) {
    list.Cursor = 0;
    list.CurAddr = 0;
    return;
  }
  int c = list.Cursor + 1;
  if (c > list.Count) c = 1;
  list.Cursor = static_cast<uint8_t>(c);
  list.CurAddr = list.Items[c].Addr;
}

void ClearLiveValues(TUpsInfo& u) {
  u.RunState = kRunUnknown;
  u.InputV_A = u.InputV_B = u.InputV_C = 0;
  u.OutputV_A = u.OutputV_B = u.OutputV_C = 0;
  u.LoadPer_A = u.LoadPer_B = u.LoadPer_C = 0;
  u.OutputFreq = u.DCInputV = 0;
  u.BattCapa = 0;
  u.BattLivingTime = 0;
  u.CmmState1 = u.CmmState2 = u.CmmAlarm1 = u.CmmAlarm2 = 0;
  u.InvState1 = u.InvState2 = u.InvAlarm1 = u.InvAlarm2 = 0;
  u.SysState = u.SysAlarm = 0;
  u.UpsState = 0;
  for (int i = 0; i < 4; ++i) u.Reserved[i] = 0;
  u.PrevRunState = 0;
  // The list's entries 1..65 (index 0..64 here); the rest is never used by any list.
  for (int i = 0; i < 65; ++i) u.AlarmCodes[i] = 0;
  u.AlarmCount = 0;
  u.UpsSupply = u.InputSupply = 0;
  u.InputSwitch = u.MaintSwitch = u.BypassSwitch = u.OutputSwitch = 0;
}

bool AppendDevice(TEquipList& list, const TEquipRec& rec) {
  if (list.Count >= kMaxDevices) return false;
  list.Count = static_cast<uint8_t>(list.Count + 1);
  list.Items[list.Count] = rec;
  return true;
}

int FindDevice(const TEquipList& list, uint8_t addr) {
  for (int i = 1; i <= list.Count; ++i)
    if (list.Items[i].Addr == addr) return i;
  return 0;
}

}  // namespace tessel
