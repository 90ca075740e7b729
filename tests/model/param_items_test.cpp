#include "model/param_items.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "model/cmd_request.h"

namespace tessel {
namespace {

TEST(ParamItems, PasswordTrimsAndKeepsTheCodeOnRefusal) {
  const struct {
    const char* typed;
    bool accepted;
  } cases[] = {{"ZEV305", true}, {"  ZEV305LB ", true}, {"\tRTK8150\r\n", true},
               {"ZEV702", true}, {"zev305", false},     {"ZEV 702", false},
               {"", false},      {"ZEV3055", false},    {"RTK8150x", false}};
  for (const auto& k : cases) {
    std::string model = "ZEV702";
    EXPECT_EQ(EnterModelCode(model, k.typed), k.accepted) << k.typed;
    EXPECT_EQ(model, k.accepted ? TrimPassword(k.typed) : "ZEV702") << k.typed;
  }
  EXPECT_EQ(TrimPassword(" \x01ZEV305\x7f "), "ZEV305\x7f");
}

TEST(ParamItems, ListHoldsTheOperationModeOnlyForItsModel) {
  EXPECT_EQ(ParamItemCount(""), 19);
  EXPECT_EQ(ParamItemCount("ZEV305"), 19);
  EXPECT_EQ(ParamItemCount("ZEV305LB"), 20);
  for (int i = 0; i < kParamItemCount; ++i) EXPECT_TRUE(IsWritableParam(ParamItem(i).reg)) << i;
  EXPECT_EQ(ParamItem(kOptModeItem).reg, 40029);
  EXPECT_STREQ(ParamItem(15).en, "Staus Control");
}

std::vector<std::string> Texts(const ItemView& v) {
  std::vector<std::string> out;
  for (const ParamChoice& c : v.choices) out.push_back(c.text);
  return out;
}

TEST(ParamItems, ShowsTheCurrentValue) {
  using S = std::vector<std::string>;
  const struct {
    const char* what;
    int item;
    std::function<void(TUpsParams&)> set;
    const char* model;
    uint8_t language;
    S texts;
    int selected;
  } cases[] = {
      {"work mode",
       0,
       [](TUpsParams& p) { p.SetMode = 4; },
       "",
       0,
       {"Normal", "ECO", "Parallel"},
       2},
      {"unknown work mode",
       0,
       [](TUpsParams& p) { p.SetMode = 2; },
       "",
       0,
       {"Normal", "ECO", "Parallel"},
       -1},
      {"voltage", 1, [](TUpsParams& p) { p.VoltLevel = 230; }, "", 0, {"380V", "400V", "415V"}, 1},
      {"low voltage model",
       1,
       [](TUpsParams& p) { p.VoltLevel = 127; },
       "ZEV702",
       0,
       {"110V", "115V", "120V", "127V"},
       3},
      {"bypass range",
       3,
       [](TUpsParams& p) { p.BpsFreq = 4; },
       "",
       0,
       {"1%", "2%", "4%", "5%", "10%"},
       2},
      {"upper limit at 240",
       4,
       [](TUpsParams& p) {
         p.VoltLevel = 240;
         p.BpsVMax = 22;
       },
       "",
       0,
       {"10%", "15%"},
       -1},
      {"upper limit 18 at 240",
       4,
       [](TUpsParams& p) {
         p.VoltLevel = 240;
         p.BpsVMax = 18;
       },
       "",
       0,
       {"10%", "15%"},
       -1},
      {"upper limit at 220",
       4,
       [](TUpsParams& p) {
         p.VoltLevel = 220;
         p.BpsVMax = 30;
       },
       "",
       0,
       {"10%", "15%", "20%", "25%"},
       3},
      {"upper limit at 230",
       4,
       [](TUpsParams& p) {
         p.VoltLevel = 230;
         p.BpsVMax = 12;
       },
       "",
       0,
       {"10%", "15%", "20%"},
       1},
      {"lower limit",
       5,
       [](TUpsParams& p) { p.BpsVMin = -30; },
       "",
       0,
       {"-45%", "-30%", "-20%"},
       1},
      {"fine adjustment below 0",
       6,
       [](TUpsParams& p) { p.OutputVFine = -15; },
       "",
       0,
       {"0%", "1%", "2%", "3%", "4%", "5%"},
       0},
      {"fine adjustment 3.5%",
       6,
       [](TUpsParams& p) { p.OutputVFine = 35; },
       "",
       0,
       {"0%", "1%", "2%", "3%", "4%", "5%"},
       3},
      {"cells",
       7,
       [](TUpsParams& p) { p.BattNum = 32; },
       "",
       0,
       {"26", "28", "30", "32", "34", "36", "38", "40"},
       3},
      {"cells out of list",
       7,
       [](TUpsParams& p) { p.BattNum = 24; },
       "",
       0,
       {"26", "28", "30", "32", "34", "36", "38", "40"},
       -1},
      {"short strings",
       7,
       [](TUpsParams& p) { p.BattNum = 18; },
       "RTK8150",
       0,
       {"16", "18", "20"},
       1},
      {"fixed string", 7, [](TUpsParams& p) { p.BattNum = 40; }, "ZEV702", 0, {"24"}, 0},
      {"boost voltage",
       9,
       [](TUpsParams& p) { p.BattBoostV = 235; },
       "",
       0,
       {"2.30", "2.31", "2.32", "2.33", "2.34", "2.35", "2.36", "2.37", "2.38", "2.39", "2.40"},
       5},
      {"float voltage",
       10,
       [](TUpsParams& p) { p.BattFloat = 230; },
       "",
       0,
       {"2.20", "2.21", "2.22", "2.23", "2.24", "2.25", "2.26", "2.27", "2.28", "2.29"},
       -1},
      {"operation mode",
       19,
       [](TUpsParams& p) { p.OptMode = 2; },
       "ZEV305LB",
       1,
       {"普通模式", "变频模式"},
       1},
      {"operation mode en",
       19,
       [](TUpsParams& p) { p.OptMode = 0; },
       "ZEV305LB",
       0,
       {"Normal", "Freq Variable"},
       0},
  };
  for (const auto& k : cases) {
    TUpsParams p;
    k.set(p);
    const ItemView v = ShowParamItem(k.item, p, k.model, k.language);
    EXPECT_EQ(v.layout, ItemLayout::List) << k.what;
    EXPECT_EQ(Texts(v), k.texts) << k.what;
    EXPECT_EQ(v.selected, k.selected) << k.what;
  }

  TUpsParams p;
  p.EodV = 175;
  p.BattCap = 65535;
  p.StatusCtrl = 0x3000;
  EXPECT_EQ(ShowParamItem(kEodItem, p, "", 0).number, "1.75");
  EXPECT_EQ(ShowParamItem(12, p, "", 0).number, "65535");
  const ItemView sw = ShowParamItem(15, p, "", 0);
  EXPECT_EQ(sw.layout, ItemLayout::Switches);
  EXPECT_TRUE(sw.buzzerDisabled && sw.boostDisabled);
  EXPECT_EQ(ShowParamItem(-1, p, "", 0).layout, ItemLayout::None);
}

// What the operator set, and the one value that goes out, or the refusal. Every value accepted
// fits its register's field exactly, so the filler queues it unchanged.
TEST(ParamItems, CheckTurnsInputIntoTheValueWritten) {
  const struct {
    const char* what;
    int item;
    int choice;
    const char* number;
    const char* model;
    bool ok;
    uint16_t value;
    const char* message;
    const char* numberText;  // nullptr: the box is left alone
  } cases[] = {
      {"work mode", 0, 2, "", "", true, 4, "", nullptr},
      {"no work mode", 0, -1, "", "", false, 0, "[Work Mode] value is invalid", nullptr},
      {"400V", 1, 1, "", "", true, 230, "", nullptr},
      {"127V", 1, 3, "", "ZEV702", true, 127, "", nullptr},
      {"no 4th voltage", 1, 3, "", "", false, 0, "[System Voltage Level] value is invalid",
       nullptr},
      {"no frequency", 2, -1, "", "", false, 0, "[System Frequence Level] value is invalid",
       nullptr},
      {"bypass range", 3, 4, "", "", true, 10, "", nullptr},
      {"no bypass range", 3, -1, "", "", false, 0, "[Bypass Frequence Range] value is invalid",
       nullptr},
      {"upper limit", 4, 1, "", "", true, 15, "", nullptr},
      {"no upper limit", 4, -1, "", "", false, 0, "[Bypass Volt Upper Limit] value is invalid",
       nullptr},
      {"lower limit", 5, 0, "", "", true, 0xFFD3, "", nullptr},
      {"fine adjustment", 6, 5, "", "", true, 50, "", nullptr},
      {"no fine adjustment", 6, -1, "", "", false, 0, "[Invert-Volt adjustment] value is invalid",
       nullptr},
      {"cells", 7, 7, "", "", true, 40, "", nullptr},
      {"no cells", 7, -1, "", "", false, 0, "[Battery Num] value is invalid", nullptr},
      {"short strings", 7, 2, "", "RTK8150", true, 20, "", nullptr},
      {"fixed string", 7, -1, "", "ZEV702", true, 24, "", nullptr},
      {"boost voltage", 9, 10, "", "", true, 240, "", nullptr},
      {"no float voltage", 10, -1, "", "", false, 0, "[Float base Volt] value is invalid", nullptr},
      {"groups", 8, -1, "8", "", true, 8, "", nullptr},
      {"groups 9", 8, -1, "9", "", false, 0, "[Battery Group] value is invalid", nullptr},
      {"groups 2.5", 8, -1, "2.5", "", false, 0, "[Battery Group] value is invalid", nullptr},
      {"groups empty", 8, -1, "", "", false, 0, "[Battery Group] value is invalid", nullptr},
      {"groups 65537", 8, -1, "65537", "", false, 0, "[Battery Group] value is invalid", nullptr},
      {"groups with blanks", 8, -1, " 3 ", "", true, 3, "", nullptr},
      {"EOD 1.234", kEodItem, -1, "1.234", "", true, 123, "", "1.23"},
      {"EOD 1.2", kEodItem, -1, "1.2", "", true, 120, "", "1.20"},
      {"EOD 1.9", kEodItem, -1, "1.9", "", true, 190, "", "1.90"},
      {"EOD 1.95", kEodItem, -1, "1.95", "", false, 0, "[EOD Volt] value is invalid", "1.80"},
      {"EOD empty", kEodItem, -1, "", "", false, 0, "[EOD Volt] value is invalid", "1.80"},
      {"EOD 1..5", kEodItem, -1, "1..5", "", false, 0, "[EOD Volt] value is invalid", "1.80"},
      {"capacity 2000", 12, -1, "2000", "", true, 2000, "", nullptr},
      {"capacity 0", 12, -1, "0", "", false, 0, "[Single Battery Capability] value is invalid",
       nullptr},
      {"capacity 65537", 12, -1, "65537", "", false, 0,
       "[Single Battery Capability] value is invalid", nullptr},
      {"charge current 25", 13, -1, "25", "", true, 25, "", nullptr},
      {"charge current 26", 13, -1, "26", "", false, 0, "[Max Charge current] value is invalid",
       "25"},
      {"charge current empty", 13, -1, "", "", false, 0, "[Max Charge current] value is invalid",
       "25"},
      {"boost time 600", 14, -1, "600", "", true, 600, "", nullptr},
      {"boost time 601", 14, -1, "601", "", false, 0, "[Boost Last Time] value is invalid", "30"},
      {"parallel 255", 16, -1, "255", "", true, 255, "", nullptr},
      {"parallel 300", 16, -1, "300", "", false, 0, "[Parallel Amount] value is invalid", nullptr},
      {"parallel 65536", 16, -1, "65536", "", false, 0, "[Parallel Amount] value is invalid",
       nullptr},
      {"parallel 65537", 16, -1, "65537", "", false, 0, "[Parallel Amount] value is invalid",
       nullptr},
      {"parallel huge", 16, -1, "99999999999999999999999", "", false, 0,
       "[Parallel Amount] value is invalid", nullptr},
      {"redundancy 2 of 3", 17, -1, "2", "", true, 2, "", nullptr},
      {"redundancy 0 of 3", 17, -1, "0", "", true, 0, "", nullptr},
      {"redundancy 3 of 3", 17, -1, "3", "", false, 0, "[Parallel Redundancy] value is invalid",
       "2"},
      {"parallel ID 14", 18, -1, "14", "", true, 14, "", nullptr},
      {"parallel ID 0", 18, -1, "0", "", false, 0, "[Parallel ID] value is invalid", nullptr},
      {"operation mode", 19, 1, "", "ZEV305LB", true, 2, "", nullptr},
      {"no operation mode", 19, -1, "", "ZEV305LB", false, 0, "[Operation Mode] value is invalid",
       nullptr},
  };
  TUpsParams current;
  current.BattCap = 100;
  current.ParaNum = 3;
  for (const auto& k : cases) {
    ItemInput in;
    in.choice = k.choice;
    in.number = k.number;
    const ItemCheck r = CheckParamItem(k.item, in, current, k.model);
    EXPECT_EQ(r.ok, k.ok) << k.what;
    EXPECT_EQ(r.value, k.value) << k.what;
    EXPECT_EQ(r.message, k.message) << k.what;
    EXPECT_EQ(r.numberText.value_or("(none)"), k.numberText ? k.numberText : "(none)") << k.what;
    if (r.ok) {
      CmdRequests c;
      EXPECT_EQ(RequestParamWrite(c, 3, 1, ParamItem(k.item).reg, r.value), CmdResult::Queued)
          << k.what;
      EXPECT_EQ(c.CmdSlots[0].Value, k.value) << k.what;
    }
  }
}

TEST(ParamItems, RangesThatFollowTheUnit) {
  TUpsParams none;  // no parallel units, no capacity
  ItemInput in;
  in.number = "0";
  EXPECT_TRUE(CheckParamItem(17, in, none, "").ok);
  EXPECT_TRUE(CheckParamItem(13, in, none, "").ok);
  in.number = "1";
  EXPECT_EQ(CheckParamItem(17, in, none, "").numberText, "0");
  EXPECT_EQ(CheckParamItem(13, in, none, "").numberText, "0");

  ItemInput sw;
  sw.buzzerDisabled = true;
  EXPECT_EQ(CheckParamItem(15, sw, none, "").value, 0x1000);
  sw.boostDisabled = true;
  EXPECT_EQ(CheckParamItem(15, sw, none, "").value, 0x3000);
  sw.buzzerDisabled = false;
  EXPECT_EQ(CheckParamItem(15, sw, none, "").value, 0x2000);
}

TEST(ParamItems, SelfTestTimeIsAWholeNumberOfSeconds) {
  const struct {
    const char* text;
    bool ok;
    uint16_t value;
  } cases[] = {{"60", true, 60},    {"1", true, 1},    {"65535", true, 65535},
               {"0", false, 0},     {"", false, 0},    {"65536", false, 0},
               {"70000", false, 0}, {"1.5", false, 0}, {"-5", false, 0}};
  for (const auto& k : cases) {
    const ItemCheck r = CheckSelfTestTime(k.text);
    EXPECT_EQ(r.ok, k.ok) << k.text;
    EXPECT_EQ(r.value, k.value) << k.text;
    EXPECT_EQ(r.message, k.ok ? "" : "[Battery Test Time] value is invalid") << k.text;
  }
}

}  // namespace
}  // namespace tessel
