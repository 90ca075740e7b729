// The operator's settings as the program holds them in memory: the port record, the language
// flag and the data-log interval.
#pragma once

#include <cstdint>
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
  // Fast polling ([CommPort] FastPoll=1): an accepted answer ends the wait, answers end by their
  // length, and the operating state of every unit is read in every round. Off: the fixed cadence.
  bool FastPoll = false;
};

struct Settings {
  TPortInfo PortInfo;
  uint8_t Language = 0;     // 1 Chinese, anything else English
  int32_t RecInterval = 0;  // poll ticks between data-log samples; 0 switches logging off
};

inline bool IsChinese(uint8_t language) {
  return language == 1;
}

}  // namespace tessel
