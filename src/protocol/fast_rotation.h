// The request order of fast polling, shared by the drivers: the requests that carry a unit's
// operating state and alarm words go to every unit of the device list in every round; after
// every kStatePerSlow of them one of the slower requests (measurements, settings, static data)
// follows. Those are taken in turn from the units that communicate, all of one unit's before the
// next unit's, so that none of them starves however long the list is.
#pragma once

#include <cstdint>

#include "model/ups_info.h"

namespace tessel {

constexpr int kStatePerSlow = 4;

// What to send next: step is an index into the driver's state steps or into its slow steps.
struct FastPick {
  bool slow = false;
  int step = 0;
  int32_t addr = 0;
};

class TFastRotation {
 public:
  // stateSteps (at least 1) and slowSteps are the counts of the driver's two tables; they may
  // change between calls (the slow ones depend on the model code). A lost unit is asked only its
  // first state step and gets no slow requests until it answers again. The state round moves
  // EquipList's cursor as the fixed rotation does (NextDevice), so CurAddr follows it.
  FastPick Next(DeviceModel& model, int stateSteps, int slowSteps);

 private:
  bool SlowTarget(const DeviceModel& model, int32_t& addr);

  int statePos_ = 0;   // next state step of the unit at EquipList's cursor; 0: next unit
  int sinceSlow_ = 0;  // state requests since the last slow one
  int slowEntry_ = 0;  // 1-based list entry whose slow steps come next; 0: not started
  int slowPos_ = 0;    // its next slow step
};

}  // namespace tessel
