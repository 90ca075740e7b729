// Turns the raw status and alarm words of a device record into its operating state, switch and
// supply states and the list of active alarm codes.
#pragma once

#include <cstdint>

#include "model/ups_info.h"

namespace tessel {

// Operating-state index 1..11 from CmmState1, InvState1, InvState2 and the alarm words.
uint8_t DeriveRunState(const TUpsInfo& u);
// Sets InputSwitch, BypassSwitch, OutputSwitch, MaintSwitch, InputSupply and UpsSupply.
void DeriveSwitches(TUpsInfo& u);
// Rebuilds AlarmCodes/AlarmCount from the alarm words, in ascending code order.
void BuildAlarmList(TUpsInfo& u);

}  // namespace tessel
