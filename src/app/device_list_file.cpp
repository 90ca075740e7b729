#include "app/device_list_file.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace tessel {

namespace fs = std::filesystem;

std::array<uint8_t, kEquipRecSize> EncodeEquipRec(const TEquipRec& rec) {
  std::array<uint8_t, kEquipRecSize> out{};
  out[0] = rec.NodeIndex;
  out[1] = rec.Addr;
  for (int i = 0; i < kNameSize; ++i) out[2 + i] = rec.Name[i];
  return out;
}

TEquipRec DecodeEquipRec(const uint8_t* bytes) {
  TEquipRec rec;
  rec.NodeIndex = bytes[0];
  rec.Addr = bytes[1];
  for (int i = 0; i < kNameSize; ++i) rec.Name[i] = bytes[2 + i];
  return rec;
}

DeviceListLoad LoadDeviceList(const std::string& path, TEquipList& list) {
  list = TEquipList{};
  DeviceListLoad report;

  std::error_code ec;
  if (!fs::exists(path, ec)) {
    std::ofstream create(path, std::ios::binary);
    if (!create) report.Readable = false;
    return report;
  }

  const bool regular = fs::is_regular_file(path, ec);
  const uintmax_t size = regular ? fs::file_size(path, ec) : 0;
  std::ifstream in(path, std::ios::binary);
  if (!regular || ec || !in) {
    report.Readable = false;
    return report;
  }
  const uintmax_t fileRecords = size / kEquipRecSize;
  report.PartialTail = size % kEquipRecSize != 0;
  report.BeyondLimit =
      fileRecords > kMaxDevices
          ? static_cast<int>(std::min<uintmax_t>(fileRecords - kMaxDevices, INT32_MAX))
          : 0;

  std::vector<uint8_t> bytes(static_cast<size_t>(kMaxDevices) * kEquipRecSize);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  const auto records = static_cast<size_t>(in.gcount()) / kEquipRecSize;

  for (size_t r = 0; r < records; ++r) {
    const TEquipRec rec = DecodeEquipRec(bytes.data() + r * kEquipRecSize);
    if (rec.Addr < 1 || rec.Addr > kMaxAddr || FindDevice(list, rec.Addr) != 0) {
      report.Skips.push_back({static_cast<int>(r) + 1, rec.Addr, NameFieldText(rec.Name)});
      continue;
    }
    AppendDevice(list, rec);
  }
  return report;
}

bool SaveDeviceList(const std::string& path, const TEquipList& list) {
  const std::string tmpPath = path + ".tmp";
  const int count = list.Count > kMaxDevices ? kMaxDevices : list.Count;
  {
    std::ofstream out(tmpPath, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    for (int k = 1; k <= count; ++k) {
      const auto rec = EncodeEquipRec(list.Items[k]);
      out.write(reinterpret_cast<const char*>(rec.data()), rec.size());
    }
    out.close();
    if (out.fail()) {
      std::error_code ignore;
      fs::remove(tmpPath, ignore);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(tmpPath, path, ec);
  if (ec) {
    std::error_code ignore;
    fs::remove(tmpPath, ignore);
    return false;
  }
  return true;
}

}  // namespace tessel
