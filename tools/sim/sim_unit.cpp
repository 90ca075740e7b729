#include "sim_unit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tessel::sim {

namespace {

const char* const kNamedFields[] = {"in_a",        "in_b",        "in_c",         "out_a",
                                    "out_b",       "out_c",       "freq",         "load_a",
                                    "load_b",      "load_c",      "batt_vp",      "batt_vn",
                                    "batt_i1p",    "batt_i1n",    "batt_i2p",     "batt_i2n",
                                    "batt_capa",   "batt_time",   "ups_state",    "cmm_state1",
                                    "cmm_state2",  "inv_state1",  "inv_state2",   "sys_state",
                                    "cmm_alarm1",  "cmm_alarm2",  "inv_alarm1",   "inv_alarm2",
                                    "sys_alarm",   "tp_supply",   "tp_batt_test", "tp_input_supply",
                                    "tp_input_sw", "tp_maint_sw", "tp_bypass_sw", "tp_output_sw"};
static_assert(std::size(kNamedFields) == kTpH0);

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Decimal, or hexadecimal with "0x"; the whole text must be the number.
bool ParseNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    long v = std::strtol(text.c_str() + 2, &end, 16);
    if (*end != '\0' || end == text.c_str() + 2) return false;
    out = static_cast<double>(v);
    return true;
  }
  out = std::strtod(text.c_str(), &end);
  return *end == '\0' && std::isfinite(out);
}

bool ParseInt(const std::string& text, int& out) {
  double d = 0;
  if (!ParseNumber(text, d) || d != std::floor(d) || std::fabs(d) > 1e9) return false;
  out = static_cast<int>(d);
  return true;
}

struct Preset {
  const char* name;
  int upsState;
  uint16_t cmm1, inv1, inv2;
  uint16_t cmmAlarm1, invAlarm1;
  uint8_t supply, battTest, inputSupply, maintSw, bypassSw, outputSw;
  int tpAlarmByte;  // three-phase alarm byte raised by this state, -1 none
};

// CmmState1: bit 15 input switch closed, 14 rectifier/inverter path up, 11 input supplied,
// 10 mains, 9 battery self-test, 13 EPO. InvState1: bit 15 bypass switch, 14 output switch,
// 13 maintenance bypass, 10..9 inverter condition, 8 output from inverter, 7 output from
// bypass, 3 EPO. InvState2 bit 11: ECO. InvAlarm1 bit 15 is an inverter fault, which makes the
// state a fault; three-phase byte B16 is the matching inverter fault, B42 the emergency stop.
const Preset kPresets[] = {
    {"online", 4, 0xCC00, 0x4700, 0, 0, 0, 0x01, 0xE1, 0xE0, 0xE0, 0xE0, 0xE1, -1},
    {"battery", 5, 0xC800, 0x4700, 0, 0, 0, 0x01, 0xE1, 0xE1, 0xE0, 0xE0, 0xE1, -1},
    {"selftest", 6, 0xCA00, 0x4700, 0, 0, 0, 0x01, 0xE0, 0xE1, 0xE0, 0xE0, 0xE1, -1},
    {"bypass", 3, 0xCC00, 0xC080, 0, 0, 0, 0x02, 0xE1, 0xE0, 0xE0, 0xE1, 0xE1, -1},
    {"eco", 8, 0xCC00, 0xC480, 0x0800, 0, 0, 0x02, 0xE1, 0xE0, 0xE0, 0xE1, 0xE1, -1},
    {"fault", 11, 0xCC00, 0xC080, 0, 0, 0x8000, 0x02, 0xE1, 0xE0, 0xE0, 0xE1, 0xE1, 16},
    {"standby", 1, 0x8C00, 0x0000, 0, 0, 0, 0xE9, 0xE1, 0xE0, 0xE0, 0xE0, 0xE0, -1},
    {"off", 2, 0x8C00, 0x0400, 0, 0, 0, 0xE9, 0xE1, 0xE0, 0xE0, 0xE0, 0xE0, -1},
    {"softstart", 7, 0x8C00, 0x4200, 0, 0, 0, 0xE9, 0xE1, 0xE0, 0xE0, 0xE0, 0xE1, -1},
    {"maint", 10, 0x8C00, 0x2080, 0, 0, 0, 0x02, 0xE1, 0xE0, 0xE1, 0xE0, 0xE1, -1},
    {"epo", 9, 0xAC00, 0x0008, 0, 0, 0, 0xE9, 0xE1, 0xE0, 0xE0, 0xE0, 0xE0, 42},
};

const Preset* FindPreset(const std::string& name) {
  for (const Preset& p : kPresets)
    if (name == p.name) return &p;
  return nullptr;
}

uint16_t Clamp16(double v) {
  double r = std::nearbyint(v);
  if (r < 0) return 0;
  if (r > 65535) return 65535;
  return static_cast<uint16_t>(r);
}

// Setting values a fresh unit reports (holding registers 40001..40029).
const std::pair<int, uint16_t> kInitialParams[] = {
    {40001, 0x0001}, {40002, 1},   {40003, 0},  {40004, 0},  {40005, 220}, {40006, 50},
    {40007, 1},      {40008, 0},   {40009, 0},  {40010, 0},  {40011, 10},  {40012, 15},
    {40013, 0xFFD3},  // -45 %
    {40014, 0},      {40015, 32},  {40016, 0},  {40017, 1},  {40018, 235}, {40019, 225},
    {40020, 175},    {40021, 100}, {40022, 20}, {40023, 10}, {40024, 0},   {40025, 120},
    {40026, 0},      {40027, 0},   {40028, 0},  {40029, 0},
};

}  // namespace

std::string FieldName(int field) {
  if (field >= 0 && field < kTpH0) return kNamedFields[field];
  if (field >= kTpH0 && field < kTpB0) return "tp_h" + std::to_string(field - kTpH0);
  if (field >= kTpB0 && field < kNoise) return "tp_b" + std::to_string(field - kTpB0);
  if (field == kNoise) return "noise";
  return "";
}

int FieldByName(const std::string& name) {
  for (int f = 0; f < kFieldCount; ++f)
    if (FieldName(f) == name) return f;
  return -1;
}

std::vector<std::string> FieldNames() {
  std::vector<std::string> names;
  for (int f = 0; f < kFieldCount; ++f) names.push_back(FieldName(f));
  return names;
}

UnitValues BaselineValues() {
  UnitValues v{};
  v[kInA] = v[kInB] = v[kInC] = 220;
  v[kOutA] = v[kOutB] = v[kOutC] = 220;
  v[kFreq] = 50;
  v[kLoadA] = v[kLoadB] = v[kLoadC] = 30;
  v[kBattVP] = v[kBattVN] = 272;
  v[kBattCapa] = 100;
  v[kBattTime] = 45;
  // B48 = 0 would report the battery breaker as disconnected; E0 is the healthy code.
  v[kTpB0 + 48] = 0xE0;
  ApplyStatePreset("online", v);
  return v;
}

std::vector<std::string> StateNames() {
  std::vector<std::string> names;
  for (const Preset& p : kPresets) names.push_back(p.name);
  return names;
}

bool ApplyStatePreset(const std::string& name, UnitValues& v) {
  const Preset* p = FindPreset(name);
  if (!p) return false;
  v[kUpsState] = p->upsState;
  v[kCmmState1] = p->cmm1;
  v[kInvState1] = p->inv1;
  v[kInvState2] = p->inv2;
  v[kCmmAlarm1] = p->cmmAlarm1;
  v[kInvAlarm1] = p->invAlarm1;
  v[kTpSupply] = p->supply;
  v[kTpBattTest] = p->battTest;
  v[kTpInputSupply] = p->inputSupply;
  v[kTpInputSw] = 0xE1;
  v[kTpMaintSw] = p->maintSw;
  v[kTpBypassSw] = p->bypassSw;
  v[kTpOutputSw] = p->outputSw;
  for (const Preset& q : kPresets)
    if (q.tpAlarmByte >= 0) v[kTpB0 + q.tpAlarmByte] = 0;
  if (p->tpAlarmByte >= 0) v[kTpB0 + p->tpAlarmByte] = 1;
  return true;
}

std::optional<std::vector<int>> ParseAddrList(const std::string& text, std::string& error) {
  std::vector<int> out;
  std::stringstream ss(text);
  std::string part;
  while (std::getline(ss, part, ',')) {
    part = Trim(part);
    int lo = 0, hi = 0;
    size_t dash = part.find('-');
    bool ok = dash == std::string::npos
                  ? ParseInt(part, lo) && (hi = lo, true)
                  : ParseInt(part.substr(0, dash), lo) && ParseInt(part.substr(dash + 1), hi);
    if (!ok || lo < 1 || hi > 252 || lo > hi) {
      error = "bad address list \"" + text + "\" (addresses 1..252, like 1,2,5-7)";
      return std::nullopt;
    }
    for (int a = lo; a <= hi; ++a) out.push_back(a);
  }
  if (out.empty()) {
    error = "empty address list";
    return std::nullopt;
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::optional<FaultSpec> ParseFault(const std::string& textIn, std::string& error) {
  std::string text = Trim(textIn);
  FaultSpec f;
  size_t slash = text.rfind('/');
  if (slash != std::string::npos) {
    if (!ParseInt(text.substr(slash + 1), f.every) || f.every < 1) {
      error = "bad fault \"" + textIn + "\": /N needs N >= 1";
      return std::nullopt;
    }
    text = text.substr(0, slash);
  }
  size_t at = text.find('@');
  if (at != std::string::npos) {
    auto addrs = ParseAddrList(text.substr(at + 1), error);
    if (!addrs) return std::nullopt;
    f.addrs = *addrs;
    text = text.substr(0, at);
  }
  std::string kind = text, args;
  size_t eq = text.find('=');
  if (eq != std::string::npos) {
    kind = text.substr(0, eq);
    args = text.substr(eq + 1);
  }
  struct KindInfo {
    const char* name;
    FaultKind kind;
    int value, value2;
    int maxArgs;
  };
  const KindInfo kinds[] = {
      {"silent", FaultKind::kSilent, 0, 0, 0},     {"delay", FaultKind::kDelay, 500, 0, 1},
      {"checksum", FaultKind::kChecksum, 0, 0, 0}, {"split", FaultKind::kSplit, 300, 0, 1},
      {"garbage", FaultKind::kGarbage, 8, 0, 2},   {"rtn", FaultKind::kError, 4, 0, 1},
      {"exception", FaultKind::kError, 4, 0, 1},
  };
  const KindInfo* info = nullptr;
  for (const KindInfo& k : kinds)
    if (kind == k.name) info = &k;
  if (!info) {
    error =
        "unknown fault \"" + kind + "\" (silent, delay, checksum, split, garbage, rtn, exception)";
    return std::nullopt;
  }
  f.kind = info->kind;
  f.value = info->value;
  f.value2 = info->value2;
  if (!args.empty()) {
    std::vector<std::string> parts;
    std::stringstream ss(args);
    std::string part;
    while (std::getline(ss, part, ',')) parts.push_back(part);
    int* targets[] = {&f.value, &f.value2};
    bool ok = static_cast<int>(parts.size()) <= info->maxArgs;
    for (size_t i = 0; ok && i < parts.size(); ++i)
      ok = ParseInt(parts[i], *targets[i]) && *targets[i] >= 0 && *targets[i] <= 600000;
    if (ok && f.kind == FaultKind::kError) ok = f.value >= 1 && f.value <= 255;
    if (ok && f.kind == FaultKind::kGarbage) ok = f.value >= 1 && f.value <= 1024;
    if (!ok) {
      error = "bad value in fault \"" + textIn + "\"";
      return std::nullopt;
    }
  }
  return f;
}

std::string FaultText(const FaultSpec& f) {
  std::string s;
  switch (f.kind) {
    case FaultKind::kSilent:
      s = "silent";
      break;
    case FaultKind::kDelay:
      s = "delay=" + std::to_string(f.value);
      break;
    case FaultKind::kChecksum:
      s = "checksum";
      break;
    case FaultKind::kSplit:
      s = "split=" + std::to_string(f.value);
      break;
    case FaultKind::kGarbage:
      s = "garbage=" + std::to_string(f.value) + "," + std::to_string(f.value2);
      break;
    case FaultKind::kError:
      s = "error=" + std::to_string(f.value);
      break;
  }
  if (!f.addrs.empty()) {
    s += "@";
    for (size_t i = 0; i < f.addrs.size(); ++i) s += (i ? "," : "") + std::to_string(f.addrs[i]);
  }
  if (f.every > 1) s += "/" + std::to_string(f.every);
  return s;
}

double Scenario::LoopLength() const {
  for (const ScenarioStep& s : steps)
    if (s.loop) return s.at;
  return 0;
}

void Scenario::Retime(double seconds) {
  // Steps sharing one offset stay together.
  double last = -1;
  int index = -1;
  for (ScenarioStep& s : steps) {
    if (s.at != last) {
      last = s.at;
      ++index;
    }
    s.at = index * seconds;
  }
}

std::optional<Scenario> ParseScenario(const std::string& text, const std::string& name,
                                      std::string& error) {
  Scenario sc;
  sc.name = name;
  int lineNo = 0;
  auto fail = [&](const std::string& msg) {
    error = name + ":" + std::to_string(lineNo) + ": " + msg;
    return std::nullopt;
  };
  // A line that starts with a number starts a step; any other line continues the step above.
  struct Logical {
    int lineNo;
    std::vector<std::string> tok;
  };
  std::vector<Logical> logical;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) {
    ++lineNo;
    line = line.substr(0, line.find('#'));
    std::string spaced;  // "a=b", "a = b" and "a= b" all become three tokens
    for (char c : line) spaced += c == '=' ? std::string(" = ") : std::string(1, c);
    std::stringstream ls(spaced);
    std::vector<std::string> tok;
    for (std::string t; ls >> t;) tok.push_back(t);
    if (tok.empty()) continue;
    double at = 0;
    if (ParseNumber(tok[0], at) || logical.empty()) {
      logical.push_back({lineNo, tok});
    } else {
      auto& prev = logical.back().tok;
      prev.insert(prev.end(), tok.begin(), tok.end());
    }
  }
  double lastAt = 0;
  bool looped = false;
  for (const Logical& l : logical) {
    lineNo = l.lineNo;
    const auto& tok = l.tok;
    if (looped) return fail("nothing may follow the loop line");
    ScenarioStep step;
    if (!ParseNumber(tok[0], step.at) || step.at < 0)
      return fail("a step starts with its time offset in seconds, not \"" + tok[0] + "\"");
    if (step.at < lastAt) return fail("time offsets must not go back");
    lastAt = step.at;
    if (tok.size() == 2 && tok[1] == "loop") {
      if (step.at <= 0) return fail("the loop line needs a time after 0");
      step.loop = true;
      looped = true;
      sc.steps.push_back(step);
      continue;
    }
    if ((tok.size() - 1) % 3 != 0) return fail("expected name = value pairs after the time");
    for (size_t i = 1; i < tok.size(); i += 3) {
      const std::string& key = tok[i];
      const std::string& value = tok[i + 2];
      if (tok[i + 1] != "=") return fail("expected \"=\" after \"" + key + "\"");
      if (key == "state") {
        // Expand into the words and codes of that state, so later pairs may override them.
        UnitValues a{}, b{};
        std::fill(a.begin(), a.end(), -1.0);
        std::fill(b.begin(), b.end(), -2.0);
        if (!ApplyStatePreset(value, a)) return fail("unknown state \"" + value + "\"");
        ApplyStatePreset(value, b);
        for (int f = 0; f < kFieldCount; ++f)
          if (a[f] == b[f]) step.sets.push_back({f, a[f], a[f], false});
        continue;
      }
      if (key == "fault") {
        step.setsFault = true;
        if (value != "none") {
          std::string ferr;
          auto fs = ParseFault(value, ferr);
          if (!fs) return fail(ferr);
          if (!fs->addrs.empty()) return fail("a scenario fault belongs to its unit; drop the @");
          step.fault = fs;
        }
        continue;
      }
      int field = FieldByName(key);
      if (field < 0) return fail("unknown field \"" + key + "\"");
      Assignment a;
      a.field = field;
      size_t dots = value.find("..");
      if (dots != std::string::npos) {
        a.ramp = true;
        if (!ParseNumber(value.substr(0, dots), a.from) ||
            !ParseNumber(value.substr(dots + 2), a.to))
          return fail("bad ramp \"" + value + "\" for " + key);
      } else {
        if (!ParseNumber(value, a.from)) return fail("bad value \"" + value + "\" for " + key);
        a.to = a.from;
      }
      step.sets.push_back(a);
    }
    sc.steps.push_back(step);
  }
  if (sc.steps.empty()) {
    lineNo = 0;
    return fail("no steps");
  }
  return sc;
}

std::optional<Scenario> LoadScenarioFile(const std::string& path, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot read scenario file " + path;
    return std::nullopt;
  }
  std::stringstream ss;
  ss << f.rdbuf();
  return ParseScenario(ss.str(), path, error);
}

const char* DefaultScenarioText() {
  return R"(# Built-in scenario: online, mains failure with battery discharge, battery
# self-test, overload on bypass, ECO, an inverter fault, and again.
0   state = online  noise = 0.4  in_a = 220 in_b = 221 in_c = 219  out_a = 220 out_b = 220 out_c = 220
    freq = 50  load_a = 35 load_b = 38 load_c = 32  batt_vp = 272 batt_vn = 272
    batt_i1p = 1.2 batt_i1n = 1.2 batt_i2p = 1.1 batt_i2n = 1.1  batt_capa = 100  batt_time = 45
20  state = battery  in_a = 0 in_b = 0 in_c = 0  cmm_alarm2 = 0x0040  tp_h1 = 1  tp_b0 = 1
    batt_vp = 250..236 batt_vn = 250..236  batt_i1p = 14 batt_i1n = 14 batt_i2p = 13 batt_i2n = 13
    batt_capa = 100..80  batt_time = 45..34
38  cmm_alarm2 = 0x0140  tp_h5 = 0xE1  batt_capa = 80..78  batt_time = 34..33
45  state = online  in_a = 220 in_b = 221 in_c = 219  cmm_alarm2 = 0  tp_h1 = 0  tp_h5 = 0  tp_b0 = 0
    batt_vp = 272 batt_vn = 272  batt_i1p = 5 batt_i1n = 5 batt_i2p = 5 batt_i2n = 5
    batt_capa = 78..86  batt_time = 33..38
60  state = selftest  batt_vp = 262 batt_vn = 262  batt_i1p = 9 batt_i1n = 9 batt_i2p = 9 batt_i2n = 9
    batt_capa = 86..84
75  state = online  batt_vp = 272 batt_vn = 272  batt_i1p = 1.5 batt_i1n = 1.5 batt_i2p = 1.4 batt_i2n = 1.4
    batt_capa = 84..90  batt_time = 38..41
90  state = bypass  load_a = 104 load_b = 98 load_c = 101  inv_alarm2 = 0x1000  tp_b19 = 1
110 state = online  load_a = 35 load_b = 38 load_c = 32  inv_alarm2 = 0  tp_b19 = 0
120 state = eco  freq = 49.9
140 state = fault  freq = 50
160 state = online  batt_capa = 90..100  batt_time = 41..45
175 loop
)";
}

Scenario DefaultScenario() {
  std::string error;
  auto sc = ParseScenario(DefaultScenarioText(), "built-in", error);
  return sc ? *sc : Scenario{};
}

SimUnit::SimUnit(int addr, Scenario scenario, double phaseSeconds, bool noise)
    : addr_(addr),
      scenario_(std::move(scenario)),
      phase_(phaseSeconds),
      noise_(noise),
      rng_(static_cast<uint32_t>(addr) * 7919u + 17u) {
  for (auto [reg, value] : kInitialParams) holding_[reg] = value;
  for (int reg : {20001, 20002, 20003, 50000}) holding_[reg] = 0;
}

double SimUnit::LocalTime(double t) const {
  double local = t + phase_;
  double loop = scenario_.LoopLength();
  if (loop > 0) local = std::fmod(local, loop);
  return local;
}

UnitValues SimUnit::ScenarioValues(double t) const {
  double local = LocalTime(t);
  UnitValues v = BaselineValues();
  const auto& steps = scenario_.steps;
  for (size_t i = 0; i < steps.size() && steps[i].at <= local; ++i) {
    const ScenarioStep& s = steps[i];
    double end = i + 1 < steps.size() ? steps[i + 1].at : s.at;
    bool current = i + 1 >= steps.size() || steps[i + 1].at > local;
    for (const Assignment& a : s.sets) {
      if (!a.ramp || !current || end <= s.at) {
        v[a.field] = a.to;
      } else {
        double k = std::clamp((local - s.at) / (end - s.at), 0.0, 1.0);
        v[a.field] = a.from + (a.to - a.from) * k;
      }
    }
  }
  return v;
}

std::optional<FaultSpec> SimUnit::ScenarioFault(double t) const {
  double local = LocalTime(t);
  std::optional<FaultSpec> fault;
  for (const ScenarioStep& s : scenario_.steps) {
    if (s.at > local) break;
    if (s.setsFault) fault = s.fault;
  }
  return fault;
}

void SimUnit::Override(const std::vector<Assignment>& sets) {
  for (const Assignment& a : sets) overrides_[a.field] = a.to;
}

UnitValues SimUnit::Snapshot(double t) {
  UnitValues v = ScenarioValues(t);
  for (const auto& [field, value] : overrides_) v[field] = value;
  if (off_ || SelfTestRunning(t)) {
    // The overlays change what the unit does, not what is wrong with it: keep the alarms.
    UnitValues kept = v;
    ApplyStatePreset(off_ ? "off" : "selftest", v);
    v[kCmmAlarm1] = kept[kCmmAlarm1];
    v[kInvAlarm1] = kept[kInvAlarm1];
    for (int i = 0; i < 56; ++i) v[kTpB0 + i] = std::max(v[kTpB0 + i], kept[kTpB0 + i]);
    if (off_) {
      for (int f : {kOutA, kOutB, kOutC, kFreq, kLoadA, kLoadB, kLoadC, kBattI1P, kBattI1N,
                    kBattI2P, kBattI2N})
        v[f] = 0;
    }
  }
  if (noise_ && v[kNoise] > 0) {
    double amp = v[kNoise] / 100.0;
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int f = 0; f <= kLastNoisy; ++f) v[f] *= 1.0 + u(rng_) * (f == kFreq ? amp / 10 : amp);
  }
  return v;
}

bool SimUnit::IsInputRegister(int reg) {
  return (reg >= 30001 && reg <= 30014) || (reg >= 30021 && reg <= 30038) ||
         (reg >= 30081 && reg <= 30091);
}

bool SimUnit::IsHoldingRegister(int reg) {
  return (reg >= 40001 && reg <= 40029) || (reg >= 20001 && reg <= 20003) || reg == 50000;
}

bool SimUnit::IsWritableRegister(int reg) {
  return IsHoldingRegister(reg) && reg != 40001;
}

uint16_t SimUnit::InputRegister(int reg, const UnitValues& v) {
  auto tenths = [&](int f) { return Clamp16(v[f] * 10); };
  auto word = [&](int f) { return Clamp16(v[f]); };
  switch (reg) {
    case 30001:
      return tenths(kInA);
    case 30002:
      return tenths(kInB);
    case 30003:
      return tenths(kInC);
    case 30011:
      return tenths(kOutA);
    case 30012:
      return tenths(kOutB);
    case 30013:
      return tenths(kOutC);
    case 30014:
      return tenths(kFreq);
    case 30021:
      return word(kLoadA);
    case 30022:
      return word(kLoadB);
    case 30023:
      return word(kLoadC);
    case 30031:
      return tenths(kBattVP);
    case 30032:
      return tenths(kBattVN);
    case 30033:
      return tenths(kBattI1P);
    case 30034:
      return tenths(kBattI1N);
    case 30035:
      return tenths(kBattI2P);
    case 30036:
      return tenths(kBattI2N);
    case 30037:
      return word(kBattCapa);
    case 30038:
      return word(kBattTime);
    case 30081:
      return word(kUpsState) & 0xFF;
    case 30082:
      return word(kCmmState1);
    case 30083:
      return word(kCmmState2);
    case 30084:
      return word(kInvState1);
    case 30085:
      return word(kInvState2);
    case 30086:
      return word(kCmmAlarm1);
    case 30087:
      return word(kCmmAlarm2);
    case 30088:
      return word(kInvAlarm1);
    case 30089:
      return word(kInvAlarm2);
    case 30090:
      return word(kSysState);
    case 30091:
      return word(kSysAlarm);
    default:
      return 0;
  }
}

uint16_t SimUnit::HoldingRegister(int reg) const {
  auto it = holding_.find(reg);
  return it == holding_.end() ? 0 : it->second;
}

WriteResult SimUnit::WriteRegister(int reg, uint16_t value, double t, std::string& note) {
  if (!IsWritableRegister(reg)) {
    note = "not writable";
    return WriteResult::kRejected;
  }
  if (reg == 20003 && value != 0 && off_) {
    note = "battery self-test refused: unit is off";
    return WriteResult::kRefused;
  }
  holding_[reg] = value;
  switch (reg) {
    case 20001:
      if (value == 0) {
        note = "switch-on with value 0 ignored";
      } else {
        note = off_ ? "unit switched on" : "switch-on (already on)";
        off_ = false;
      }
      break;
    case 20002:
      if (value == 0) {
        note = "switch-off with value 0 ignored";
      } else {
        note = off_ ? "switch-off (already off)" : "unit switched off, no output";
        off_ = true;
      }
      break;
    case 20003:
      if (value == 0) {
        note =
            SelfTestRunning(t) ? "battery self-test cancelled" : "self-test cancel (none running)";
        selfTestUntil_ = -1;
      } else {
        selfTestUntil_ = t + value;
        note = "battery self-test started for " + std::to_string(value) + " s";
      }
      break;
    case 50000:
      note = "parameter write enabled";
      break;
    default:
      note = "parameter stored";
      break;
  }
  return WriteResult::kStored;
}

}  // namespace tessel::sim
