#include "log/data_log.h"

#include <cmath>
#include <cstring>
#include <filesystem>

#include "log/record_file.h"
#include "model/little_endian.h"

namespace tessel {

using le::GetF64;
using le::PutF64;

namespace fs = std::filesystem;

std::array<uint8_t, kDataRecSize> EncodeDataRec(const TDataRec& r) {
  std::array<uint8_t, kDataRecSize> b{};  // reserved bytes 9..15 stay zero
  PutF64(&b[0], r.Time);
  b[8] = r.Address;
  std::memcpy(&b[16], r.Block.data(), kMeasureBlockSize);
  return b;
}

TDataRec DecodeDataRec(const uint8_t* bytes) {
  TDataRec r;
  r.Time = GetF64(bytes);
  r.Address = bytes[8];
  std::memcpy(r.Block.data(), bytes + 16, kMeasureBlockSize);
  return r;
}

std::string DataLogFileName(double stamp) {
  // Year and month as the record's time reads on screen, so a sample lands in the month file
  // that the viewer opens for the date it shows.
  std::string text = FormatDateTime(stamp);
  if (text.size() < 7) return "";
  return "DataLog" + text.substr(0, 4) + "_" + text.substr(5, 2) + ".dat";
}

TDataLog::TDataLog(std::string recordDir) : recordDir_(std::move(recordDir)) {}

int TDataLog::RecordCount(const std::string& path) {
  EnsureFile(path);
  return static_cast<int>(WholeRecords(path, kDataRecSize));
}

bool TDataLog::Append(const TDataRec& rec) {
  if (!std::isfinite(rec.Time)) return false;  // no month to file it under
  std::string name = DataLogFileName(rec.Time);
  if (name.empty()) return false;
  std::string path = (fs::path(recordDir_) / name).string();
  std::int64_t size = month_.HeldSize(path);
  if (size < 0) {
    // First sample of the run or of a month, or the file or its folder changed underneath.
    if (!EnsureFolder(recordDir_)) return false;
    if (!EnsureFile(path)) return false;
    size = month_.Open(path);
    if (size < 0) return false;
  }
  // Counted in 64 bits: a month file is allowed to grow past what an int counts in records.
  auto bytes = EncodeDataRec(rec);
  return month_.WriteAt(size / kDataRecSize, bytes.data(), kDataRecSize);
}

void SampleDataLog(const DeviceModel& model, TDataLog& log, const Clock& clock) {
  const TEquipList& list = model.EquipList;
  int appended = 0;
  for (int i = 1; i <= list.Count && i <= kMaxDevices; ++i) {
    uint8_t addr = list.Items[i].Addr;
    if (addr >= kTableSize) continue;
    const TUpsInfo& u = model.UpsTable[addr];
    if (u.CommState != kCommOk) continue;
    TDataRec rec;
    rec.Time = clock.Now();
    rec.Address = addr;
    rec.Block = MeasureBlock(u);
    log.Append(rec);
    ++appended;
  }
  // No unit communicates: sampling may stay idle for long, so the month file is not kept open
  // meanwhile (the operator may delete it to free its space).
  if (appended == 0) log.Release();
}

}  // namespace tessel
