// The settings file reader on arbitrary file content, and the writer over the same content:
// whatever the file held, writing the values and reading them back must give the same values.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/settings_file.h"
#include "fuzz_support.h"

using namespace tessel;

namespace {

bool SameValues(const Settings& a, const Settings& b) {
  const TPortInfo &p = a.PortInfo, &q = b.PortInfo;
  return p.ComName == q.ComName && p.BaudRate == q.BaudRate && p.StopBits == q.StopBits &&
         p.AutoStart == q.AutoStart && p.Protocol == q.Protocol &&
         p.ReadIntervalTimeout == q.ReadIntervalTimeout && p.WaitTimer == q.WaitTimer &&
         p.MaxReSend == q.MaxReSend && p.CommErrCnt == q.CommErrCnt &&
         p.CommLostCnt == q.CommLostCnt && a.Language == b.Language &&
         a.RecInterval == b.RecInterval;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ScratchDir() + "/UserParaIni.ini";
  fuzz::WriteFile(path, data, size);

  Settings s;
  ReadUserParaIni(path, s);
  // 0 is logging off; any other interval is at least 50 ticks.
  if (s.RecInterval != 0 && s.RecInterval < 50) __builtin_trap();

  // Values the operator may set, written over whatever the file held.
  Settings want = s;
  want.PortInfo.ComName = "COM3";
  want.PortInfo.BaudRate = 4800;
  want.PortInfo.AutoStart = !s.PortInfo.AutoStart;
  want.Language = static_cast<uint8_t>(s.Language ^ 1);
  want.RecInterval = s.RecInterval == 0 ? 600 : s.RecInterval + 10;
  WriteUserParaIni(path, want);
  Settings back;
  ReadUserParaIni(path, back);
  if (!SameValues(want, back)) __builtin_trap();

  // The values read from the file itself survive a write unchanged as well.
  WriteUserParaIni(path, s);
  ReadUserParaIni(path, back);
  if (!SameValues(s, back)) __builtin_trap();
  return 0;
}
