// The event log: "EventLog.dat" of 48-byte records in the record folder, archived into the backup
// folder when it grows past 5000 records or when the operator clears it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "log/record_file.h"
#include "model/clock.h"
#include "model/ups_info.h"

namespace tessel {

constexpr int kEventRecSize = 48;
constexpr int kEventLogMaxRecords = 5000;  // a live file past this is archived at the next append

// Kind 0 codes of the requests network clients sent to a unit (the user, the client and the value
// are in the server's audit line; the record keeps its 48 bytes).
constexpr int kEventNetLoadOn = 30;
constexpr int kEventNetLoadOff = 31;
constexpr int kEventNetTestStart = 32;
constexpr int kEventNetTestStop = 33;
constexpr int kEventNetParamWrite = 34;

struct TEventRec {
  double Time = 0;
  uint8_t Address = 0;
  uint8_t Kind = 0;  // 0 communication/program, 1 operating state, 2 alarm
  int32_t Code = 0;
  uint8_t AlarmState = 255;  // kind 2: 1 appeared, 0 cleared; otherwise 255
  std::array<uint8_t, kStatusBlockSize> StatusSnapshot{};
};

std::array<uint8_t, kEventRecSize> EncodeEventRec(const TEventRec& r);
TEventRec DecodeEventRec(const uint8_t* bytes);

class TEventLog {
 public:
  // Folders end with a path separator or not; both work. Touches no file.
  TEventLog(std::string recordDir, std::string backupDir, std::string fileName,
            const TUpsTable& table, const Clock& clock);

  int RecordCount();
  bool Append(const TEventRec& rec);
  void LogProgramEvent(int which);  // 0 started (20), 1 closing (21)
  void LogDeviceEvent(int type,
                      uint8_t address);  // 2 -> 22, 3 -> 18, 4 -> 23, 5 -> 19, 6 -> RunState
  // A network client's request queued for the unit at address: Kind 0, one of the kEventNet codes,
  // with the unit's status words at that moment.
  void LogNetworkRequest(int code, uint8_t address);
  void Clear();

  const std::string& FilePath() const { return filePath_; }
  const std::string& BackupDir() const { return backupDir_; }
  uint8_t Changed = 0;
  // Called after every successful append (the headless monitor prints the event).
  std::function<void(const TEventRec&)> OnAppended;

 private:
  // Archives the live file as the first free EventLog_NNN.dat and empties it; false (live file
  // untouched) when no complete archive could be made.
  bool Rotate();
  // Size in bytes of the live file, held open afterwards; made with its folder when the held file
  // is no longer the one at FilePath. -1 when it cannot be opened.
  std::int64_t LiveSize();

  std::string recordDir_, backupDir_, fileName_, filePath_;
  const TUpsTable& table_;
  const Clock& clock_;
  HeldRecordFile live_;
};

}  // namespace tessel
