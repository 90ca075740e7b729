#include "model/state_derivation.h"

namespace tessel {

namespace {
bool Bit(uint32_t v, int b) {
  return (v >> b) & 1u;
}
}  // namespace

uint8_t DeriveRunState(const TUpsInfo& u) {
  const uint16_t s1 = u.CmmState1, s2 = u.InvState1, s3 = u.InvState2;
  if (Bit(s1, 13) || Bit(s2, 3)) return kRunEpo;
  if (u.CmmAlarm1 != 0 || Bit(u.CmmAlarm2, 15) || (u.InvAlarm1 & 0xFC8C) != 0) return kRunFault;
  if (Bit(s2, 13)) return kRunMaintBypass;
  const uint16_t m = s2 & 0x0180, k = s2 & 0x0600;
  if (m == 0) {
    if (k == 0) return kRunStandby;
    if (k == 0x0200) return kRunSoftStart;
    return kRunNoOutput;
  }
  if (m == 0x0080) return (Bit(s3, 11) && Bit(s2, 10)) ? kRunEco : kRunBypass;
  // m is 0x0100 or 0x0180: output from the inverter.
  if (k == 0 || k == 0x0400) return kRunStandby;
  if (k == 0x0200) return kRunSoftStart;
  if (!Bit(s1, 14)) return kRunNoOutput;
  if (Bit(s1, 10)) return kRunOnline;
  if (Bit(s1, 9)) return kRunSelfTest;
  return kRunBattery;
}

void DeriveSwitches(TUpsInfo& u) {
  const uint16_t s1 = u.CmmState1, s2 = u.InvState1;
  u.InputSwitch = Bit(s1, 15);
  u.BypassSwitch = Bit(s2, 15);
  u.OutputSwitch = Bit(s2, 14);
  u.MaintSwitch = Bit(s2, 13);
  u.InputSupply = !Bit(s1, 11) ? 0 : (Bit(s1, 10) ? 1 : 2);
  u.UpsSupply = Bit(s2, 8) ? 1 : (Bit(s2, 7) ? 2 : 0);
}

void BuildAlarmList(TUpsInfo& u) {
  struct Source {
    uint16_t word;
    int lowestBit;  // bits 15 down to this one produce codes
    int base;       // code of bit b is base - b
  };
  const Source sources[] = {
      {u.CmmAlarm1, 0, 15}, {u.CmmAlarm2, 6, 31}, {u.InvAlarm1, 0, 47},
      {u.InvAlarm2, 7, 63}, {u.SysAlarm, 8, 79},
  };
  int n = 0;
  for (const Source& s : sources)
    for (int b = 15; b >= s.lowestBit; --b)
      if (Bit(s.word, b)) u.AlarmCodes[n++] = s.base - b;
  u.AlarmCount = static_cast<uint8_t>(n);
}

}  // namespace tessel
