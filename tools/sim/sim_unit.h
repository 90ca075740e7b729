// The simulated unit: the values it reports, the scenario that moves them over time, and the
// effect of the writes it receives (on/off, battery self-test, parameter registers).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace tessel::sim {

// Every value a scenario can set. Measurements come first: they are the ones that get noise.
enum Field : int {
  kInA,
  kInB,
  kInC,
  kOutA,
  kOutB,
  kOutC,
  kFreq,
  kLoadA,
  kLoadB,
  kLoadC,
  kBattVP,
  kBattVN,
  kBattI1P,
  kBattI1N,
  kBattI2P,
  kBattI2N,
  kLastNoisy = kBattI2N,
  kBattCapa,
  kBattTime,
  kUpsState,
  kCmmState1,
  kCmmState2,
  kInvState1,
  kInvState2,
  kSysState,
  kCmmAlarm1,
  kCmmAlarm2,
  kInvAlarm1,
  kInvAlarm2,
  kSysAlarm,
  // One-byte codes of the three-phase units.
  kTpSupply,
  kTpBattTest,
  kTpInputSupply,
  kTpInputSw,
  kTpMaintSw,
  kTpBypassSw,
  kTpOutputSw,
  kTpH0,                // summary bytes H0..H6
  kTpB0 = kTpH0 + 7,    // alarm bytes B0..B55
  kNoise = kTpB0 + 56,  // amplitude of the measurement noise, percent
  kFieldCount
};

// Name used in scenario files ("in_a", "cmm_state1", "tp_b48", ...); empty for no field.
std::string FieldName(int field);
// Field of a name, or -1.
int FieldByName(const std::string& name);
// All names, in field order (for the help text).
std::vector<std::string> FieldNames();

using UnitValues = std::array<double, kFieldCount>;

// Values of a unit running online with nothing wrong; scenarios start from these.
UnitValues BaselineValues();

// Named operating states a scenario can ask for with "state = NAME": each sets the status words,
// the fault alarm bits and the three-phase codes that mean that state.
std::vector<std::string> StateNames();
bool ApplyStatePreset(const std::string& name, UnitValues& v);

// Parses "1,2,5-7" into ascending unique addresses 1..252; nullopt and error on bad text.
std::optional<std::vector<int>> ParseAddrList(const std::string& text, std::string& error);

// How a fault misbehaves (see FaultSpec).
enum class FaultKind { kSilent, kDelay, kChecksum, kSplit, kGarbage, kError };

// One fault switch: "KIND[=VALUE[,VALUE2]][@ADDRLIST][/N]".
struct FaultSpec {
  FaultKind kind = FaultKind::kSilent;
  int value = 0;           // delay/split pause ms, garbage count, error code
  int value2 = 0;          // garbage: pause before the answer, ms
  std::vector<int> addrs;  // empty: every unit on the line
  int every = 1;           // applies to every Nth request of a unit
};
// Parses a fault switch; returns nullopt and sets error on bad text.
std::optional<FaultSpec> ParseFault(const std::string& text, std::string& error);
std::string FaultText(const FaultSpec& f);

// One "name = value" of a scenario step; a ramp "a..b" moves linearly over the step.
struct Assignment {
  int field = 0;
  double from = 0;
  double to = 0;
  bool ramp = false;
};

struct ScenarioStep {
  double at = 0;      // seconds from the start of the scenario
  bool loop = false;  // "T loop": start again from 0 at T
  std::vector<Assignment> sets;
  // "fault = SWITCH" switches the unit's own fault from this step on; "fault = none" clears it.
  bool setsFault = false;
  std::optional<FaultSpec> fault;
};

struct Scenario {
  std::string name;  // file name or "built-in"
  std::vector<ScenarioStep> steps;

  // Length of one loop, or 0 when the scenario is played once (the last step then holds).
  double LoopLength() const;
  // Replaces the time offsets so that each step lasts `seconds` (loop kept at the end).
  void Retime(double seconds);
};

// Parses scenario text; on error returns nullopt and sets error to "LINE: message".
std::optional<Scenario> ParseScenario(const std::string& text, const std::string& name,
                                      std::string& error);
std::optional<Scenario> LoadScenarioFile(const std::string& path, std::string& error);
// The built-in walk through online, battery, self-test, bypass, ECO and fault.
const char* DefaultScenarioText();
Scenario DefaultScenario();

// What a write to a register did: stored, a register that takes no writes, or a command the unit
// cannot carry out in its present state (a self-test while it is off).
enum class WriteResult { kStored, kRejected, kRefused };

class SimUnit {
 public:
  SimUnit(int addr, Scenario scenario, double phaseSeconds, bool noise);

  int Addr() const { return addr_; }
  const Scenario& GetScenario() const { return scenario_; }

  // The values the unit reports at scenario time t (seconds), with the effect of the writes
  // received and noise on the measurements.
  UnitValues Snapshot(double t);
  // The scenario's values at t without noise and writes.
  UnitValues ScenarioValues(double t) const;
  // The fault switched on by the scenario at t, if any.
  std::optional<FaultSpec> ScenarioFault(double t) const;

  // Modbus registers in five-digit notation.
  static bool IsInputRegister(int reg);
  static bool IsHoldingRegister(int reg);
  static bool IsWritableRegister(int reg);
  static uint16_t InputRegister(int reg, const UnitValues& v);
  uint16_t HoldingRegister(int reg) const;
  // Applies a write at scenario time t; `note` says what it did, for the request log.
  WriteResult WriteRegister(int reg, uint16_t value, double t, std::string& note);

  bool IsOff() const { return off_; }
  bool SelfTestRunning(double t) const { return !off_ && t < selfTestUntil_; }

  // Values set by hand from now on, over whatever the scenario says (state presets, fields);
  // ramps take their end value. ClearOverrides hands the unit back to its scenario.
  void Override(const std::vector<Assignment>& sets);
  void ClearOverrides() { overrides_.clear(); }

  // Counts requests for the every-Nth fault switches.
  int NextRequestNumber() { return ++requests_; }

 private:
  double LocalTime(double t) const;

  int addr_;
  Scenario scenario_;
  double phase_;
  bool noise_;
  bool off_ = false;
  double selfTestUntil_ = -1;
  std::map<int, uint16_t> holding_;
  std::map<int, double> overrides_;
  std::mt19937 rng_;
  int requests_ = 0;
};

}  // namespace tessel::sim
