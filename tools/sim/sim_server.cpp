#include "sim_server.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <sstream>

#include "sim_answer.h"

namespace tessel::sim {

namespace {

// Longer than 3.5 characters at any supported speed, and tolerant of scheduling jitter.
constexpr double kRtuSilence = 0.020;

bool IsAscii(int protocol) {
  return protocol == 0 || protocol == 1;
}

std::string Hex2(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
  return buf;
}

}  // namespace

Simulator::Simulator(const SimOptions& opt, std::vector<SimUnit> units, SerialLine& line,
                     std::ostream& log)
    : opt_(opt),
      units_(std::move(units)),
      line_(line),
      log_(log),
      start_(NowSeconds()),
      rtu_(kRtuSilence) {}

SimUnit* Simulator::FindUnit(int addr) {
  for (SimUnit& u : units_)
    if (u.Addr() == addr) return &u;
  return nullptr;
}

void Simulator::Log(double now, const std::string& text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%.3f ", now - start_);
  log_ << stamp << text << std::endl;  // flushed: tests and technicians follow it live
}

void Simulator::LogDiscarded(double now, size_t count) {
  if (count > 0) Log(now, "discarded " + std::to_string(count) + " byte(s) outside frames");
}

void Simulator::HandleAsciiFrame(const std::string& frame, double now) {
  AsciiRequest req = ParseAsciiRequest(frame);
  if (!req.readable) {
    Log(now, "unreadable request (" + req.problem + "), ignored");
    return;
  }
  SimUnit* unit = FindUnit(req.addr);
  std::string head = "addr=" + std::to_string(req.addr) + " ";
  if (!unit) {
    Log(now, head + "cid2=" + Hex2(req.cid2) + " no unit, silent");
    return;
  }
  Reply reply = AnswerAscii(opt_.protocol, req, *unit, ScenarioTime(now));
  requestBytes_ = frame.size();
  Deliver(*unit, reply, req.cid2, now);
}

void Simulator::HandleRtuFrame(const std::vector<uint8_t>& frame, double now) {
  ModbusRequest q = ParseModbusRequest(frame);
  std::string head = "addr=" + std::to_string(q.addr) + " ";
  if (q.addr == 0) {
    // Broadcast: writes reach every unit, nobody answers.
    if (q.function == 6 && frame.size() == 8) {
      for (SimUnit& u : units_) {
        std::string note;
        u.WriteRegister(q.reg, static_cast<uint16_t>(q.value), ScenarioTime(now), note);
        Log(now, "addr=" + std::to_string(u.Addr()) + " broadcast fc=6 reg=" +
                     std::to_string(q.reg) + " value=" + std::to_string(q.value) + ": " + note);
      }
    } else {
      Log(now, head + "fc=" + std::to_string(q.function) + " broadcast ignored");
    }
    return;
  }
  SimUnit* unit = FindUnit(q.addr);
  if (!unit) {
    Log(now, head + "fc=" + std::to_string(q.function) + " no unit, silent");
    return;
  }
  Reply reply = AnswerModbus(frame, *unit, ScenarioTime(now));
  requestBytes_ = frame.size();
  Deliver(*unit, reply, q.function, now);
}

void Simulator::Deliver(SimUnit& unit, const Reply& reply, int function, double now) {
  int n = unit.NextRequestNumber();
  std::vector<FaultSpec> active;
  auto consider = [&](const FaultSpec& f) {
    bool mine =
        f.addrs.empty() || std::find(f.addrs.begin(), f.addrs.end(), unit.Addr()) != f.addrs.end();
    if (mine && n % f.every == 0) active.push_back(f);
  };
  for (const FaultSpec& f : opt_.faults) consider(f);
  if (auto f = unit.ScenarioFault(ScenarioTime(now))) consider(*f);

  std::string text = "addr=" + std::to_string(unit.Addr()) + " " + reply.text;
  std::string faults;
  for (const FaultSpec& f : active) faults += (faults.empty() ? "" : " ") + FaultText(f);
  if (!faults.empty()) text += " [fault " + faults + "]";

  auto has = [&](FaultKind k) {
    return std::any_of(active.begin(), active.end(),
                       [k](const FaultSpec& f) { return f.kind == k; });
  };
  if (has(FaultKind::kSilent) || reply.bytes.empty()) {
    Log(now, text + " -> silent");
    return;
  }
  std::vector<uint8_t> bytes = reply.bytes;
  for (const FaultSpec& f : active)
    if (f.kind == FaultKind::kError)
      bytes = ErrorAnswer(opt_.protocol, unit.Addr(), function, f.value);
  if (has(FaultKind::kChecksum)) CorruptChecksum(opt_.protocol, bytes);

  double due = now;
  if (opt_.lineTime && opt_.baud > 0) {
    // Start bit, 8 data bits, stop bits: the request went out, the answer comes in.
    const double charSeconds = (1 + 8 + opt_.stopBits) / static_cast<double>(opt_.baud);
    due += static_cast<double>(requestBytes_ + bytes.size()) * charSeconds;
  }
  for (const FaultSpec& f : active)
    if (f.kind == FaultKind::kDelay) due += f.value / 1000.0;
  for (const FaultSpec& f : active) {
    if (f.kind != FaultKind::kGarbage) continue;
    std::vector<uint8_t> noise;
    std::uniform_int_distribution<int> byte(0, 255);
    while (static_cast<int>(noise.size()) < f.value) {
      int b = byte(rng_);
      // Noise that could start or end an ASCII frame would be a different fault.
      if (IsAscii(opt_.protocol) && (b == '~' || b == '\r')) continue;
      noise.push_back(static_cast<uint8_t>(b));
    }
    out_.push_back({due, noise});
    due += f.value2 / 1000.0;
  }
  int splitMs = -1;
  for (const FaultSpec& f : active)
    if (f.kind == FaultKind::kSplit) splitMs = std::max(splitMs, f.value);
  if (splitMs >= 0 && bytes.size() >= 2) {
    size_t half = bytes.size() / 2;
    out_.push_back({due, {bytes.begin(), bytes.begin() + half}});
    out_.push_back({due + splitMs / 1000.0, {bytes.begin() + half, bytes.end()}});
  } else {
    out_.push_back({due, bytes});
  }
  Log(now, text);
}

double Simulator::FlushOutput(double now) {
  // The line is serial: items leave in order, each not before its time.
  while (!out_.empty() && out_.front().due <= now) {
    if (!line_.Write(out_.front().bytes.data(), out_.front().bytes.size()))
      Log(now, "write to the line failed, answer dropped");
    out_.pop_front();
  }
  return out_.empty() ? std::numeric_limits<double>::max() : out_.front().due;
}

void Simulator::HandleCommand(const std::string& lineIn) {
  double now = NowSeconds();
  std::stringstream ss(lineIn);
  std::string cmd, arg;
  ss >> cmd >> arg;
  if (cmd.empty()) return;
  if (cmd == "fault" && !arg.empty()) {
    std::string error;
    auto f = ParseFault(arg, error);
    if (!f) {
      Log(now, "command: " + error);
      return;
    }
    opt_.faults.push_back(*f);
    Log(now, "command: fault on: " + FaultText(*f));
  } else if (cmd == "clear") {
    opt_.faults.clear();
    Log(now, "command: all faults off");
  } else if (cmd == "faults") {
    std::string list;
    for (const FaultSpec& f : opt_.faults) list += " " + FaultText(f);
    Log(now, "command: faults:" + (list.empty() ? std::string(" none") : list));
  } else if ((cmd == "set" || cmd == "unset") && !arg.empty()) {
    SetValues(cmd == "set", arg, lineIn, now);
  } else if (cmd == "help") {
    Log(now, "command: fault SWITCH | clear | faults | set LIST PAIRS | unset LIST | help");
  } else {
    Log(now, "command: unknown \"" + cmd +
                 "\" (fault SWITCH, clear, faults, set LIST PAIRS, unset LIST, help)");
  }
}

void Simulator::SetValues(bool set, const std::string& list, const std::string& lineIn,
                          double now) {
  std::string error;
  std::vector<int> addrs;
  if (list == "all") {
    for (const SimUnit& u : units_) addrs.push_back(u.Addr());
  } else if (auto parsed = ParseAddrList(list, error)) {
    addrs = *parsed;
  } else {
    Log(now, "command: " + error);
    return;
  }
  std::vector<Assignment> sets;
  std::string pairs;
  if (set) {
    // The pairs read as one scenario step at time 0.
    const size_t at = lineIn.find(list, lineIn.find("set") + 3);
    pairs = lineIn.substr(at + list.size());
    auto step = ParseScenario("0 " + pairs, "set", error);
    if (!step || step->steps.empty() || step->steps[0].sets.empty()) {
      Log(now, "command: " + (error.empty() ? std::string("set needs name = value pairs") : error));
      return;
    }
    sets = step->steps[0].sets;
  }
  std::string done;
  for (int a : addrs) {
    SimUnit* unit = FindUnit(a);
    if (!unit) continue;
    if (set) {
      unit->Override(sets);
    } else {
      unit->ClearOverrides();
    }
    done += (done.empty() ? "" : ",") + std::to_string(a);
  }
  if (done.empty()) {
    Log(now, "command: no unit at " + list);
    return;
  }
  // The first word after the address list says what changed, for those who follow the log.
  std::stringstream words(pairs);
  std::string trimmed, w;
  while (words >> w) trimmed += (trimmed.empty() ? "" : " ") + w;
  Log(now, set ? "command: set " + done + ": " + trimmed
               : "command: unset " + done + ": back to the scenario");
}

int Simulator::Run(int stopFd, int commandFd) {
  uint8_t buf[4096];
  for (;;) {
    double now = NowSeconds();
    double next = FlushOutput(now);
    if (!IsAscii(opt_.protocol)) next = std::min(next, rtu_.Deadline());
    double wait = std::clamp(next - now, 0.0, 0.25);
    pollfd fds[3] = {{line_.Fd(), POLLIN, 0}, {stopFd, POLLIN, 0}, {commandFd, POLLIN, 0}};
    int nfds = commandFd >= 0 ? 3 : 2;
    int r = poll(fds, nfds, static_cast<int>(wait * 1000) + 1);
    if (r < 0) continue;  // EINTR
    now = NowSeconds();
    if (fds[1].revents) return 0;
    if (nfds == 3 && fds[2].revents) {
      ssize_t got = read(commandFd, buf, sizeof buf);
      if (got <= 0) {
        commandFd = -1;  // end of input: keep running without commands
      } else {
        commandBuf_.append(reinterpret_cast<char*>(buf), got);
        size_t nl;
        while ((nl = commandBuf_.find('\n')) != std::string::npos) {
          HandleCommand(commandBuf_.substr(0, nl));
          commandBuf_.erase(0, nl + 1);
        }
      }
    }
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
      long got = line_.Read(buf, sizeof buf);
      if (got < 0) {
        Log(now, "reading the line failed");
        return 1;
      }
      if (IsAscii(opt_.protocol)) {
        for (const std::string& f : ascii_.Feed(buf, got)) HandleAsciiFrame(f, now);
        LogDiscarded(now, ascii_.TakeDiscarded());
      } else {
        for (const auto& f : rtu_.Feed(buf, got, now)) HandleRtuFrame(f, now);
        LogDiscarded(now, rtu_.TakeDiscarded());
      }
    }
    if (!IsAscii(opt_.protocol)) {
      for (const auto& f : rtu_.Idle(now)) HandleRtuFrame(f, now);
      LogDiscarded(now, rtu_.TakeDiscarded());
    }
  }
}

}  // namespace tessel::sim
