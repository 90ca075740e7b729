// The data log: one file of 128-byte samples per month, "DataLogYYYY_MM.dat" in the record folder.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "log/record_file.h"
#include "model/clock.h"
#include "model/ups_info.h"

namespace tessel {

constexpr int kDataRecSize = 128;

struct TDataRec {
  double Time = 0;
  uint8_t Address = 0;
  std::array<uint8_t, kMeasureBlockSize> Block{};
};

std::array<uint8_t, kDataRecSize> EncodeDataRec(const TDataRec& r);
TDataRec DecodeDataRec(const uint8_t* bytes);
// "DataLog2008_12.dat" for a time stamp in December 2008.
std::string DataLogFileName(double stamp);

class TDataLog {
 public:
  explicit TDataLog(std::string recordDir);
  int RecordCount(const std::string& path);
  bool Append(const TDataRec& rec);
  const std::string& RecordDir() const { return recordDir_; }
  // Lets go of the month file held open between appends (a deleted month file's space is freed
  // once nobody holds it). The next append opens it again.
  void Release() { month_.Close(); }

 private:
  std::string recordDir_;
  HeldRecordFile month_;  // the month file of the last append
};

// One sample of every communicating device of the list, in list order, each with its own time.
void SampleDataLog(const DeviceModel& model, TDataLog& log, const Clock& clock);

}  // namespace tessel
