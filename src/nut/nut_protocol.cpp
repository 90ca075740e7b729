#include "nut/nut_protocol.h"

#include <algorithm>
#include <cstdio>

#include "app/settings_file.h"
#include "log/event_log.h"
#include "model/cmd_request.h"
#include "model/param_items.h"
#include "model/texts.h"

namespace tessel {

namespace {

constexpr uint8_t kEnglish = 0;
constexpr uint8_t kThreePhaseProtocol = 1;
constexpr uint16_t kDefaultTestSeconds = 10;  // test.battery.start without a value

bool IsModbus(uint8_t protocol) {
  return protocol == 2 || protocol == 3;
}

bool HasCode(const TUpsInfo& u, std::initializer_list<int> codes) {
  for (int i = 0; i < u.AlarmCount && i < kMaxAlarms; ++i)
    for (int c : codes)
      if (u.AlarmCodes[i] == c) return true;
  return false;
}

// Battery under voltage and the low-battery pre-alarms, of every protocol choice.
bool LowBattery(const TUpsInfo& u) {
  return HasCode(u, {21, 23, 67, 206, 209});
}

bool Overload(const TUpsInfo& u) {
  return HasCode(u, {51, 52, 119, 120, 121});
}

std::string AlarmTexts(const TUpsInfo& u) {
  std::string out;
  for (int i = 0; i < u.AlarmCount && i < kMaxAlarms; ++i) {
    const std::string t = AlarmText(u.AlarmCodes[i], kEnglish);
    if (t.empty()) continue;
    out += (out.empty() ? "" : "; ") + t;
  }
  return out;
}

std::string Fixed1(double v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

// A value that is usually whole: no decimals unless it has them.
std::string Compact(double v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  std::string s = buf;
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
  return s;
}

// ---- writable variables: the parameter setting items ----------------------------------------

struct RwVar {
  const char* name;
  int item;
  int bit;  // for the switches item: which of its two switches (0 buzzer, 1 boost charge)
  const char* desc;
};

constexpr RwVar kRwVars[] = {
    {"ups.tessel.mode.work", 0, 0, "Work mode"},
    {"ups.tessel.voltage.level", 1, 0, "System voltage level"},
    {"ups.tessel.frequency.level", 2, 0, "System frequency level"},
    {"ups.tessel.bypass.frequency.range", 3, 0, "Bypass frequency tracking range"},
    {"ups.tessel.bypass.voltage.high", 4, 0, "Bypass voltage protection upper limit"},
    {"ups.tessel.bypass.voltage.low", 5, 0, "Bypass voltage protection lower limit"},
    {"ups.tessel.output.voltage.adjust", 6, 0, "Inverter output voltage fine adjustment"},
    {"ups.tessel.battery.number", 7, 0, "Battery number"},
    {"ups.tessel.battery.groups", 8, 0, "Battery groups in parallel"},
    {"ups.tessel.battery.boost.voltage", 9, 0, "Boost charge voltage upper limit (V/cell)"},
    {"ups.tessel.battery.float.voltage", 10, 0, "Float charge base voltage (V/cell)"},
    {"ups.tessel.battery.eod.voltage", 11, 0, "End-of-discharge voltage (V/cell)"},
    {"ups.tessel.battery.capacity", 12, 0, "Single battery capacity (Ah)"},
    {"ups.tessel.battery.charge.current.max", 13, 0, "Maximum charge current (A)"},
    {"ups.tessel.battery.boost.time", 14, 0, "Boost charge duration (minutes)"},
    {"ups.beeper.status", 15, 0, "UPS beeper status"},
    {"ups.tessel.battery.boost", 15, 1, "Boost charge (enabled or disabled)"},
    {"ups.tessel.parallel.amount", 16, 0, "Units in the parallel system"},
    {"ups.tessel.parallel.redundancy", 17, 0, "Parallel redundancy"},
    {"ups.tessel.parallel.id", 18, 0, "Parallel system ID"},
    {"ups.tessel.mode.operation", 19, 0, "Operation mode"},
};

const RwVar* FindRwVar(const Context& ctx, const std::string& model, const std::string& name) {
  if (!IsModbus(ctx.settings.PortInfo.Protocol)) return nullptr;
  const int count = ParamItemCount(model);
  for (const RwVar& v : kRwVars)
    if (name == v.name && v.item < count) return &v;
  return nullptr;
}

std::vector<const RwVar*> RwVarsOf(const Context& ctx, const std::string& model) {
  std::vector<const RwVar*> out;
  for (const RwVar& v : kRwVars)
    if (FindRwVar(ctx, model, v.name)) out.push_back(&v);
  return out;
}

std::string SwitchWord(bool disabled) {
  return disabled ? "disabled" : "enabled";
}

std::string RwValue(const Context& ctx, const std::string& model, int addr, const RwVar& v) {
  const TUpsInfo& u = ctx.model.UpsTable[addr];
  const ItemView view = ShowParamItem(v.item, u.Params, model, kEnglish);
  switch (view.layout) {
    case ItemLayout::List:
      if (view.selected >= 0) return view.choices[static_cast<size_t>(view.selected)].text;
      break;
    case ItemLayout::Number:
      return view.number;
    case ItemLayout::Switches:
      return SwitchWord(v.bit == 0 ? view.buzzerDisabled : view.boostDisabled);
    case ItemLayout::None:
      break;
  }
  // A value outside the item's list: the register as the unit holds it.
  uint16_t raw = 0;
  GetParamByRegister(u.Params, ParamItem(v.item).reg, raw);
  return std::to_string(raw);
}

std::vector<std::string> RwEnum(const Context& ctx, const std::string& model, int addr,
                                const RwVar& v) {
  const ItemView view = ShowParamItem(v.item, ctx.model.UpsTable[addr].Params, model, kEnglish);
  std::vector<std::string> out;
  if (view.layout == ItemLayout::Switches) return {"enabled", "disabled"};
  for (const ParamChoice& c : view.choices) out.push_back(c.text);
  return out;
}

bool IsEnum(const RwVar& v) {
  const ItemLayout l = ParamItem(v.item).layout;
  return l == ItemLayout::List || l == ItemLayout::Switches;
}

// ---- read-only variables ---------------------------------------------------------------------

struct VarInfo {
  const char* name;
  const char* desc;
  bool text;  // STRING rather than NUMBER
};

constexpr VarInfo kVarInfo[] = {
    {"device.type", "Device type", true},
    {"device.model", "Device model", true},
    {"driver.name", "Driver name", true},
    {"ups.status", "UPS status", true},
    {"ups.alarm", "UPS alarms", true},
    {"battery.charge", "Battery charge (percent of full)", false},
    {"battery.runtime", "Battery runtime (seconds)", false},
    {"battery.voltage", "Battery voltage (V)", false},
    {"input.voltage", "Input voltage (V)", false},
    {"output.voltage", "Output voltage (V)", false},
    {"output.frequency", "Output frequency (Hz)", false},
    {"ups.load", "Load on UPS (percent of full)", false},
    {"input.phases", "Input phases", false},
    {"output.phases", "Output phases", false},
    {"input.L1-N.voltage", "Input voltage, phase 1 (V)", false},
    {"input.L2-N.voltage", "Input voltage, phase 2 (V)", false},
    {"input.L3-N.voltage", "Input voltage, phase 3 (V)", false},
    {"output.L1-N.voltage", "Output voltage, phase 1 (V)", false},
    {"output.L2-N.voltage", "Output voltage, phase 2 (V)", false},
    {"output.L3-N.voltage", "Output voltage, phase 3 (V)", false},
    {"output.L1.power.percent", "Load, phase 1 (percent)", false},
    {"output.L2.power.percent", "Load, phase 2 (percent)", false},
    {"output.L3.power.percent", "Load, phase 3 (percent)", false},
};

const VarInfo* FindVarInfo(const std::string& name) {
  for (const VarInfo& v : kVarInfo)
    if (name == v.name) return &v;
  return nullptr;
}

struct CmdInfo {
  const char* name;
  const char* desc;
};

constexpr CmdInfo kCmds[] = {
    {"load.off", "Turn off the load immediately"},
    {"load.on", "Turn on the load immediately"},
    {"test.battery.start", "Start a battery test (optional value: seconds)"},
    {"test.battery.stop", "Stop the battery test"},
};

std::string Err(const char* word) {
  return std::string("ERR ") + word + "\n";
}

std::string Upper(std::string v) {
  for (char& c : v)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return v;
}

constexpr size_t kMaxTracks = 1000;  // the oldest ids are forgotten beyond this
constexpr size_t kAuditField = 64;   // longer words from a client are cut in the audit line

// A word from the client for the audit line: as it is when plain, else quoted (control
// characters blanked), and never so long that a client could fill the journal with one request.
std::string AuditField(std::string_view v) {
  const bool cut = v.size() > kAuditField;
  if (cut) v = v.substr(0, kAuditField);
  bool plain = !v.empty();
  for (char c : v)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
          c == '-' || c == '_' || c == ':' || c == '@'))
      plain = false;
  std::string out = plain ? std::string(v) : QuoteNutValue(v);
  return cut ? out + "..." : out;
}

}  // namespace

std::string NutUpsName(int addr) {
  return "ups" + std::to_string(addr);
}

int NutUpsAddr(const std::string& name, const TEquipList& list) {
  // Case-blind, as clients expect of UPS names ("upsc UPS1@host").
  if (name.size() < 4 || name.size() > 6 || !EqualNoCase(name.substr(0, 3), "ups")) return 0;
  int addr = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    addr = addr * 10 + (name[i] - '0');
  }
  // One spelling per unit: "ups01" is no name of unit 1.
  if (name.size() != NutUpsName(addr).size() || addr < 1 || addr > kMaxAddr) return 0;
  return FindDevice(list, static_cast<uint8_t>(addr)) > 0 ? addr : 0;
}

std::string NutStatus(const TUpsInfo& u, bool fsd) {
  std::vector<std::string> t;
  if (fsd) t.push_back("FSD");
  const bool onBattery = u.InputSupply == 2;
  const bool mains = u.InputSupply == 1;
  bool alarm = false;
  switch (u.RunState) {
    case kRunOnline:
    case kRunEco:
      t.push_back("OL");
      break;
    case kRunBattery:
      t.push_back("OB");
      break;
    case kRunSelfTest:
      // The battery carries the load on purpose; the mains is there to return to.
      t.push_back("OL");
      t.push_back("CAL");
      break;
    case kRunBypass:
    case kRunMaintBypass:
      t.push_back("OL");
      t.push_back("BYPASS");
      break;
    case kRunStandby:
    case kRunNoOutput:
    case kRunEpo:
      if (mains) t.push_back("OL");
      t.push_back("OFF");
      alarm = u.RunState == kRunEpo;
      break;
    case kRunFault:
      t.push_back(onBattery ? "OB" : "OL");
      alarm = true;
      break;
    default:  // soft start and anything new: where the power comes from
      t.push_back(onBattery ? "OB" : "OL");
      break;
  }
  if (LowBattery(u)) t.push_back("LB");
  if (Overload(u)) t.push_back("OVER");
  if (alarm || !AlarmTexts(u).empty()) t.push_back("ALARM");
  std::string out;
  for (const std::string& w : t) out += (out.empty() ? "" : " ") + w;
  return out;
}

NutVars NutVariables(const Context& ctx, int addr, bool fsd, const std::string& model) {
  const TUpsInfo& u = ctx.model.UpsTable[addr];
  const uint8_t protocol = ctx.settings.PortInfo.Protocol;
  const bool threePhase = protocol == kThreePhaseProtocol;
  NutVars v;
  v.emplace_back("device.type", "ups");
  if (IsAcceptedModelCode(model)) v.emplace_back("device.model", model);
  v.emplace_back("driver.name", "tessel");
  v.emplace_back("ups.status", NutStatus(u, fsd));
  if (std::string alarms = AlarmTexts(u); !alarms.empty()) v.emplace_back("ups.alarm", alarms);
  // The three-phase protocol reports no capacity.
  if (!threePhase) v.emplace_back("battery.charge", std::to_string(u.BattCapa));
  v.emplace_back("battery.runtime", std::to_string(u.BattLivingTime * 60));
  v.emplace_back("battery.voltage", Fixed1(u.DCInputV));
  v.emplace_back("input.voltage", Fixed1(u.InputV_A));
  v.emplace_back("output.voltage", Fixed1(u.OutputV_A));
  v.emplace_back("output.frequency", Fixed1(u.OutputFreq));
  if (!threePhase) {
    v.emplace_back("ups.load", Compact(u.LoadPer_A));
  } else {
    v.emplace_back("ups.load", Compact(std::max({u.LoadPer_A, u.LoadPer_B, u.LoadPer_C})));
    v.emplace_back("input.phases", "3");
    v.emplace_back("output.phases", "3");
    v.emplace_back("input.L1-N.voltage", Fixed1(u.InputV_A));
    v.emplace_back("input.L2-N.voltage", Fixed1(u.InputV_B));
    v.emplace_back("input.L3-N.voltage", Fixed1(u.InputV_C));
    v.emplace_back("output.L1-N.voltage", Fixed1(u.OutputV_A));
    v.emplace_back("output.L2-N.voltage", Fixed1(u.OutputV_B));
    v.emplace_back("output.L3-N.voltage", Fixed1(u.OutputV_C));
    v.emplace_back("output.L1.power.percent", Compact(u.LoadPer_A));
    v.emplace_back("output.L2.power.percent", Compact(u.LoadPer_B));
    v.emplace_back("output.L3.power.percent", Compact(u.LoadPer_C));
  }
  for (const RwVar* rw : RwVarsOf(ctx, model))
    v.emplace_back(rw->name, RwValue(ctx, model, addr, *rw));
  return v;
}

std::vector<std::string> NutCommands(uint8_t protocol) {
  std::vector<std::string> out;
  if (IsModbus(protocol))
    for (const CmdInfo& c : kCmds) out.push_back(c.name);
  return out;
}

NutProtocol::NutProtocol(Context& ctx, NutUsers users)
    : ctx_(ctx), users_(std::move(users)), random_(std::random_device{}()) {
  ctx_.cmd.OnWriteOutcome = [this](const TCmdOutcome& w) { NoteWrite(w); };
}

NutProtocol::~NutProtocol() {
  ctx_.cmd.OnWriteOutcome = nullptr;
}

int NutProtocol::NumLogins(int addr) const {
  return static_cast<int>(std::count_if(logins_.begin(), logins_.end(),
                                        [&](const Login& l) { return l.addr == addr; }));
}

void NutProtocol::Forget(const NutSession& s) {
  logins_.erase(std::remove_if(logins_.begin(), logins_.end(),
                               [&](const Login& l) { return l.session == &s; }),
                logins_.end());
}

const NutUser* NutProtocol::Authenticated(const NutSession& s) const {
  const NutUser* u = users_.Find(s.Username);
  if (!u || u->Password.empty() || s.Password.size() != u->Password.size()) return nullptr;
  // Compared in full whatever the first difference, so timing tells nothing.
  unsigned diff = 0;
  for (size_t i = 0; i < s.Password.size(); ++i)
    diff |= static_cast<unsigned char>(s.Password[i] ^ u->Password[i]);
  return diff == 0 ? u : nullptr;
}

const NutUser* NutProtocol::Authenticate(NutSession& s) const {
  const NutUser* u = Authenticated(s);
  if (!u && !s.Username.empty() && !s.Password.empty()) s.AuthFailed = true;
  return u;
}

std::string NutProtocol::Model() const {
  if (IsAcceptedModelCode(ctx_.model.ModelCode)) return ctx_.model.ModelCode;
  return IsAcceptedModelCode(configModel_) ? configModel_ : "";
}

bool NutProtocol::Stale(int addr) const {
  const TUpsInfo& u = ctx_.model.UpsTable[addr];
  return !lineOpen_ || u.CommState == kCommLost || u.RunState < 0;
}

std::string NutProtocol::Handle(NutSession& s, std::string_view line) {
  s.AuthFailed = false;
  if (line.size() > kNutMaxLine) {
    s.Close = true;
    return Err("TOO-LONG");
  }
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  // The clients send USERNAME and PASSWORD unquoted, blanks and quotes included: the value is the
  // rest of the line, unless it is one quoted word.
  {
    const size_t verbEnd = line.find_first_of(" \t");
    const std::string_view verb = line.substr(0, verbEnd);
    if (EqualNoCase(verb, "USERNAME") || EqualNoCase(verb, "PASSWORD")) {
      std::string_view rest = verbEnd == std::string_view::npos ? "" : line.substr(verbEnd);
      while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
      while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r'))
        rest.remove_suffix(1);
      std::string value(rest);
      if (!rest.empty() && rest.front() == '"') {
        std::vector<std::string> one;
        if (!SplitNutWords(rest, one) || one.size() != 1) return Err("INVALID-ARGUMENT");
        value = one[0];
      }
      return Credential(s, EqualNoCase(verb, "USERNAME"), value);
    }
  }
  std::vector<std::string> w;
  if (!SplitNutWords(line, w)) return Err("INVALID-ARGUMENT");
  if (w.empty()) return "";
  const std::string& verb = w[0];
  auto is = [&](const char* name) { return EqualNoCase(verb, name); };

  if (is("VER")) return "Tessel network UPS server " TESSEL_VERSION "\n";
  if (is("NETVER")) return "1.3\n";
  if (is("HELP"))
    return "Commands: HELP VER NETVER GET LIST SET INSTCMD LOGIN LOGOUT USERNAME PASSWORD "
           "PRIMARY FSD STARTTLS\n";
  if (is("STARTTLS")) return Err("FEATURE-NOT-CONFIGURED");
  if (is("LOGOUT")) {
    s.Close = true;
    return "OK Goodbye\n";
  }
  if (is("LIST")) return List(s, w);
  const bool tracking = w.size() >= 2 && EqualNoCase(w[1], "TRACKING");
  if (is("GET")) return tracking ? Tracking(s, w, false) : Get(s, w);
  if (is("SET") && tracking) return Tracking(s, w, true);
  std::string reply;
  if (is("SET")) {
    reply = Set(s, w);
  } else if (is("INSTCMD")) {
    reply = InstCmd(s, w);
  } else if (is("LOGIN")) {
    reply = LoginCmd(s, w);
  } else if (is("PRIMARY") || is("MASTER")) {
    reply = PrimaryCmd(s, w, is("MASTER"));
  } else if (is("FSD")) {
    reply = FsdCmd(s, w);
  } else {
    return Err("UNKNOWN-COMMAND");
  }
  AuditAction(s, Upper(verb) + (is("SET") ? " VAR" : ""), w, reply);
  return reply;
}

std::string NutProtocol::Credential(NutSession& s, bool user, const std::string& value) {
  std::string& slot = user ? s.Username : s.Password;
  if (!slot.empty()) return Err(user ? "ALREADY-SET-USERNAME" : "ALREADY-SET-PASSWORD");
  if (value.empty()) return Err("INVALID-ARGUMENT");
  slot = value;
  return "OK\n";
}

std::string NutProtocol::List(NutSession&, const std::vector<std::string>& w) {
  if (w.size() < 2) return Err("INVALID-ARGUMENT");
  const std::string what = Upper(w[1]);
  const TEquipList& list = ctx_.model.EquipList;
  if (what == "UPS") {
    if (w.size() != 2) return Err("INVALID-ARGUMENT");
    std::string out = "BEGIN LIST UPS\n";
    for (int i = 1; i <= list.Count; ++i) {
      const int addr = list.Items[static_cast<size_t>(i)].Addr;
      out += "UPS " + NutUpsName(addr) + " " +
             QuoteNutValue(NameFieldText(list.Items[static_cast<size_t>(i)].Name)) + "\n";
    }
    return out + "END LIST UPS\n";
  }
  const bool needsVar = what == "ENUM" || what == "RANGE";
  if (what != "VAR" && what != "RW" && what != "CMD" && what != "CLIENT" && !needsVar)
    return Err("INVALID-ARGUMENT");
  if (w.size() != (needsVar ? 4u : 3u)) return Err("INVALID-ARGUMENT");
  const int addr = NutUpsAddr(w[2], list);
  if (!addr) return Err("UNKNOWN-UPS");
  const std::string head = what + " " + w[2] + (needsVar ? " " + w[3] : "");
  std::string out = "BEGIN LIST " + head + "\n";
  const std::string prefix = what + " " + w[2] + " ";
  if (what == "VAR" || what == "RW") {
    if (Stale(addr)) return Err("DATA-STALE");
    if (what == "VAR") {
      for (const auto& [name, value] : Vars(addr))
        out += prefix + name + " " + QuoteNutValue(value) + "\n";
    } else {
      for (const RwVar* rw : RwVarsOf(ctx_, Model()))
        out += prefix + rw->name + " " + QuoteNutValue(RwValue(ctx_, Model(), addr, *rw)) + "\n";
    }
  } else if (what == "CMD") {
    for (const std::string& c : NutCommands(ctx_.settings.PortInfo.Protocol))
      out += prefix + c + "\n";
  } else if (what == "CLIENT") {
    for (const Login& l : logins_)
      if (l.addr == addr) out += prefix + l.session->Peer + "\n";
  } else {
    const std::string& var = w[3];
    const RwVar* rw = FindRwVar(ctx_, Model(), var);
    if (!rw && !FindVarInfo(var)) return Err("VAR-NOT-SUPPORTED");
    // No variable has a range: the numbers' limits depend on each other and on the model code,
    // and SET VAR tells which value is refused.
    if (what == "ENUM" && rw && IsEnum(*rw))
      for (const std::string& e : RwEnum(ctx_, Model(), addr, *rw))
        out += prefix + var + " " + QuoteNutValue(e) + "\n";
  }
  return out + "END LIST " + head + "\n";
}

std::string NutProtocol::Get(NutSession&, const std::vector<std::string>& w) {
  if (w.size() < 3) return Err("INVALID-ARGUMENT");
  const std::string what = Upper(w[1]);
  const int addr = NutUpsAddr(w[2], ctx_.model.EquipList);
  const bool withName = what == "VAR" || what == "TYPE" || what == "DESC" || what == "CMDDESC";
  const bool upsOnly = what == "UPSDESC" || what == "NUMLOGINS";
  if (!withName && !upsOnly) return Err("INVALID-ARGUMENT");
  if (w.size() != (withName ? 4u : 3u)) return Err("INVALID-ARGUMENT");
  if (!addr) return Err("UNKNOWN-UPS");
  const std::string prefix = what + " " + w[2];
  if (what == "UPSDESC") {
    const TEquipRec& rec = ctx_.model.EquipList.Items[static_cast<size_t>(
        FindDevice(ctx_.model.EquipList, static_cast<uint8_t>(addr)))];
    return prefix + " " + QuoteNutValue(NameFieldText(rec.Name)) + "\n";
  }
  if (what == "NUMLOGINS") return prefix + " " + std::to_string(NumLogins(addr)) + "\n";
  const std::string& name = w[3];
  if (what == "CMDDESC") {
    for (const std::string& c : NutCommands(ctx_.settings.PortInfo.Protocol))
      if (c == name)
        for (const CmdInfo& info : kCmds)
          if (name == info.name) return prefix + " " + name + " " + QuoteNutValue(info.desc) + "\n";
    return Err("CMD-NOT-SUPPORTED");
  }
  const RwVar* rw = FindRwVar(ctx_, Model(), name);
  const VarInfo* info = FindVarInfo(name);
  if (what == "VAR") {
    if (Stale(addr)) return Err("DATA-STALE");
    for (const auto& [n, value] : Vars(addr))
      if (n == name) return prefix + " " + name + " " + QuoteNutValue(value) + "\n";
    return Err("VAR-NOT-SUPPORTED");
  }
  if (!rw && !info) return Err("VAR-NOT-SUPPORTED");
  if (what == "DESC")
    return prefix + " " + name + " " + QuoteNutValue(rw ? rw->desc : info->desc) + "\n";
  if (rw) return prefix + " " + name + (IsEnum(*rw) ? " RW ENUM\n" : " RW STRING:10\n");
  return prefix + " " + name + (info->text ? " STRING:64\n" : " NUMBER\n");
}

std::string NutProtocol::Set(NutSession& s, const std::vector<std::string>& w) {
  if (w.size() != 5 || !EqualNoCase(w[1], "VAR")) return Err("INVALID-ARGUMENT");
  if (s.Username.empty()) return Err("USERNAME-REQUIRED");
  if (s.Password.empty()) return Err("PASSWORD-REQUIRED");
  const NutUser* user = Authenticate(s);
  if (!user || !user->MaySet) return Err("ACCESS-DENIED");
  const int addr = NutUpsAddr(w[2], ctx_.model.EquipList);
  if (!addr) return Err("UNKNOWN-UPS");
  const std::string& name = w[3];
  const std::string& value = w[4];
  const RwVar* rw = FindRwVar(ctx_, Model(), name);
  if (!rw) return Err(FindVarInfo(name) ? "READONLY" : "VAR-NOT-SUPPORTED");
  // The value lists and ranges differ between models: a write checked against another model's
  // lists could set a voltage level the unit was never built for.
  if (!IsAcceptedModelCode(Model())) return Err("FEATURE-NOT-CONFIGURED");
  if (Stale(addr)) return Err("DATA-STALE");
  if (value.size() > 64) return Err("TOO-LONG");

  const TUpsInfo& u = ctx_.model.UpsTable[addr];
  const std::string model = Model();
  const ItemView view = ShowParamItem(rw->item, u.Params, model, kEnglish);
  ItemInput in;
  in.buzzerDisabled = view.buzzerDisabled;
  in.boostDisabled = view.boostDisabled;
  switch (view.layout) {
    case ItemLayout::List:
      for (size_t i = 0; i < view.choices.size(); ++i)
        if (EqualNoCase(view.choices[i].text, value)) in.choice = static_cast<int>(i);
      if (in.choice < 0) return Err("INVALID-VALUE");
      break;
    case ItemLayout::Number:
      in.number = value;
      break;
    case ItemLayout::Switches: {
      if (!EqualNoCase(value, "enabled") && !EqualNoCase(value, "disabled"))
        return Err("INVALID-VALUE");
      (rw->bit == 0 ? in.buzzerDisabled : in.boostDisabled) = EqualNoCase(value, "disabled");
      break;
    }
    case ItemLayout::None:
      return Err("VAR-NOT-SUPPORTED");
  }
  const ItemCheck check = CheckParamItem(rw->item, in, u.Params, model);
  if (!check.ok) return Err("INVALID-VALUE");
  const uint32_t before = ctx_.cmd.LastId;
  switch (RequestParamWrite(ctx_.cmd, ctx_.settings.PortInfo.Protocol, static_cast<uint8_t>(addr),
                            ParamItem(rw->item).reg, check.value)) {
    case CmdResult::Queued:
      if (OnUnitEvent) OnUnitEvent(addr, kEventNetParamWrite);
      return Queued(s, before, AuditHead(s, "SET VAR", w));
    case CmdResult::BadValue:
      return Err("INVALID-VALUE");
    case CmdResult::NeedsModbus:
    case CmdResult::BadRegister:
      return Err("VAR-NOT-SUPPORTED");
    case CmdResult::NoDevice:
      return Err("UNKNOWN-UPS");
    case CmdResult::SlotBusy:
      break;
  }
  return Err("SET-FAILED");
}

std::string NutProtocol::InstCmd(NutSession& s, const std::vector<std::string>& w) {
  if (w.size() != 3 && w.size() != 4) return Err("INVALID-ARGUMENT");
  if (s.Username.empty()) return Err("USERNAME-REQUIRED");
  if (s.Password.empty()) return Err("PASSWORD-REQUIRED");
  const std::string& cmd = w[2];
  const NutUser* user = Authenticate(s);
  if (!user || !user->MayRunCmd(cmd)) return Err("ACCESS-DENIED");
  const int addr = NutUpsAddr(w[1], ctx_.model.EquipList);
  if (!addr) return Err("UNKNOWN-UPS");
  const uint8_t protocol = ctx_.settings.PortInfo.Protocol;
  const auto cmds = NutCommands(protocol);
  if (std::find(cmds.begin(), cmds.end(), cmd) == cmds.end()) return Err("CMD-NOT-SUPPORTED");
  if (Stale(addr)) return Err("DATA-STALE");
  const auto a = static_cast<uint8_t>(addr);
  const uint32_t before = ctx_.cmd.LastId;
  CmdResult r = CmdResult::BadValue;
  int event = 0;
  if (cmd == "test.battery.start") {
    uint16_t seconds = kDefaultTestSeconds;
    if (w.size() == 4) {
      const ItemCheck check = CheckSelfTestTime(w[3]);
      if (!check.ok) return Err("INVALID-VALUE");
      seconds = check.value;
    }
    r = RequestSelfTest(ctx_.cmd, protocol, a, seconds);
    event = kEventNetTestStart;
  } else if (w.size() == 4) {
    return Err("INVALID-ARGUMENT");  // the other commands take no value
  } else if (cmd == "test.battery.stop") {
    r = RequestSelfTest(ctx_.cmd, protocol, a, 0);
    event = kEventNetTestStop;
  } else if (cmd == "load.on") {
    r = RequestSwitchOn(ctx_.cmd, protocol, a);
    event = kEventNetLoadOn;
  } else if (cmd == "load.off") {
    r = RequestSwitchOff(ctx_.cmd, protocol, a);
    event = kEventNetLoadOff;
  }
  switch (r) {
    case CmdResult::Queued:
      if (OnUnitEvent) OnUnitEvent(addr, event);
      return Queued(s, before, AuditHead(s, "INSTCMD", w));
    case CmdResult::NeedsModbus:
      return Err("CMD-NOT-SUPPORTED");
    case CmdResult::NoDevice:
      return Err("UNKNOWN-UPS");
    case CmdResult::BadValue:
    case CmdResult::BadRegister:
      return Err("INVALID-VALUE");
    case CmdResult::SlotBusy:
      break;
  }
  return Err("INSTCMD-FAILED");
}

std::string NutProtocol::LoginCmd(NutSession& s, const std::vector<std::string>& w) {
  if (w.size() != 2) return Err("INVALID-ARGUMENT");
  if (s.LoginAddr) return Err("ALREADY-LOGGED-IN");
  if (s.Username.empty()) return Err("USERNAME-REQUIRED");
  if (s.Password.empty()) return Err("PASSWORD-REQUIRED");
  const NutUser* user = Authenticate(s);
  if (!user || !user->MayLogin()) return Err("ACCESS-DENIED");
  const int addr = NutUpsAddr(w[1], ctx_.model.EquipList);
  if (!addr) return Err("UNKNOWN-UPS");
  s.LoginAddr = addr;
  logins_.push_back({&s, addr});
  return "OK\n";
}

std::string NutProtocol::PrimaryCmd(NutSession& s, const std::vector<std::string>& w,
                                    bool oldName) {
  if (w.size() != 2) return Err("INVALID-ARGUMENT");
  const NutUser* user = Authenticate(s);
  if (!user || user->Role != NutUser::Upsmon::Primary) return Err("ACCESS-DENIED");
  if (!NutUpsAddr(w[1], ctx_.model.EquipList)) return Err("UNKNOWN-UPS");
  s.Primary = true;
  return oldName ? "OK MASTER-GRANTED\n" : "OK PRIMARY-GRANTED\n";
}

std::string NutProtocol::FsdCmd(NutSession& s, const std::vector<std::string>& w) {
  if (w.size() != 2) return Err("INVALID-ARGUMENT");
  const NutUser* user = Authenticate(s);
  if (!user || !user->MayFsd) return Err("ACCESS-DENIED");
  const int addr = NutUpsAddr(w[1], ctx_.model.EquipList);
  if (!addr) return Err("UNKNOWN-UPS");
  // Kept for as long as the program runs: a secondary that polls late must still see it.
  fsd_[static_cast<size_t>(addr)] = true;
  return "OK FSD-SET\n";
}

std::string NutProtocol::Tracking(NutSession& s, const std::vector<std::string>& w, bool set) {
  if (set) {
    if (w.size() != 3) return Err("INVALID-ARGUMENT");
    if (EqualNoCase(w[2], "ON"))
      s.Tracking = true;
    else if (EqualNoCase(w[2], "OFF"))
      s.Tracking = false;
    else
      return Err("INVALID-ARGUMENT");
    return "OK\n";
  }
  if (w.size() == 2) return s.Tracking ? "ON\n" : "OFF\n";
  if (w.size() != 3) return Err("INVALID-ARGUMENT");
  auto it = std::find_if(tracks_.begin(), tracks_.end(),
                         [&](const Track& t) { return !t.Id.empty() && t.Id == w[2]; });
  if (it == tracks_.end()) return Err("UNKNOWN");
  Track& t = *it;
  if (t.Result == Track::State::Pending && t.Sent < t.Last) {
    // Not all of it went out yet: it still waits in a slot, or the slots were emptied without
    // sending it (it never will).
    bool waiting = false;
    for (const TCmdRequest& slot : ctx_.cmd.CmdSlots)
      waiting |= slot.Pending != 0 && slot.Id > t.Sent && slot.Id <= t.Last;
    if (!waiting) Settle(t, Track::State::Failed, "not sent");
  }
  switch (t.Result) {
    case Track::State::Pending:
      return "PENDING\n";
    case Track::State::Success:
      return "SUCCESS\n";
    case Track::State::Failed:
      break;
  }
  return Err("FAILED");
}

std::string NutProtocol::Queued(NutSession& s, uint32_t before, std::string audit) {
  Track t;
  t.First = before + 1;
  t.Last = ctx_.cmd.LastId;
  t.Audit = std::move(audit);
  std::string reply = "OK\n";
  if (s.Tracking) {
    // Random, so that an id tells nothing of other clients' commands and cannot be guessed.
    char id[40];
    const uint64_t a = random_(), b = random_();
    std::snprintf(id, sizeof id, "%08x-%04x-4%03x-%04x-%012llx", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFF),
                  static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3FFF)),
                  static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
    t.Id = id;
    reply = "OK TRACKING " + t.Id + "\n";
  }
  tracks_.push_back(std::move(t));
  while (tracks_.size() > kMaxTracks) tracks_.pop_front();
  return reply;
}

void NutProtocol::NoteWrite(const TCmdOutcome& w) {
  for (auto it = tracks_.begin(); it != tracks_.end();) {
    Track& t = *it;
    if (t.Result == Track::State::Pending && w.Id >= t.First && w.Id <= t.Last) {
      using R = TCmdOutcome::Result;
      switch (w.Outcome) {
        case R::Sent:
          t.Sent = std::max(t.Sent, w.Id);
          break;
        case R::Accepted:
          // Under the unlocking protocol choice the parameter's echo is the one that counts.
          if (w.Id == t.Last) Settle(t, Track::State::Success, "");
          break;
        case R::Refused:
          Settle(t, Track::State::Failed, "refused, exception " + std::to_string(w.Exception));
          break;
        case R::NoAnswer:
          Settle(t, Track::State::Failed, "no answer");
          break;
        case R::None:
          break;
      }
    }
    // Without an id nobody asks again once the answer is in the journal.
    if (t.Result != Track::State::Pending && t.Id.empty())
      it = tracks_.erase(it);
    else
      ++it;
  }
}

void NutProtocol::Settle(Track& t, Track::State result, const std::string& why) {
  t.Result = result;
  if (!OnAudit) return;
  OnAudit(t.Audit + " unit=" + (result == Track::State::Success ? "SUCCESS" : "FAILED") +
          (why.empty() ? "" : " (" + why + ")"));
}

std::string NutProtocol::AuditHead(const NutSession& s, const std::string& action,
                                   const std::vector<std::string>& w) const {
  std::string line =
      "NUT audit: " + action + " user=" + AuditField(s.Username) + " client=" + AuditField(s.Peer);
  const bool set = action == "SET VAR";
  const size_t ups = set ? 2 : 1;
  if (w.size() > ups) line += " ups=" + AuditField(w[ups]);
  if (action == "INSTCMD") {
    if (w.size() > 2) line += " cmd=" + AuditField(w[2]);
    if (w.size() > 3) line += " value=" + AuditField(w[3]);
  } else if (set) {
    if (w.size() > 3) line += " var=" + AuditField(w[3]);
    if (w.size() > 4) line += " value=" + AuditField(w[4]);
  }
  return line;
}

void NutProtocol::AuditAction(const NutSession& s, const std::string& action,
                              const std::vector<std::string>& w, const std::string& reply) {
  if (!OnAudit) return;
  // Nothing was tried as anyone yet.
  if (s.Username.empty() || reply == Err("USERNAME-REQUIRED") || reply == Err("PASSWORD-REQUIRED"))
    return;
  std::string result = reply.substr(0, reply.find('\n'));
  if (result.rfind("ERR ", 0) == 0) result.erase(0, 4);
  std::string line = AuditHead(s, action, w) + " result=" + result;
  if (s.AuthFailed) line += " (wrong user or password)";
  OnAudit(line);
}

}  // namespace tessel
