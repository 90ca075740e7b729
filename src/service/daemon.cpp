#include "service/daemon.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "service/instance_guard.h"
#include "service/nut_listener.h"

namespace tessel {

Daemon::Daemon(const ProgramPaths& paths, std::FILE* out, PollLoop& loop)
    : out_(out),
      loop_(loop),
      port_(loop),
      host_(paths, port_, clock_, [&loop] { return loop.Now(); }),
      deadline_(host_, loop) {
  host_.AddListener(this);
  port_.OnReceive = [this](const uint8_t* data, int n) { host_.OnReceive(data, n); };
  port_.OnHangUp = [this] { host_.OnHangUp(port_.DeviceName()); };
}

Daemon::~Daemon() {
  nut_.reset();  // it reaches into the core
  if (signalFd_ >= 0) {
    loop_.Unwatch(signalFd_);
    close(signalFd_);
  }
  host_.RemoveListener(this);
  port_.Close();
}

void Daemon::Print(const std::string& line) {
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void Daemon::CatchStopSignals() {
  if (signalFd_ >= 0) return;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return;
  signalFd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (signalFd_ < 0) return;
  loop_.Watch(signalFd_, true, false, [this] {
    signalfd_siginfo info;
    while (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    host_.OnStopRequested();
  });
}

void Daemon::Start() {
  if (host_.Started()) return;
  host_.Start();
  std::string report;
  nut_ = StartNutListener(host_, loop_, report);
  if (!report.empty()) Print(report);
}

int Daemon::Run() {
  CatchStopSignals();
  Start();
  loop_.Run();
  return 0;
}

void Daemon::Stop() {
  if (nut_) nut_->Close();
  host_.Stop();
  loop_.Quit();
}

void Daemon::EventAppended(const TEventRec& rec) {
  Print(EventLine(rec, host_.Ctx().settings.Language));
}

void Daemon::PortFailed(const std::string& device) {
  Print("Serial port " + device + " failed; reopening every 10 s");
}

void Daemon::ReportPort(const std::string& error) {
  if (error.empty()) {
    Print(PortStatusText(host_.Ctx().settings));
    return;
  }
  // A ComName that names no port already comes back as the general text; say it once.
  const std::string text = PortOpenErrorText(host_.Ctx().settings.Language);
  if (error == text) {
    Print(text);
  } else {
    // The port's fixed text first, then the device, the system's reason and the advice.
    std::string indented = "  ";
    for (char c : error) indented += c == '\n' ? std::string("\n  ") : std::string(1, c);
    Print(text + "\n" + indented);
  }
  host_.RetryPortLater();
}

namespace {

const char kHelp[] =
    "Usage: %s [options]\n"
    "Tessel monitors UPS and inverter units on one serial port (RS-232, or RS-485 with up to\n"
    "252 addressed units). The program folder holds UserParaIni.ini, Record/ and Backup/.\n"
    "This is the monitor without windows: it prints each event as it is logged, until SIGINT or\n"
    "SIGTERM.\n"
    "\n"
    "Options:\n"
    "  -h, --help        Displays help on commandline options.\n"
    "  -v, --version     Displays version information.\n"
    "  --headless        Run without windows (always so here).\n"
    "  --home <DIR>      Use DIR as the program folder (default: $TESSEL_HOME, else the\n"
    "                    executable's folder, else $XDG_DATA_HOME/tessel).\n";

}  // namespace

int RunDaemon(int argc, char* argv[]) {
  const char* self = argc > 0 ? argv[0] : "tesseld";
  std::string homeOption;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help" || a == "--help-all") {
      std::printf(kHelp, self);
      return 0;
    }
    if (a == "-v" || a == "--version") {
      std::printf("Tessel %s\n", TESSEL_VERSION);
      return 0;
    }
    if (a == "--headless") continue;
    if (a == "--home" || a.rfind("--home=", 0) == 0) {
      if (a == "--home" && i + 1 >= argc) {
        std::fprintf(stderr, "Missing value after '--home'.\n");
        return 1;
      }
      homeOption = a == "--home" ? argv[++i] : a.substr(7);
      continue;
    }
    std::fprintf(stderr, "Unknown option '%s'.\n", a.c_str());
    return 1;
  }
  const ProgramPaths paths =
      MakeProgramPaths(ResolveProgramFolder(FolderChoiceOfThisProcess(homeOption)));

  PollLoop loop;
  InstanceGuard guard(paths.Home);
  if (!guard.Claim(loop)) {
    std::fprintf(stderr, "%s\n", AlreadyRunningText(paths.Home, guard.Reached()).c_str());
    return 0;
  }
  Daemon daemon(paths, stdout, loop);
  guard.OnActivate = [&daemon] {
    daemon.Print("Another copy asked this monitor to come to the front.");
  };
  return daemon.Run();
}

}  // namespace tessel
