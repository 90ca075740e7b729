// The device list file "TreeNode.dat": the monitored devices in list order, one 42-byte record
// each (node index byte, bus address, 40 name bytes in GBK), no header.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "model/ups_info.h"

namespace tessel {

constexpr const char* kDeviceListFileName = "TreeNode.dat";

// Byte layout of one record: offset 0 node index, 1 address, 2..41 name.
std::array<uint8_t, kEquipRecSize> EncodeEquipRec(const TEquipRec& rec);
TEquipRec DecodeEquipRec(const uint8_t* bytes);

// Replaces the list with the file's devices and resets Cursor and CurAddr to 0. A missing file is
// created empty. Only whole records among the first 252 count; a trailing partial record is
// ignored, and so is a record whose address lies outside 1..252 or repeats an earlier one (such
// a record cannot be polled or told apart; skippedRecords, when given, receives their number).
// False, with an empty list, when the file can neither be read nor created.
bool LoadDeviceList(const std::string& path, TEquipList& list, int* skippedRecords = nullptr);

// Writes entries 1..Count as they are in memory. The records go to a temporary file beside the
// target first, which then replaces it, so a failed save leaves the previous file intact.
bool SaveDeviceList(const std::string& path, const TEquipList& list);

}  // namespace tessel
