// What the end-to-end tests share: child processes with captured output, a fresh program folder
// with its settings and device list, the simulator on a pseudo-terminal, condition waits, and
// readers of the two log files that take every field from its byte offset.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessel::e2e {

using SteadyClock = std::chrono::steady_clock;

struct OutputLine {
  SteadyClock::time_point at;  // when the test read it
  std::string text;
};

// A child process whose standard output and error the test reads line by line and whose standard
// input it may write. The destructor kills a child that is still running.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Takes in what the child has written so far (never blocks).
  void Pump();
  const std::vector<OutputLine>& Lines() {
    Pump();
    return lines_;
  }
  std::string Transcript();
  bool WriteInput(const std::string& text);
  bool Signal(int sig);
  // The exit status once the child has exited normally within the limit; nothing when it was
  // killed by a signal or is still running.
  std::optional<int> WaitExit(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int in_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  std::string partial_;
  std::vector<OutputLine> lines_;
};

// Polls cond every 20 ms, running the Qt event loop when there is one, for at most limit.
bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit);

// A fresh program folder, removed afterwards unless the test failed (then its path is printed).
class TempHome {
 public:
  TempHome();
  ~TempHome();
  const std::string& Path() const { return path_; }
  std::string RecordDir() const { return path_ + "/Record/"; }
  std::string EventLogPath() const { return RecordDir() + "EventLog.dat"; }

 private:
  std::string path_;
};

// UserParaIni.ini with the line, the protocol choice and the shortest data-log interval.
void WriteSettings(const std::string& home, const std::string& comName, int protocol);
// Record/TreeNode.dat listing the units in this order.
void WriteDeviceList(const std::string& home, const std::vector<int>& addrs);

// tessel-sim on a pseudo-terminal linked at `link`, started and ready, or a failed expectation.
std::unique_ptr<ChildProcess> StartSim(int protocol, const std::string& addrs,
                                       const std::vector<std::string>& extraArgs,
                                       const std::string& link);
// The programs that run the monitor from outside: the service, the same code behind the windowed
// program's --headless, and the windowed program itself (on Qt's offscreen platform; it reports
// on standard error what the others print on standard output).
enum class FrontEnd { Service, Headless, Window };
std::string FrontEndName(FrontEnd front);
// The monitor on the program folder (tesseld unless told otherwise).
std::unique_ptr<ChildProcess> StartMonitor(const std::string& home,
                                           FrontEnd front = FrontEnd::Service);

// One event log record.
struct EventRecord {
  double time = 0;
  int addr = 0;
  int kind = 0;
  int32_t code = 0;
  int alarmState = 0;
};
std::vector<EventRecord> ReadEventLog(const std::string& path);
std::string Describe(const std::vector<EventRecord>& recs);

// One data log record: the measurement block unpacked.
struct DataRecord {
  double time = 0;
  int addr = 0;
  // InputV_A,B,C, OutputV_A,B,C, LoadPer_A,B,C, OutputFreq, DCInputV
  std::array<double, 11> values{};
  uint32_t battCapa = 0;
  uint16_t battLivingTime = 0;
  double battCurr1 = 0;
  double battCurr2 = 0;
};
// Every DataLog*.dat of the folder, month files in name order.
std::vector<DataRecord> ReadDataLog(const std::string& recordDir);

// The port of the network UPS server, once the monitor reports that it listens on 127.0.0.1; 0
// when it does not within 20 s.
int NutServerPort(ChildProcess& monitor);

// The sim's request lines "<seconds> addr=N ..." for one address.
bool IsRequestLineFor(const std::string& line, int addr);

}  // namespace tessel::e2e
