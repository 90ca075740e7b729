#include "model/device_name.h"

#include <gtest/gtest.h>

#include <string>

#include "model/gbk.h"
#include "model/ups_info.h"

namespace tessel {
namespace {

std::array<uint8_t, kNameSize> Field(const std::string& bytes) {
  std::array<uint8_t, kNameSize> f;
  f.fill(0x0D);
  for (size_t i = 0; i < bytes.size() && i < f.size(); ++i) f[i] = static_cast<uint8_t>(bytes[i]);
  return f;
}

std::string Bytes(const std::array<uint8_t, kNameSize>& f) {
  return std::string(f.begin(), f.end());
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(DeviceName, TwentyChineseCharactersFillTheFieldWithoutTerminator) {
  const std::string name = Repeat("机房", 10);  // 20 characters
  const auto field = MakeNameField(name);
  EXPECT_EQ(Bytes(field), Utf8ToGbk(name));
  EXPECT_EQ(Utf8ToGbk(name).size(), 40u);
  EXPECT_EQ(NameFieldText(field), name);
}

TEST(DeviceName, ShortNameIsPaddedWithCarriageReturns) {
  const auto field = MakeNameField("UPS-1");
  EXPECT_EQ(Bytes(field), "UPS-1" + std::string(35, '\r'));
  EXPECT_EQ(NameFieldText(field), "UPS-1");
  EXPECT_EQ(Bytes(MakeNameField("")), std::string(40, '\r'));
  EXPECT_EQ(NameFieldText(MakeNameField("")), "");
}

TEST(DeviceName, LongNamesAreCutAtACharacterBoundary) {
  // 21 Chinese characters: the 21st does not fit.
  EXPECT_EQ(NameFieldText(MakeNameField(Repeat("电", 21))), Repeat("电", 20));
  // One ASCII byte first: the 20th Chinese character would need bytes 40 and 41, so it is left
  // out and its place padded.
  const auto odd = MakeNameField("A" + Repeat("电", 20));
  EXPECT_EQ(odd[39], 0x0D);
  EXPECT_EQ(NameFieldText(odd), "A" + Repeat("电", 19));
  EXPECT_EQ(NameFieldText(MakeNameField(std::string(45, 'x'))), std::string(40, 'x'));
}

TEST(DeviceName, ReadingStopsAtNulAndKeepsInnerCarriageReturns) {
  EXPECT_EQ(NameFieldText(Field(std::string("UPS\0junk", 8))), "UPS");
  EXPECT_EQ(NameFieldText(Field("A\rB")), "A\rB");
  EXPECT_EQ(NameFieldText(Field(std::string(40, '\0'))), "");
}

TEST(DeviceName, MixedTextSurvivesTheGbkRoundTrip) {
  const std::string name = "1号UPS（机房B）";
  const std::string gbk = Utf8ToGbk(name);
  EXPECT_EQ(gbk,
            "1\xBA\xC5UPS\xA3\xA8\xBB\xFA\xB7\xBF"
            "B\xA3\xA9");
  EXPECT_EQ(GbkToUtf8(gbk), name);
  EXPECT_EQ(NameFieldText(MakeNameField(name)), name);
}

TEST(DeviceName, DamagedBytesDoNotLoseTheRest) {
  // 0xFF is never valid in GBK; a lead byte at the very end has no second byte.
  const std::string damaged = "AB\xFF" + Utf8ToGbk("中文") + "\x81";
  EXPECT_EQ(NameFieldText(Field(damaged)), "AB\xEF\xBF\xBD中文\xEF\xBF\xBD");
  // A character GBK cannot hold becomes "?" and the rest stays.
  EXPECT_EQ(NameFieldText(MakeNameField("UPS\xF0\x9F\x94\x8B"
                                        "1")),
            "UPS?1");
}

TEST(DeviceName, CheckCountsGbkBytesAndRefusesWhatTheFieldCannotKeep) {
  const std::string battery = "\xF0\x9F\x94\x8B";  // an emoji, outside GBK
  const std::string smile = "\xF0\x9F\x98\x80";
  struct Case {
    std::string name;
    NameCheck verdict;
    std::string unstorable;
  };
  const Case cases[] = {
      {"", NameCheck::Empty, ""},
      {"UPS-1", NameCheck::Ok, ""},
      {"1号UPS（机房B）€", NameCheck::Ok, ""},
      {std::string(40, 'x'), NameCheck::Ok, ""},
      {std::string(41, 'x'), NameCheck::TooLong, ""},
      {Repeat("电", 20), NameCheck::Ok, ""},
      {Repeat("电", 21), NameCheck::TooLong, ""},
      {"A" + Repeat("电", 19), NameCheck::Ok, ""},
      {"A" + Repeat("电", 20), NameCheck::TooLong, ""},
      // Refused characters are named once each, in order; they do not count towards the length,
      // but a name that is too long anyway is reported as such first.
      {"UPS" + battery + "1", NameCheck::NotGbk, battery},
      {battery + smile + battery, NameCheck::NotGbk, battery + " " + smile},
      {std::string(40, 'x') + battery, NameCheck::NotGbk, battery},
      {std::string(41, 'x') + battery, NameCheck::TooLong, ""},
      // A NUL would end the name and trailing CRs would be read back as padding.
      {std::string("A\0B", 3), NameCheck::NotGbk, "U+0000"},
      {"UPS\r", NameCheck::NotGbk, "U+000D"},
      {"A\tB\n", NameCheck::NotGbk, "U+0009 U+000A"},
      // Damaged UTF-8 (a stray byte, an overlong form, a cut character) is never stored as "?".
      {"A\xFF"
       "B",
       NameCheck::NotGbk, "\xEF\xBF\xBD"},
      {"\xC0\xAF", NameCheck::NotGbk, "\xEF\xBF\xBD"},
      {"AB\xE6\x9C", NameCheck::NotGbk, "\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const NameCheckResult r = CheckDeviceName(c.name);
    EXPECT_EQ(r.Verdict, c.verdict);
    EXPECT_EQ(r.Unstorable, c.unstorable);
    // Whatever the check lets through is stored and read back unchanged.
    if (r.Verdict == NameCheck::Ok) {
      EXPECT_EQ(NameFieldText(MakeNameField(c.name)), c.name);
    }
  }
}

}  // namespace
}  // namespace tessel
