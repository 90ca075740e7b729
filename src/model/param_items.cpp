#include "model/param_items.h"

#include <cmath>
#include <cstdio>

#include "model/settings.h"

namespace tessel {

namespace {

constexpr const char* kAcceptedCodes[] = {"ZEV305", "ZEV305LB", "ZEV702", "RTK8150"};
constexpr const char* kLowVoltModel = "ZEV702";
constexpr const char* kShortStringModel = "RTK8150";

constexpr ParamItemInfo kItems[kParamItemCount] = {
    {"工作模式", "Work Mode", 40004, ItemLayout::List},
    {"系统电压等级(V)", "System Voltage Level(V)", 40005, ItemLayout::List},
    {"输出频率等级(HZ)", "System Frequency Level(Hz)", 40006, ItemLayout::List},
    {"旁路频率跟踪范围(%)", "Bypass Frequency Range(%)", 40011, ItemLayout::List},
    {"旁路电压保护范围上限(%)", "Bypass Volt Upper Limit(%)", 40012, ItemLayout::List},
    {"旁路电压保护范围下限(%)", "Bypass Volt lower Limit(%)", 40013, ItemLayout::List},
    {"逆变输出电压微调(%)", "Invert-Volt adjustment(%)", 40014, ItemLayout::List},
    {"电池节数", "Battery Number", 40015, ItemLayout::List},
    {"电池并联组数", "Battery Group", 40017, ItemLayout::Number},
    {"均充电压上限(V/Cell)", "Boost upper limit Volt(V/Cell)", 40018, ItemLayout::List},
    {"浮充电压基准(V/Cell)", "Float base Volt(V/Cell)", 40019, ItemLayout::List},
    {"EOD电压(V/Cell)", "EOD Volt(V/Cell)", 40020, ItemLayout::Number},
    {"单节电池容量(AH)", "Single Battery Capability(AH)", 40021, ItemLayout::Number},
    {"最大充电电流(A)", "Max Charge current(A)", 40023, ItemLayout::Number},
    {"均充持续时间（分钟）", "Boost Last Time(Min)", 40025, ItemLayout::Number},
    {"状态控制位", "Staus Control", 40027, ItemLayout::Switches},
    {"系统并机总台数", "Parallel Amount", 40007, ItemLayout::Number},
    {"并机冗余台数", "Parallel Redundancy", 40008, ItemLayout::Number},
    {"并机系统ID", "Parallel ID", 40002, ItemLayout::Number},
    {"操作模式", "Operation Mode", 40029, ItemLayout::List},
};

// The name each item's refusal message gives it; the switches are never refused.
constexpr const char* kInvalidNames[kParamItemCount] = {"Work Mode",
                                                        "System Voltage Level",
                                                        "System Frequence Level",
                                                        "Bypass Frequence Range",
                                                        "Bypass Volt Upper Limit",
                                                        "Bypass Volt lower Limit",
                                                        "Invert-Volt adjustment",
                                                        "Battery Num",
                                                        "Battery Group",
                                                        "Boost upper limit Volt",
                                                        "Float base Volt",
                                                        "EOD Volt",
                                                        "Single Battery Capability",
                                                        "Max Charge current",
                                                        "Boost Last Time",
                                                        "",
                                                        "Parallel Amount",
                                                        "Parallel Redundancy",
                                                        "Parallel ID",
                                                        "Operation Mode"};

// End-of-discharge voltage limits in volts per cell, and the box's suggestion after a refusal.
constexpr double kEodMin = 1.2;
constexpr double kEodMax = 1.9;
constexpr const char* kEodSuggestion = "1.80";

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlankOrControl(s[b])) ++b;
  while (e > b && IsBlankOrControl(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// A whole decimal number, blanks around it allowed. Anything else ("", "2.5", "-1", "1e3") is
// none. Numbers too long to matter are kept as a huge value, so that range checks refuse them.
std::optional<int64_t> WholeNumber(const std::string& text) {
  const std::string t = Trim(text);
  if (t.empty()) return std::nullopt;
  int64_t v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return std::nullopt;
    if (v < 1'000'000'000'000) v = v * 10 + (c - '0');
  }
  return v;
}

// A decimal fraction: digits with at most one point ("1.234", "1.", ".5").
std::optional<double> DecimalNumber(const std::string& text) {
  const std::string t = Trim(text);
  int digits = 0, points = 0;
  for (char c : t) {
    if (c >= '0' && c <= '9')
      ++digits;
    else if (c == '.')
      ++points;
    else
      return std::nullopt;
  }
  if (digits == 0 || points > 1 || digits > 15) return std::nullopt;
  return std::strtod(t.c_str(), nullptr);
}

std::string Fixed2(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

std::string Percent(int v) {
  return std::to_string(v) + "%";
}

int FindValue(const std::vector<ParamChoice>& choices, int32_t v) {
  for (size_t i = 0; i < choices.size(); ++i)
    if (choices[i].value == v) return static_cast<int>(i);
  return -1;
}

// The choice at position i when there is one, else none.
int Position(const std::vector<ParamChoice>& choices, int i) {
  return i >= 0 && i < static_cast<int>(choices.size()) ? i : -1;
}

void FillList(ItemView& view, int item, const TUpsParams& p, const std::string& model,
              uint8_t language) {
  auto& c = view.choices;
  switch (item) {
    case 0:
      c = {{"Normal", 0}, {"ECO", 1}, {"Parallel", 4}};
      view.selected = FindValue(c, p.SetMode);
      break;
    case 1:
      if (model == kLowVoltModel)
        c = {{"110V", 110}, {"115V", 115}, {"120V", 120}, {"127V", 127}};
      else  // the value is the phase voltage of the line voltage shown
        c = {{"380V", 220}, {"400V", 230}, {"415V", 240}};
      view.selected = FindValue(c, p.VoltLevel);
      break;
    case 2:
      c = {{"50Hz", 50}, {"60Hz", 60}};
      view.selected = FindValue(c, p.FreqLevel);
      break;
    case 3:
      for (int v : {1, 2, 4, 5, 10}) c.push_back({Percent(v), v});
      view.selected = FindValue(c, p.BpsFreq);
      break;
    case 4: {
      // The wider upper limits exist only for the lower voltage levels.
      c = {{"10%", 10}, {"15%", 15}};
      if (p.VoltLevel == 230 || p.VoltLevel == 220) c.push_back({"20%", 20});
      if (p.VoltLevel == 220) c.push_back({"25%", 25});
      const int v = p.BpsVMax;
      const int pos = v <= 10 ? 0 : v <= 15 ? 1 : v <= 20 ? 2 : v < 25 ? -1 : 3;
      view.selected = Position(c, pos);
      break;
    }
    case 5:
      c = {{"-45%", -45}, {"-30%", -30}, {"-20%", -20}};
      view.selected = FindValue(c, p.BpsVMin);
      break;
    case 6: {
      for (int i = 0; i <= 5; ++i) c.push_back({Percent(i), i * 10});  // unit 0.1 %
      const int v = p.OutputVFine;
      view.selected = v < 10 ? 0 : v < 20 ? 1 : v < 30 ? 2 : v < 40 ? 3 : v < 50 ? 4 : 5;
      break;
    }
    case 7: {
      int first = 26, count = 8;
      if (model == kShortStringModel) first = 16, count = 3;
      if (model == kLowVoltModel) first = 24, count = 1;
      for (int i = 0; i < count; ++i) c.push_back({std::to_string(first + 2 * i), first + 2 * i});
      view.selected = count == 1 ? 0 : Position(c, p.BattNum / 2 - first / 2);
      break;
    }
    case 9:
      for (int i = 0; i <= 10; ++i) c.push_back({Fixed2((230 + i) / 100.0), 230 + i});
      view.selected = Position(c, p.BattBoostV - 230);
      break;
    case 10:
      for (int i = 0; i <= 9; ++i) c.push_back({Fixed2((220 + i) / 100.0), 220 + i});
      view.selected = Position(c, p.BattFloat - 220);
      break;
    case kOptModeItem:
      if (IsChinese(language))
        c = {{"普通模式", 0}, {"变频模式", 2}};
      else
        c = {{"Normal", 0}, {"Freq Variable", 2}};
      view.selected = FindValue(c, p.OptMode);
      break;
    default:
      break;
  }
}

std::string NumberShown(int item, const TUpsParams& p) {
  switch (item) {
    case 8:
      return std::to_string(p.BattGroup);
    case kEodItem:
      return Fixed2(p.EodV / 100.0);
    case 12:
      return std::to_string(p.BattCap);
    case 13:
      return std::to_string(p.MaxChgCurr);
    case 14:
      return std::to_string(p.BoostLast);
    case 16:
      return std::to_string(p.ParaNum);
    case 17:
      return std::to_string(p.RedunNum);
    case 18:
      return std::to_string(p.SysID);
    default:
      return {};
  }
}

ItemCheck Refused(int item, std::optional<std::string> suggestion = std::nullopt) {
  ItemCheck r;
  r.message = std::string("[") + kInvalidNames[item] + "] value is invalid";
  r.numberText = std::move(suggestion);
  return r;
}

ItemCheck Accepted(int64_t value) {
  ItemCheck r;
  r.ok = true;
  r.value = static_cast<uint16_t>(value);  // negative choices go out as two's complement
  return r;
}

ItemCheck CheckEod(const std::string& text) {
  const std::optional<double> v = DecimalNumber(text);
  if (!v || *v < kEodMin || *v > kEodMax) return Refused(kEodItem, kEodSuggestion);
  ItemCheck r = Accepted(std::lround(*v * 100));
  r.numberText = Fixed2(r.value / 100.0);
  return r;
}

ItemCheck CheckNumber(int item, const std::string& text, const TUpsParams& p) {
  const std::optional<int64_t> n = WholeNumber(text);
  const int64_t v = n.value_or(-1);  // no number fails every range below
  auto inRange = [&](int64_t lo, int64_t hi) { return n && v >= lo && v <= hi; };
  switch (item) {
    case 8:
      return inRange(1, 8) ? Accepted(v) : Refused(item);
    case 12:
      return inRange(1, 2000) ? Accepted(v) : Refused(item);
    case 13: {
      // The charger may take at most a quarter of the battery's capacity in amperes.
      const int limit = p.BattCap / 4;
      return inRange(0, limit) ? Accepted(v) : Refused(item, std::to_string(limit));
    }
    case 14:
      return inRange(0, 600) ? Accepted(v) : Refused(item, "30");
    case 16:
      return inRange(0, 255) ? Accepted(v) : Refused(item);  // an 8-bit register
    case 17: {
      // Redundancy 0, or fewer units than the system has.
      const int amount = p.ParaNum;
      const int suggestion = amount > 0 ? amount - 1 : 0;
      return n && (v == 0 || v < amount) ? Accepted(v) : Refused(item, std::to_string(suggestion));
    }
    case 18:
      return inRange(1, 14) ? Accepted(v) : Refused(item);
    default:
      return Refused(item);
  }
}

}  // namespace

bool IsAcceptedModelCode(const std::string& code) {
  for (const char* accepted : kAcceptedCodes)
    if (code == accepted) return true;
  return false;
}

std::string TrimPassword(const std::string& typed) {
  return Trim(typed);
}

bool EnterModelCode(std::string& modelCode, const std::string& typed) {
  const std::string code = TrimPassword(typed);
  if (!IsAcceptedModelCode(code)) return false;
  modelCode = code;
  return true;
}

const ParamItemInfo& ParamItem(int item) {
  return kItems[item];
}

int ParamItemCount(const std::string& modelCode) {
  return modelCode == kOptModeModel ? kParamItemCount : kParamItemCount - 1;
}

ItemView ShowParamItem(int item, const TUpsParams& current, const std::string& modelCode,
                       uint8_t language) {
  ItemView view;
  if (item < 0 || item >= kParamItemCount) return view;
  view.layout = kItems[item].layout;
  switch (view.layout) {
    case ItemLayout::List:
      FillList(view, item, current, modelCode, language);
      break;
    case ItemLayout::Number:
      view.number = NumberShown(item, current);
      break;
    case ItemLayout::Switches:
      view.buzzerDisabled = (current.StatusCtrl & kBuzzerOffBit) != 0;
      view.boostDisabled = (current.StatusCtrl & kBoostOffBit) != 0;
      break;
    case ItemLayout::None:
      break;
  }
  return view;
}

ItemCheck CheckParamItem(int item, const ItemInput& in, const TUpsParams& current,
                         const std::string& modelCode) {
  if (item < 0 || item >= kParamItemCount) return {};
  switch (kItems[item].layout) {
    case ItemLayout::List: {
      // The one battery string of this model is written as it is, whatever was chosen.
      if (item == 7 && modelCode == kLowVoltModel) return Accepted(24);
      const ItemView view = ShowParamItem(item, current, modelCode, 0);
      if (Position(view.choices, in.choice) < 0) return Refused(item);
      return Accepted(view.choices[static_cast<size_t>(in.choice)].value);
    }
    case ItemLayout::Number:
      return item == kEodItem ? CheckEod(in.number) : CheckNumber(item, in.number, current);
    case ItemLayout::Switches:
      return Accepted((in.buzzerDisabled ? kBuzzerOffBit : 0) |
                      (in.boostDisabled ? kBoostOffBit : 0));
    case ItemLayout::None:
      break;
  }
  return {};
}

ItemCheck CheckSelfTestTime(const std::string& text) {
  const std::optional<int64_t> n = WholeNumber(text);
  if (n && *n >= 1 && *n <= 65535) return Accepted(*n);
  ItemCheck r;
  r.message = "[Battery Test Time] value is invalid";
  return r;
}

}  // namespace tessel
