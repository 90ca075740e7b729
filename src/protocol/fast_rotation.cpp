#include "protocol/fast_rotation.h"

namespace tessel {

namespace {

bool Lost(const DeviceModel& model, int32_t addr) {
  return addr < 0 || addr > kMaxAddr ||
         model.UpsTable[static_cast<size_t>(addr)].CommState == kCommLost;
}

}  // namespace

bool TFastRotation::SlowTarget(const DeviceModel& model, int32_t& addr) {
  const TEquipList& list = model.EquipList;
  if (list.Count == 0) return false;
  if (slowEntry_ < 1 || slowEntry_ > list.Count) {
    slowEntry_ = 1;
    slowPos_ = 0;
  }
  // The unit whose slow steps are under way, or the next one that communicates.
  for (int tries = 0; tries < list.Count; ++tries) {
    const int32_t a = list.Items[static_cast<size_t>(slowEntry_)].Addr;
    if (!Lost(model, a)) {
      addr = a;
      return true;
    }
    slowEntry_ = slowEntry_ % list.Count + 1;
    slowPos_ = 0;
  }
  return false;
}

FastPick TFastRotation::Next(DeviceModel& model, int stateSteps, int slowSteps) {
  if (stateSteps < 1) stateSteps = 1;
  FastPick pick;
  if (slowSteps > 0 && sinceSlow_ >= kStatePerSlow && SlowTarget(model, pick.addr)) {
    sinceSlow_ = 0;
    if (slowPos_ >= slowSteps) slowPos_ = 0;
    pick.slow = true;
    pick.step = slowPos_++;
    if (slowPos_ >= slowSteps) {
      slowPos_ = 0;
      slowEntry_ = slowEntry_ % model.EquipList.Count + 1;
    }
    return pick;
  }

  TEquipList& list = model.EquipList;
  if (statePos_ == 0 || list.Cursor < 1 || list.Cursor > list.Count) {
    statePos_ = 0;
    NextDevice(list);
  }
  // By the cursor: CurAddr may since have named a slow request's target.
  pick.addr = list.Count > 0 ? list.Items[list.Cursor].Addr : list.CurAddr;
  pick.step = statePos_ < stateSteps ? statePos_ : 0;
  statePos_ = pick.step + 1;
  // A lost unit is only probed; the next state request goes to the next unit.
  if (statePos_ >= stateSteps || Lost(model, pick.addr)) statePos_ = 0;
  ++sinceSlow_;
  return pick;
}

}  // namespace tessel
