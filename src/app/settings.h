// The operator's settings and the settings file "UserParaIni.ini".
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tessel {

struct TPortInfo {
  std::string ComName;
  int32_t BaudRate = 0;
  uint8_t StopBits = 0;
  bool AutoStart = false;
  uint8_t Protocol = 0;
  int32_t ReadIntervalTimeout = 0;
  uint8_t WaitTimer = 0;
  uint8_t MaxReSend = 0;
  uint8_t CommErrCnt = 0;
  uint8_t CommLostCnt = 0;
};

struct Settings {
  TPortInfo PortInfo;
  uint8_t Language = 0;     // 1 Chinese, anything else English
  int32_t RecInterval = 0;  // poll ticks between data-log samples; 0 switches logging off
};

inline bool IsChinese(uint8_t language) {
  return language == 1;
}

// Raised when the settings file cannot be written: "Unable to write to <full path>".
class SettingsWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr const char* kSettingsFileName = "UserParaIni.ini";

// Loads all twelve values (defaults for what is missing or malformed). Never touches the file.
void ReadUserParaIni(const std::string& path, Settings& s);
// Stores the twelve values, keeping every other line of the file. Throws SettingsWriteError.
void WriteUserParaIni(const std::string& path, const Settings& s);

}  // namespace tessel
