// The device list file "TreeNode.dat": the monitored devices in list order, one 42-byte record
// each (node index byte, bus address, 40 name bytes in GBK), no header.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/ups_info.h"

namespace tessel {

constexpr const char* kDeviceListFileName = "TreeNode.dat";

// Byte layout of one record: offset 0 node index, 1 address, 2..41 name.
std::array<uint8_t, kEquipRecSize> EncodeEquipRec(const TEquipRec& rec);
TEquipRec DecodeEquipRec(const uint8_t* bytes);

// What loading the device list found. A record that cannot be listed is left out and named here,
// so that the operator hears of it before a save writes a shorter file.
struct DeviceListLoad {
  struct Skipped {
    int Record = 0;  // 1-based position in the file
    uint8_t Addr = 0;
    std::string Name;  // UTF-8
  };
  bool Readable = true;        // false: the file could neither be read nor created
  bool PartialTail = false;    // bytes at the end that make no whole record
  int BeyondLimit = 0;         // whole records after the 252nd
  std::vector<Skipped> Skips;  // address outside 1..252, or one listed earlier in the file

  explicit operator bool() const { return Readable; }
  // Saving the list as loaded would write less than the file holds.
  bool Lossy() const { return !Readable || PartialTail || BeyondLimit > 0 || !Skips.empty(); }
};

// Replaces the list with the file's devices and resets Cursor and CurAddr to 0. A missing file is
// created empty. Only whole records among the first 252 count; a record whose address lies
// outside 1..252 or repeats an earlier one is left out (it could not be polled or told apart).
DeviceListLoad LoadDeviceList(const std::string& path, TEquipList& list);

// Writes entries 1..Count as they are in memory. The records go to a temporary file beside the
// target first, which then replaces it, so a failed save leaves the previous file intact.
bool SaveDeviceList(const std::string& path, const TEquipList& list);

}  // namespace tessel
