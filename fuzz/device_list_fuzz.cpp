// The device list loader on a file of arbitrary bytes, and a save and reload of what it kept.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "app/device_list_file.h"
#include "fuzz_support.h"
#include "model/ups_info.h"

using namespace tessel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = fuzz::ScratchDir();
  static const std::string path = dir + "/" + kDeviceListFileName;
  fuzz::WriteFile(path, data, size);

  TEquipList list;
  list.Cursor = 9;
  list.CurAddr = 9;
  const DeviceListLoad load = LoadDeviceList(path, list);
  if (!load) __builtin_trap();
  const size_t skipped = load.Skips.size();

  // Only whole records among the first 252 count, each either kept or skipped; what is kept can
  // be polled and told apart.
  const size_t records = std::min<size_t>(size / kEquipRecSize, kMaxDevices);
  if (list.Count + skipped != records) __builtin_trap();
  if (load.Lossy() !=
      (skipped > 0 || size % kEquipRecSize != 0 || size / kEquipRecSize > kMaxDevices))
    __builtin_trap();
  if (list.Cursor != 0 || list.CurAddr != 0) __builtin_trap();
  std::set<int> seen;
  for (int i = 1; i <= list.Count; ++i) {
    const int a = list.Items[i].Addr;
    if (a < 1 || a > kMaxDevices || !seen.insert(a).second) __builtin_trap();
  }

  // What was kept survives a save and a reload unchanged.
  if (!SaveDeviceList(path, list)) __builtin_trap();
  TEquipList again;
  const DeviceListLoad reload = LoadDeviceList(path, again);
  if (!reload || reload.Lossy()) __builtin_trap();
  if (again.Count != list.Count) __builtin_trap();
  for (int i = 1; i <= list.Count; ++i)
    if (again.Items[i].Addr != list.Items[i].Addr || again.Items[i].Name != list.Items[i].Name ||
        again.Items[i].NodeIndex != list.Items[i].NodeIndex)
      __builtin_trap();
  return 0;
}
