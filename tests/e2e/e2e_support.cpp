#include "e2e_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

#include "app/device_list_file.h"
#include "model/ups_info.h"

extern char** environ;

namespace fs = std::filesystem;

namespace tessel::e2e {

namespace {

uint64_t GetU64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

double GetDouble(const uint8_t* p) {
  const uint64_t bits = GetU64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  int outPipe[2], inPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return;
  if (pipe2(inPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDERR_FILENO);
  // The child starts with the default signal handling, whatever the test process installed.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(outPipe[1]);
  close(inPipe[0]);
  out_ = outPipe[0];
  in_ = inPipe[1];
  fcntl(out_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  if (out_ >= 0) close(out_);
  if (in_ >= 0) close(in_);
}

void ChildProcess::Pump() {
  if (out_ < 0) return;
  char buf[4096];
  ssize_t n;
  while ((n = read(out_, buf, sizeof buf)) > 0) {
    partial_.append(buf, static_cast<size_t>(n));
    size_t nl;
    while ((nl = partial_.find('\n')) != std::string::npos) {
      lines_.push_back({SteadyClock::now(), partial_.substr(0, nl)});
      partial_.erase(0, nl + 1);
    }
  }
}

std::string ChildProcess::Transcript() {
  Pump();
  std::string all;
  for (const OutputLine& l : lines_) all += l.text + "\n";
  return all + partial_;
}

bool ChildProcess::WriteInput(const std::string& text) {
  return in_ >= 0 && write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool ChildProcess::Signal(int sig) {
  return pid_ > 0 && !reaped_ && kill(pid_, sig) == 0;
}

std::optional<int> ChildProcess::WaitExit(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return std::nullopt;
  WaitFor(
      [&] {
        Pump();
        if (!reaped_ && waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
        return reaped_;
      },
      limit);
  Pump();
  if (reaped_ && WIFEXITED(status_)) return WEXITSTATUS(status_);
  return std::nullopt;
}

bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
  const auto end = SteadyClock::now() + limit;
  for (;;) {
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (cond()) return true;
    if (SteadyClock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TempHome::TempHome() {
  char tmpl[] = "/tmp/tessel-e2e-XXXXXX";
  const char* made = mkdtemp(tmpl);
  path_ = made ? made : "";
}

TempHome::~TempHome() {
  if (path_.empty()) return;
  if (::testing::Test::HasFailure()) {
    std::printf("Program folder kept for inspection: %s\n", path_.c_str());
    return;
  }
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void WriteSettings(const std::string& home, const std::string& comName, int protocol) {
  std::ofstream f(home + "/UserParaIni.ini");
  // 50 ticks is the shortest interval the program accepts: a sample every 5.1 s.
  f << "[CommPort]\nComName=" << comName << "\nBaudRate=9600\nProtocol=" << protocol
    << "\nReadIntervalTimeout=200\n[CommMast]\nMaxReSend=2\n[DataLog]\nRecInterval=50\n";
}

void WriteDeviceList(const std::string& home, const std::vector<int>& addrs) {
  fs::create_directories(home + "/Record");
  TEquipList list;
  for (size_t i = 0; i < addrs.size(); ++i) {
    TEquipRec rec;
    rec.NodeIndex = static_cast<uint8_t>(3 * i);
    rec.Addr = static_cast<uint8_t>(addrs[i]);
    rec.Name = MakeNameField("UPS-" + std::to_string(addrs[i]));
    AppendDevice(list, rec);
  }
  ASSERT_TRUE(SaveDeviceList(home + "/Record/TreeNode.dat", list));
}

std::unique_ptr<ChildProcess> StartSim(int protocol, const std::string& addrs,
                                       const std::vector<std::string>& extraArgs,
                                       const std::string& link) {
  std::vector<std::string> argv = {
      TESSEL_SIM_PATH, "--protocol", std::to_string(protocol), "--addr", addrs, "--link", link,
      "--no-noise"};
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  auto sim = std::make_unique<ChildProcess>(argv);
  EXPECT_TRUE(sim->Started());
  const bool ready = WaitFor(
      [&] {
        for (const OutputLine& l : sim->Lines())
          if (l.text == "tessel-sim: ready") return fs::is_symlink(link);
        return false;
      },
      std::chrono::seconds(20));
  EXPECT_TRUE(ready) << "tessel-sim did not come up:\n" << sim->Transcript();
  return sim;
}

std::string FrontEndName(FrontEnd front) {
  switch (front) {
    case FrontEnd::Service:
      return "tesseld";
    case FrontEnd::Headless:
      return "tessel --headless";
    case FrontEnd::Window:
      return "tessel window";
  }
  return "?";
}

std::unique_ptr<ChildProcess> StartMonitor(const std::string& home, FrontEnd front) {
  std::vector<std::string> argv;
  switch (front) {
    case FrontEnd::Service:
      argv = {TESSELD_PATH, "--home", home};
      break;
    case FrontEnd::Headless:
      argv = {TESSEL_PATH, "--headless", "--home", home};
      break;
    case FrontEnd::Window:
      argv = {"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", TESSEL_PATH, "--home", home};
      break;
  }
  auto monitor = std::make_unique<ChildProcess>(argv);
  EXPECT_TRUE(monitor->Started());
  return monitor;
}

std::vector<EventRecord> ReadEventLog(const std::string& path) {
  const std::vector<uint8_t> all = ReadAll(path);
  std::vector<EventRecord> recs;
  for (size_t i = 0; i + 48 <= all.size(); i += 48) {
    const uint8_t* r = &all[i];
    EventRecord e;
    e.time = GetDouble(r);
    e.addr = r[8];
    e.kind = r[9];
    e.code = static_cast<int32_t>(GetU32(r + 12));
    e.alarmState = r[16];
    recs.push_back(e);
  }
  return recs;
}

std::string Describe(const std::vector<EventRecord>& recs) {
  std::string s;
  for (const EventRecord& e : recs)
    s += "{addr " + std::to_string(e.addr) + ", kind " + std::to_string(e.kind) + ", code " +
         std::to_string(e.code) + ", alarm " + std::to_string(e.alarmState) + "}\n";
  return s;
}

std::vector<DataRecord> ReadDataLog(const std::string& recordDir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(recordDir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("DataLog", 0) == 0 && entry.path().extension() == ".dat")
      files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  std::vector<DataRecord> recs;
  for (const std::string& file : files) {
    const std::vector<uint8_t> all = ReadAll(file);
    for (size_t i = 0; i + 128 <= all.size(); i += 128) {
      const uint8_t* r = &all[i];
      DataRecord d;
      d.time = GetDouble(r);
      d.addr = r[8];
      for (int k = 0; k < 11; ++k) d.values[k] = GetDouble(r + 16 + 8 * k);
      d.battCapa = GetU32(r + 104);
      d.battLivingTime = static_cast<uint16_t>(r[108] | r[109] << 8);
      d.battCurr1 = GetDouble(r + 112);
      d.battCurr2 = GetDouble(r + 120);
      recs.push_back(d);
    }
  }
  return recs;
}

bool IsRequestLineFor(const std::string& line, int addr) {
  const std::string tag = " addr=" + std::to_string(addr) + " ";
  return line.find(tag) != std::string::npos && line.find(" command:") == std::string::npos;
}

int NutServerPort(ChildProcess& monitor) {
  static const std::regex re("NUT server listening on 127\\.0\\.0\\.1:([0-9]+)");
  int port = 0;
  WaitFor(
      [&] {
        for (const OutputLine& l : monitor.Lines()) {
          std::smatch m;
          if (std::regex_search(l.text, m, re)) port = std::stoi(m[1]);
        }
        return port > 0;
      },
      std::chrono::seconds(20));
  return port;
}

}  // namespace tessel::e2e
