#include "protocol/func_unit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tessel {
namespace {

TEST(FuncUnit, HexVal) {
  const std::string digits = "0123456789ABCDEFabcdef";
  const int values[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                        11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
  for (size_t i = 0; i < digits.size(); ++i) EXPECT_EQ(HexVal(digits[i]), values[i]) << digits[i];
  for (char ch : std::string("gG/:@`x \r~")) EXPECT_EQ(HexVal(ch), 16) << ch;
  EXPECT_EQ(HexVal('\0'), 16);
}

TEST(FuncUnit, HexToInt) {
  struct Case {
    std::string text;
    int width;
    int32_t expected;
  };
  const Case cases[] = {
      {"3G", 2, 3},                         // stops at the first non-digit
      {"A", 2, 10},                         // padded to "0A"
      {"ABCDE", 2, 0xAB},                   // only the first width characters
      {"", 2, 0},         {"2a", 2, 0x2A},  // lowercase digits read as well
      {"G1", 2, 0},       {"1F", 0, 0},
      {"00FF", 4, 0xFF},  {"FFFFFFFF", 8, -1},  // result is int32
      {"12", 4, 0x12},                          // "0012"
      {"x", 3, 0},                              // "00x": two padding zeros, then a stop
  };
  for (const auto& c : cases) EXPECT_EQ(HexToInt(c.text, c.width), c.expected) << c.text;
}

TEST(FuncUnit, Hex4ToWordSkipsNonDigitsAndReadsOnlyWhatIsThere) {
  struct Case {
    std::string text;
    uint16_t expected;
  };
  const Case cases[] = {
      {"0x1F", 0x01F}, {"55F0", 0x55F0}, {"ffff", 0xFFFF}, {"12345", 0x1234},
      {"AB", 0xAB},    {"", 0},          {"zzzz", 0},      {"1 2 ", 0x12},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex4ToWord(c.text), c.expected) << c.text;
  // A view that ends inside a longer buffer must not see the characters after it.
  const std::string buf = "1FFF";
  EXPECT_EQ(Hex4ToWord(std::string_view(buf).substr(0, 2)), 0x1F);
}

TEST(FuncUnit, WordToHex4AndBitIsSet) {
  EXPECT_EQ(WordToHex4(0), "0000");
  EXPECT_EQ(WordToHex4(0xabc), "0ABC");
  EXPECT_EQ(WordToHex4(0x12345), "2345");
  EXPECT_EQ(WordToHex4(-1), "FFFF");

  EXPECT_TRUE(BitIsSet(0x8000, 15));
  EXPECT_FALSE(BitIsSet(0x8000, 14));
  EXPECT_TRUE(BitIsSet(0x2, 33));  // bit 33 mod 32 = 1
  EXPECT_TRUE(BitIsSet(0x80000000LL, 31));
}

TEST(FuncUnit, LengthField) {
  const std::pair<int, const char*> cases[] = {
      {0, "0000"},   {2, "E002"},   {18, "D012"},   {28, "301C"},
      {146, "5092"}, {130, "6082"}, {4095, "3FFF"},
  };
  for (const auto& [lenid, text] : cases) EXPECT_EQ(LengthField(lenid), text) << lenid;
}

TEST(FuncUnit, FrameChecksumExcludesSoi) {
  const std::string head = "~31012A420000";
  EXPECT_EQ(FrameChecksum(reinterpret_cast<const uint8_t*>(head.data()), 12), "FDA2");
  // The byte at offset 0 never counts.
  const std::string other = "X31012A420000";
  EXPECT_EQ(FrameChecksum(reinterpret_cast<const uint8_t*>(other.data()), 12), "FDA2");
  EXPECT_EQ(FrameChecksum(reinterpret_cast<const uint8_t*>(head.data()), 0), "0000");
}

TEST(FuncUnit, HexTextAndBytes) {
  EXPECT_EQ(HexOnly("7e 31-zz0\r\n"), "7E310");
  EXPECT_EQ(HexToBytes("7e 31 0"), (std::vector<uint8_t>{0x7E, 0x31}));
  EXPECT_TRUE(HexToBytes("").empty());
  EXPECT_TRUE(HexToBytes("f").empty());

  const uint8_t bytes[] = {0x7E, 0x31};
  EXPECT_EQ(BytesToHex(bytes, 2, " "), "7E 31 ");
  EXPECT_EQ(BytesToHex(bytes, 2, ""), "7E31");
  EXPECT_EQ(BytesToHex(bytes, 0, " "), "");
}

TEST(FuncUnit, ShortToStrAndZeroPad) {
  EXPECT_EQ(ShortToStr(65491), "-45");
  EXPECT_EQ(ShortToStr(32767), "32767");
  EXPECT_EQ(ShortToStr(0x18000), "-32768");
  EXPECT_EQ(ShortToStr(-1), "-1");

  EXPECT_EQ(ZeroPad(7, 3), "007");
  EXPECT_EQ(ZeroPad(1234, 3), "234");
  EXPECT_EQ(ZeroPad(42, 2), "42");
  EXPECT_EQ(ZeroPad(5, 0), "");
}

TEST(FuncUnit, HexToSingleIsLeastSignificantByteFirst) {
  // 380.0f = 0x43BE0000, 1.0f = 0x3F800000, -2.5f = 0xC0200000
  EXPECT_EQ(HexToSingle("0000BE43"), 380.0);
  EXPECT_EQ(HexToSingle("0000803f"), 1.0);
  EXPECT_EQ(HexToSingle("000020C0"), -2.5);
  EXPECT_EQ(HexToSingle("0000807F"), INFINITY);
  EXPECT_TRUE(std::isnan(HexToSingle("0000C0FF")));
  // Only the characters given are read: the high bytes of a cut text are 0.
  const std::string buf = "0000BE43";
  EXPECT_EQ(HexToSingle(std::string_view(buf).substr(0, 4)), 0.0);
  EXPECT_EQ(HexToSingle(std::string_view(buf).substr(0, 7)), HexToSingle("0000BE04"));
}

}  // namespace
}  // namespace tessel
