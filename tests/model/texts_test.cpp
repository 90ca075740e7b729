#include "model/texts.h"

#include <gtest/gtest.h>

namespace tessel {
namespace {

constexpr uint8_t kChinese = 1;
constexpr uint8_t kEnglish = 0;

struct TextCase {
  std::string (*table)(int, uint8_t);
  int code;
  const char* chinese;
  const char* english;
};

TEST(Texts, RowsInBothLanguages) {
  const TextCase cases[] = {
      {StateText, 1, "待机状态", "Standby Status"},
      {StateText, 11, "故障模式", "Fault Status"},
      {StateText, 18, "通讯中断", "Communication lost"},
      {CommEventText, 20, "监控软件开启", "Monitor software is open"},
      {CommEventText, 23, "通讯恢复", "Communication recovered"},
      {AlarmText, 0, "整流器故障", "Rectifier fault"},
      {AlarmText, 49, "上电初始化故障", "Initializtion fault"},  // kept as it stands
      {AlarmText, 69, "烟雾报警", "Fog Alarm"},
      {AlarmText, 70, "机型错误", "Model error"},
      {AlarmText, 71, "预防性维护时间到", "Preventive maintenance due"},
      {AlarmText, 122, "旁路异常关机", "Bypass abnormal,shutdown"},
      {AlarmText, 144, "蓄电池需维护或电池寿命终结", "Battery needs maintenance or its life end"},
      {AlarmText, 210, "电池接反", "Battery Reverse"},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(c.table(c.code, kChinese), c.chinese) << c.code;
    EXPECT_EQ(c.table(c.code, kEnglish), c.english) << c.code;
  }
}

TEST(Texts, OnlyLanguageOneIsChinese) {
  for (uint8_t language : {0, 2, 255}) EXPECT_EQ(AlarmText(70, language), "Model error");
  EXPECT_EQ(StateText(3, 2), "Bypass Status");
}

TEST(Texts, CodesWithoutARowAreEmpty) {
  for (uint8_t language : {kChinese, kEnglish}) {
    for (int index : {-1, 0, 12, 17, 19}) EXPECT_EQ(StateText(index, language), "") << index;
    for (int code : {0, 17, 24, 1}) EXPECT_EQ(CommEventText(code, language), "") << code;
    // 149 and 152 come from the three-phase alarm answer but have no text.
    for (int code : {-1, 26, 31, 57, 63, 72, 99, 149, 152, 156, 161, 200, 211})
      EXPECT_EQ(AlarmText(code, language), "") << code;
  }
}

TEST(Texts, SharedWordsAreSeparateRows) {
  EXPECT_EQ(StateText(18, kChinese), CommEventText(18, kChinese));
  EXPECT_EQ(StateText(18, kEnglish), CommEventText(18, kEnglish));
  EXPECT_EQ(AlarmText(9, kEnglish), "Fan fault");
  EXPECT_EQ(AlarmText(115, kEnglish), "Fan fault");
  EXPECT_EQ(AlarmText(43, kEnglish), "Bypass Not Available");
  EXPECT_EQ(AlarmText(205, kEnglish), "Bypass Not Available");
  // Same English word, different Chinese rows.
  EXPECT_EQ(AlarmText(43, kChinese), "旁路超保护");
  EXPECT_EQ(AlarmText(205, kChinese), "旁路异常");
}

}  // namespace
}  // namespace tessel
