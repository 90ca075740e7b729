// tessel-sim: UPS units on a serial line, for trying and testing the monitor without hardware.
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "sim_options.h"
#include "sim_server.h"

namespace {

using namespace tessel::sim;

// Replaces an old symlink, but never a file that is something else.
bool MakeLink(const std::string& link, const std::string& target, std::string& error) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = link + " exists and is not a symlink; not replacing it";
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    error = "cannot create the symlink " + link;
    return false;
  }
  return true;
}

void RemoveLinkIfOurs(const std::string& link, const std::string& target) {
  char buf[4096];
  ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n < 0) return;
  buf[n] = '\0';
  if (target == buf) unlink(link.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  SimOptions opt;
  std::string error;
  switch (ParseCommandLine(args, opt, error)) {
    case ParseOutcome::kHelp:
      std::cout << HelpText();
      return 0;
    case ParseOutcome::kPrintScenario:
      std::cout << DefaultScenarioText();
      return 0;
    case ParseOutcome::kError:
      std::cerr << "tessel-sim: " << error << "\n(tessel-sim --help tells more)\n";
      return 2;
    case ParseOutcome::kRun:
      break;
  }

  // Scenarios before the line, so a bad file fails without leaving anything behind.
  std::vector<SimUnit> units;
  for (size_t i = 0; i < opt.addrs.size(); ++i) {
    int addr = opt.addrs[i];
    std::string file;
    for (auto& [a, f] : opt.scenarios)
      if (a == 0 || a == addr) file = f;  // the last match wins, so ADDR=FILE can override
    Scenario sc;
    double phase = 0;
    if (file.empty()) {
      sc = DefaultScenario();
      // Units of the built-in scenario are spread over it, so they do not all look alike.
      phase = 40.0 * static_cast<double>(i);
    } else {
      auto loaded = LoadScenarioFile(file, error);
      if (!loaded) {
        std::cerr << "tessel-sim: " << error << "\n";
        return 2;
      }
      sc = *loaded;
    }
    if (opt.stepSeconds > 0) sc.Retime(opt.stepSeconds);
    units.emplace_back(addr, std::move(sc), phase, opt.noise);
  }

  // SIGINT and SIGTERM arrive through a descriptor the loop polls.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGHUP);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  int stopFd = signalfd(-1, &mask, SFD_CLOEXEC);
  signal(SIGPIPE, SIG_IGN);
  // Started in the background of a terminal, reading commands fails instead of stopping us.
  signal(SIGTTIN, SIG_IGN);

  auto line = opt.device.empty()
                  ? SerialLine::CreatePty(opt.baud, opt.stopBits, error)
                  : SerialLine::OpenDevice(opt.device, opt.baud, opt.stopBits, error);
  if (!line) {
    std::cerr << "tessel-sim: " << error << "\n";
    return 1;
  }
  if (!opt.link.empty() && !MakeLink(opt.link, line->Path(), error)) {
    std::cerr << "tessel-sim: " << error << "\n";
    return 1;
  }

  std::string addrs;
  for (int a : opt.addrs) addrs += (addrs.empty() ? "" : ",") + std::to_string(a);
  std::cout << "tessel-sim: protocol " << opt.protocol << " (" << ProtocolName(opt.protocol)
            << "), units " << addrs << "\n";
  std::cout << "tessel-sim: line " << line->Path() << " at " << opt.baud << " 8N" << opt.stopBits
            << (opt.device.empty() ? " (pseudo-terminal)" : "") << "\n";
  if (!opt.link.empty())
    std::cout << "tessel-sim: link " << opt.link << " -> " << line->Path() << "\n";
  for (const SimUnit& u : units) {
    double loop = u.GetScenario().LoopLength();
    std::cout << "tessel-sim: unit " << u.Addr() << ": scenario " << u.GetScenario().name;
    if (loop > 0) std::cout << " (loops every " << loop << " s)";
    std::cout << "\n";
  }
  for (const FaultSpec& f : opt.faults) std::cout << "tessel-sim: fault " << FaultText(f) << "\n";
  std::cout << "tessel-sim: ready" << std::endl;

  Simulator sim(opt, std::move(units), *line, std::cout);
  int status = sim.Run(stopFd, opt.commands ? STDIN_FILENO : -1);
  if (!opt.link.empty()) RemoveLinkIfOurs(opt.link, line->Path());
  std::cout << "tessel-sim: stopped" << std::endl;
  return status;
}
