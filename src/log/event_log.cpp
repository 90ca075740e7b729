#include "log/event_log.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "log/record_file.h"
#include "model/flags.h"
#include "model/little_endian.h"
#include "model/zero_pad.h"

namespace tessel {

using le::GetF64;
using le::GetU32;
using le::PutF64;
using le::PutU32;

namespace fs = std::filesystem;

namespace {

constexpr int kMaxAutoArchives = 1000;  // EventLog_000.dat .. EventLog_999.dat

}  // namespace

std::array<uint8_t, kEventRecSize> EncodeEventRec(const TEventRec& r) {
  std::array<uint8_t, kEventRecSize> b{};  // padding and reserved bytes stay zero
  PutF64(&b[0], r.Time);
  b[8] = r.Address;
  b[9] = r.Kind;
  PutU32(&b[12], static_cast<uint32_t>(r.Code));
  b[16] = r.AlarmState;
  std::memcpy(&b[22], r.StatusSnapshot.data(), kStatusBlockSize);
  return b;
}

TEventRec DecodeEventRec(const uint8_t* bytes) {
  TEventRec r;
  r.Time = GetF64(bytes);
  r.Address = bytes[8];
  r.Kind = bytes[9];
  r.Code = static_cast<int32_t>(GetU32(bytes + 12));
  r.AlarmState = bytes[16];
  std::memcpy(r.StatusSnapshot.data(), bytes + 22, kStatusBlockSize);
  return r;
}

TEventLog::TEventLog(std::string recordDir, std::string backupDir, std::string fileName,
                     const TUpsTable& table, const Clock& clock)
    : recordDir_(std::move(recordDir)),
      backupDir_(std::move(backupDir)),
      fileName_(std::move(fileName)),
      filePath_((fs::path(recordDir_) / fileName_).string()),
      table_(table),
      clock_(clock) {}

int TEventLog::RecordCount() {
  EnsureFolder(recordDir_);
  EnsureFile(filePath_);
  return static_cast<int>(WholeRecords(filePath_, kEventRecSize));
}

std::int64_t TEventLog::LiveSize() {
  std::int64_t size = live_.HeldSize(filePath_);
  if (size >= 0) return size;
  // First append, or the file or its folder changed underneath: the checks of a first append.
  EnsureFolder(recordDir_);
  EnsureFile(filePath_);
  return live_.Open(filePath_);
}

bool TEventLog::Append(const TEventRec& rec) {
  std::int64_t size = LiveSize();
  if (size < 0) return false;
  std::int64_t count = size / kEventRecSize;
  if (count > kEventLogMaxRecords && Rotate()) {
    size = LiveSize();
    if (size < 0) return false;
    count = size / kEventRecSize;
  }
  // Writing at the whole-record position overwrites a trailing partial record and nothing else.
  auto bytes = EncodeEventRec(rec);
  if (!live_.WriteAt(count, bytes.data(), kEventRecSize)) return false;
  Changed = kFlagOn;
  if (OnAppended) OnAppended(rec);
  return true;
}

bool TEventLog::Rotate() {
  // The live file is emptied only once a complete copy of it exists; otherwise it keeps growing
  // and the next append tries again.
  if (!EnsureFolder(backupDir_)) return false;
  for (int n = 0; n < kMaxAutoArchives; ++n) {
    fs::path name = fs::path(backupDir_) / ("EventLog_" + ZeroPad(n, 3) + ".dat");
    std::error_code ec;
    if (fs::exists(name, ec) || ec) continue;
    if (!CopyToNewFile(filePath_, name)) return false;
    fs::resize_file(filePath_, 0, ec);
    return !ec;
  }
  return false;
}

void TEventLog::LogProgramEvent(int which) {
  if (which != 0 && which != 1) return;
  TEventRec r;
  r.Time = clock_.Now();
  r.Address = 0;
  r.Kind = 0;
  r.Code = which == 0 ? 20 : 21;
  r.AlarmState = 255;
  Append(r);
}

void TEventLog::LogDeviceEvent(int type, uint8_t address) {
  if (address >= kTableSize) return;
  const TUpsInfo& u = table_[address];
  TEventRec r;
  r.Kind = 0;
  switch (type) {
    case 2:
      r.Code = 22;
      break;
    case 3:
      r.Code = 18;
      break;
    case 4:
      r.Code = 23;
      break;
    case 5:
      r.Code = 19;
      break;
    case 6:
      r.Kind = 1;
      r.Code = u.RunState;
      break;
    default:
      return;
  }
  r.Time = clock_.Now();
  r.Address = u.Addr;
  r.AlarmState = 255;
  r.StatusSnapshot = StatusBlock(u);
  Append(r);
}

void TEventLog::LogNetworkRequest(int code, uint8_t address) {
  if (address >= kTableSize || code < kEventNetLoadOn || code > kEventNetParamWrite) return;
  const TUpsInfo& u = table_[address];
  TEventRec r;
  r.Time = clock_.Now();
  r.Address = address;
  r.Kind = 0;
  r.Code = code;
  r.AlarmState = 255;
  r.StatusSnapshot = StatusBlock(u);
  Append(r);
}

void TEventLog::Clear() {
  EnsureFolder(backupDir_);
  fs::path name;
  for (long long n = 1;; ++n) {
    name = fs::path(backupDir_) / ("EventLog" + std::to_string(n) + ".dat");
    std::error_code ec;
    if (!fs::exists(name, ec)) break;
  }
  if (RecordCount() >= 1) {
    std::error_code ec;
    fs::copy_file(filePath_, name, fs::copy_options::overwrite_existing, ec);
  }
  // The operator asked for an empty log, so it is emptied even when the copy failed.
  std::error_code ec;
  fs::resize_file(filePath_, 0, ec);
}

}  // namespace tessel
