// tessel-sim as a program: on real pseudo-terminals, against an independent Modbus master
// (mbpoll) and against ASCII requests written here, with its fault switches and its exits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Upper bound for every wait on the simulator; conditions normally hold within milliseconds.
constexpr double kWait = 10.0;

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/tessel-sim-test-XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path_); }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// A child process with its standard input and output on pipes.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) {
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(out[1], 2);
      close(in[1]);
      close(out[0]);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
  }
  ~Child() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(in_);
    close(out_);
  }

  void Send(const std::string& text) {
    ASSERT_EQ(write(in_, text.data(), text.size()), (ssize_t)text.size());
  }
  void CloseInput() {
    close(in_);
    in_ = -1;
  }

  // Waits for a line of output matching re; returns its match (empty on timeout or exit).
  std::smatch WaitLine(const std::string& pattern) {
    std::regex re(pattern);
    auto t0 = Clock::now();
    for (;;) {
      while (next_ < lines_.size()) {
        std::smatch m;
        const std::string& l = lines_[next_++];
        if (std::regex_search(l, m, re)) return m;
      }
      if (Since(t0) > kWait || !Pump(0.2)) return {};
    }
  }
  bool Seen(const std::string& pattern) {
    std::regex re(pattern);
    for (const std::string& l : lines_)
      if (std::regex_search(l, re)) return true;
    return false;
  }
  std::string Output() const {
    std::string s;
    for (const std::string& l : lines_) s += l + "\n";
    return s + partial_;
  }

  // Waits for the exit; returns the status, or -1 when it does not end in time.
  int Wait() {
    auto t0 = Clock::now();
    while (Since(t0) < kWait) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        while (Pump(0)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      Pump(0.05);
    }
    return -1;
  }
  pid_t Pid() const { return pid_; }

 private:
  // Reads what is there; false at end of output.
  bool Pump(double seconds) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0) return true;
    char buf[4096];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return n < 0;
    partial_.append(buf, n);
    size_t nl;
    while ((nl = partial_.find('\n')) != std::string::npos) {
      lines_.push_back(partial_.substr(0, nl));
      partial_.erase(0, nl + 1);
    }
    return true;
  }

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  bool exited_ = false;
  std::vector<std::string> lines_;
  size_t next_ = 0;
  std::string partial_;
};

// The simulator, started and waited for until it is ready.
class Sim : public Child {
 public:
  explicit Sim(std::vector<std::string> args) : Child(WithProgram(args)) {
    auto m = WaitLine("^tessel-sim: line (\\S+)");
    if (!m.empty()) path = m[1];
    ready = !WaitLine("^tessel-sim: ready$").empty();
  }
  std::string path;
  bool ready = false;

 private:
  static std::vector<std::string> WithProgram(std::vector<std::string> args) {
    args.insert(args.begin(), TESSEL_SIM_PATH);
    return args;
  }
};

// The monitor's end of the line: raw, reading with bounded waits.
class Port {
 public:
  explicit Port(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
    EXPECT_GE(fd_, 0) << path;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
  }
  explicit Port(int fd) : fd_(fd) {}
  ~Port() { close(fd_); }
  void Write(const std::string& s) { ASSERT_EQ(write(fd_, s.data(), s.size()), (ssize_t)s.size()); }
  // Reads until `done` holds for what arrived, or the wait runs out.
  template <typename Done>
  std::string ReadUntil(Done done) {
    auto t0 = Clock::now();
    while (!done(got_) && Since(t0) < kWait) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 100) > 0) {
        char buf[1024];
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) got_.append(buf, n);
      }
    }
    std::string s = got_;
    got_.clear();
    return s;
  }
  std::string ReadFrame() {
    return ReadUntil([](const std::string& s) { return s.find('\r') != std::string::npos; });
  }

 private:
  int fd_;
  std::string got_;
};

std::string Hex(unsigned v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", width, v);
  return buf;
}

std::string Checksum(const std::string& f, size_t last) {
  unsigned sum = 0;
  for (size_t i = 1; i <= last; ++i) sum += static_cast<unsigned char>(f[i]);
  return Hex((65536 - sum % 65536) % 65536, 4);
}

std::string Request(const std::string& ver, int addr, const std::string& cid2) {
  std::string f = "~" + ver + Hex(addr, 2) + "2A" + cid2 + "0000";
  return f + Checksum(f, f.size() - 1) + "\r";
}

bool ChecksumHolds(const std::string& f) {
  return f.size() >= 18 && f.substr(f.size() - 5, 4) == Checksum(f, f.size() - 6);
}

// Runs mbpoll once against the line; returns its exit status and the registers it printed.
int Mbpoll(const std::vector<std::string>& args, std::map<int, int>* regs, std::string* text) {
  std::vector<std::string> argv{"mbpoll", "-m", "rtu", "-b", "9600", "-P", "none", "-1", "-o", "1"};
  argv.insert(argv.end(), args.begin(), args.end());
  Child mb(argv);
  int status = mb.Wait();
  std::string out = mb.Output();
  if (text) *text = out;
  if (regs) {
    std::regex re("\\[(\\d+)\\]:\\s+(-?\\d+)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), re); it != std::sregex_iterator();
         ++it)
      (*regs)[std::stoi((*it)[1])] = std::stoi((*it)[2]);
  }
  return status;
}

TEST(SimProgram, ModbusUnitsAnswerAnIndependentMaster) {
  Sim sim({"--protocol", "2", "--addr", "1,3", "--scenario", TESSEL_SIM_EXAMPLE, "--no-noise",
           "--no-commands"});
  ASSERT_TRUE(sim.ready) << sim.Output();

  std::map<int, int> regs;
  std::string text;
  ASSERT_EQ(Mbpoll({"-a", "3", "-t", "3", "-r", "30001", "-c", "14", sim.path}, &regs, &text), 0)
      << text;
  // The example scenario's first step, in tenths of volts and hertz.
  std::map<int, int> expected{{30001, 2300}, {30002, 2290}, {30003, 2310}, {30011, 2300},
                              {30012, 2300}, {30013, 2300}, {30014, 500}};
  for (int r = 30004; r <= 30010; ++r) expected[r] = 0;
  EXPECT_EQ(regs, expected) << text;

  regs.clear();
  ASSERT_EQ(Mbpoll({"-a", "1", "-t", "3", "-r", "30021", "-c", "18", sim.path}, &regs, &text), 0);
  EXPECT_EQ(regs[30021], 42);
  EXPECT_EQ(regs[30031], 2700);
  EXPECT_EQ(regs[30037], 100);
  EXPECT_EQ(regs[30038], 60);

  // A parameter written with function 6 is read back, by this unit only.
  ASSERT_EQ(Mbpoll({"-a", "1", "-t", "4", "-r", "40005", sim.path, "231"}, nullptr, &text), 0)
      << text;
  EXPECT_FALSE(sim.WaitLine("addr=1 fc=6 reg=40005 value=231 answered: parameter stored").empty());
  regs.clear();
  ASSERT_EQ(Mbpoll({"-a", "1", "-t", "4", "-r", "40001", "-c", "29", sim.path}, &regs, &text), 0);
  EXPECT_EQ(regs[40005], 231);
  EXPECT_EQ(regs[40006], 50);
  regs.clear();
  ASSERT_EQ(Mbpoll({"-a", "3", "-t", "4", "-r", "40005", sim.path}, &regs, &text), 0);
  EXPECT_EQ(regs[40005], 220);

  // Switched off: the state words say "no output" and the outputs are zero.
  ASSERT_EQ(Mbpoll({"-a", "1", "-t", "4", "-r", "20002", sim.path, "1"}, nullptr, &text), 0);
  regs.clear();
  ASSERT_EQ(Mbpoll({"-a", "1", "-t", "3:hex", "-r", "30081", "-c", "4", sim.path}, &regs, &text),
            0);
  EXPECT_NE(text.find("[30084]: \t0x0400"), std::string::npos) << text;
  regs.clear();
  ASSERT_EQ(Mbpoll({"-a", "1", "-t", "3", "-r", "30011", "-c", "4", sim.path}, &regs, &text), 0);
  EXPECT_EQ(regs, (std::map<int, int>{{30011, 0}, {30012, 0}, {30013, 0}, {30014, 0}}));

  // An address nobody has stays silent; an unknown register gets an exception.
  EXPECT_NE(Mbpoll({"-a", "2", "-o", "0.2", "-t", "3", "-r", "30001", sim.path}, nullptr, &text),
            0);
  EXPECT_FALSE(sim.WaitLine("addr=2 fc=4 no unit, silent").empty());
  EXPECT_NE(Mbpoll({"-a", "1", "-t", "3", "-r", "30015", sim.path}, nullptr, &text), 0);
  EXPECT_NE(text.find("Illegal data address"), std::string::npos) << text;
}

TEST(SimProgram, OnlyTheConfiguredAddressesAnswerASearch) {
  Sim sim({"--protocol", "1", "--addr", "2,5-6", "--no-commands"});
  ASSERT_TRUE(sim.ready) << sim.Output();
  Port port(sim.path);
  std::vector<int> answered;
  for (int addr = 1; addr <= 7; ++addr) {
    port.Write(Request("11", addr, "43"));
    auto m = sim.WaitLine("^\\S+ addr=" + std::to_string(addr) + " cid2=43 (.*)$");
    ASSERT_FALSE(m.empty()) << sim.Output();
    if (m[1].str().find("no unit, silent") != std::string::npos) continue;
    std::string f = port.ReadFrame();
    ASSERT_TRUE(ChecksumHolds(f)) << f;
    answered.push_back(std::stoi(f.substr(3, 2), nullptr, 16));
  }
  EXPECT_EQ(answered, (std::vector<int>{2, 5, 6}));
  // Nothing stray is left on the line: the next bytes are the next unit's answer.
  port.Write(Request("11", 6, "41"));
  std::string f = port.ReadFrame();
  EXPECT_EQ(f.substr(0, 9), "~11062A00");
  EXPECT_EQ(f.size(), 108u);
}

TEST(SimProgram, FaultSwitchesMisbehaveAsAsked) {
  const std::string req = Request("31", 1, "42");
  {
    SCOPED_TRACE("checksum");
    Sim sim({"--protocol", "0", "--addr", "1", "--fault", "checksum", "--no-commands"});
    Port port(sim.path);
    port.Write(req);
    std::string f = port.ReadFrame();
    ASSERT_EQ(f.size(), 64u) << f;
    EXPECT_EQ(f.substr(9, 4), "002E");  // LENGTH still right
    EXPECT_FALSE(ChecksumHolds(f)) << f;
  }
  {
    SCOPED_TRACE("rtn, garbage");
    Sim sim({"--protocol", "0", "--addr", "1", "--fault", "rtn=4", "--fault", "garbage=6",
             "--no-commands"});
    Port port(sim.path);
    port.Write(req);
    std::string f = port.ReadFrame();
    ASSERT_EQ(f.size(), 6u + 18u) << f;
    EXPECT_EQ(f.find('~'), 6u);
    std::string frame = f.substr(6);
    EXPECT_EQ(frame.substr(0, 13), "~31012A040000");
    EXPECT_TRUE(ChecksumHolds(frame)) << frame;
  }
  {
    SCOPED_TRACE("split, delay");
    Sim sim({"--protocol", "0", "--addr", "1", "--fault", "split=300", "--fault", "delay=200",
             "--no-commands"});
    Port port(sim.path);
    auto t0 = Clock::now();
    port.Write(req);
    std::string first = port.ReadUntil([](const std::string& s) { return !s.empty(); });
    double firstAt = Since(t0);
    std::string rest = port.ReadFrame();
    double restAt = Since(t0);
    EXPECT_TRUE(ChecksumHolds(first + rest)) << first << rest;
    EXPECT_EQ((first + rest).size(), 64u);
    // Lower bounds only: the simulator cannot send earlier than it was told.
    EXPECT_GE(firstAt, 0.2);
    EXPECT_GE(restAt - firstAt, 0.25);
  }
  {
    SCOPED_TRACE("silent every second request, switched at run time");
    Sim sim({"--protocol", "2", "--addr", "1", "--fault", "silent/2"});
    std::string text;
    EXPECT_EQ(Mbpoll({"-a", "1", "-t", "3", "-r", "30001", sim.path}, nullptr, &text), 0) << text;
    EXPECT_NE(Mbpoll({"-a", "1", "-o", "0.2", "-t", "3", "-r", "30001", sim.path}, nullptr, &text),
              0);
    EXPECT_FALSE(sim.WaitLine("addr=1 fc=4 .* \\[fault silent/2\\] -> silent").empty());
    EXPECT_EQ(Mbpoll({"-a", "1", "-t", "3", "-r", "30001", sim.path}, nullptr, &text), 0);
    sim.Send("clear\nfault exception=6@1\n");
    ASSERT_FALSE(sim.WaitLine("command: fault on: error=6@1").empty()) << sim.Output();
    EXPECT_NE(Mbpoll({"-a", "1", "-t", "3", "-r", "30001", sim.path}, nullptr, &text), 0);
    EXPECT_NE(text.find("Slave device or server is busy"), std::string::npos) << text;
  }
}

TEST(SimProgram, OpensAGivenDeviceAndLeavesCleanlyOnSignals) {
  TempDir dir;
  {
    // --device: the test holds the other end of a pseudo-terminal.
    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    Sim sim({"--protocol", "0", "--addr", "4", "--device", name, "--no-commands"});
    ASSERT_TRUE(sim.ready) << sim.Output();
    EXPECT_EQ(sim.path, name);
    Port port(master);
    port.Write(Request("31", 4, "82"));
    std::string f = port.ReadFrame();
    EXPECT_EQ(f.substr(0, 13), "~31042A00101E") << f;
    kill(sim.Pid(), SIGINT);
    EXPECT_EQ(sim.Wait(), 0);
    close(slave);
  }
  for (int sig : {SIGTERM, SIGINT}) {
    fs::path link = dir / "ups";
    Sim sim({"--protocol", "3", "--addr", "1", "--link", link.string(), "--no-commands"});
    ASSERT_TRUE(sim.ready) << sim.Output();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), sim.path);
    std::string text;
    EXPECT_EQ(Mbpoll({"-a", "1", "-t", "3", "-r", "30001", link.string()}, nullptr, &text), 0)
        << text;
    kill(sim.Pid(), sig);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_TRUE(sim.Seen("^tessel-sim: stopped$"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  }
  // A file in the way of --link is not replaced.
  fs::path file = dir / "precious";
  std::ofstream(file) << "keep";
  Sim blocked({"--protocol", "0", "--link", file.string(), "--no-commands"});
  EXPECT_EQ(blocked.Wait(), 1);
  EXPECT_TRUE(fs::is_regular_file(file));
}

TEST(SimProgram, HelpAndCommandLineMistakes) {
  Sim help({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  std::string text = help.Output();
  for (const char* word :
       {"--protocol",    "--addr",           "--device", "--link",         "--baud",
        "--scenario",    "--fault",          "--speed",  "--step-seconds", "--no-noise",
        "--no-commands", "--print-scenario", "silent",   "delay",          "checksum",
        "split",         "garbage",          "rtn",      "exception",      "loop",
        "tp_b0",         "batt_capa",        "SIGTERM"})
    EXPECT_NE(text.find(word), std::string::npos) << word;

  TempDir dir;
  std::ofstream(dir / "bad.txt") << "0 state = online\n10 voltage = 3\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--protocol", "7"}, "--protocol takes"},
      {{"--addr", "1"}, "--protocol is required"},
      {{"--protocol", "0", "--addr", "1-300"}, "bad address list"},
      {{"--protocol", "0", "--fault", "sleepy"}, "unknown fault"},
      {{"--protocol", "0", "--scenario", (dir / "bad.txt").string()}, "bad.txt:2: unknown field"},
      {{"--protocol", "0", "--scenario", (dir / "none.txt").string()}, "cannot read"},
  };
  for (const auto& [args, message] : cases) {
    Sim sim(args);
    EXPECT_EQ(sim.Wait(), 2) << message;
    EXPECT_NE(sim.Output().find(message), std::string::npos) << sim.Output();
  }
}

}  // namespace
