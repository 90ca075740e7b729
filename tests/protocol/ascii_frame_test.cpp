#include "protocol/ascii_frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <limits>
#include <string>
#include <vector>

#include "protocol/ascii_answer.h"

namespace tessel {
namespace {

using testing::Bytes;
using testing::FrameAnswer;

std::string Sent(const std::array<uint8_t, kTxBufSize>& buf, int len) {
  return std::string(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(len));
}

TEST(AsciiFrame, BuildsRequestsByteForByte) {
  struct Case {
    uint8_t ver;
    int addr;
    uint8_t cid2;
    const char* frame;
  };
  const Case cases[] = {
      {0x31, 1, 0x42, "~31012A420000FDA2\r"},
      {0x31, 1, 0x43, "~31012A430000FDA1\r"},
      {0x11, 2, 0x41, "~11022A410000FDA4\r"},
      {0x31, 10, 0x80, "~310A2A800000FD90\r"},
  };
  for (const auto& c : cases) {
    std::array<uint8_t, kTxBufSize> buf;
    buf.fill(0xEE);
    ASSERT_EQ(BuildFrame(buf, c.ver, c.addr, c.cid2), 18);
    EXPECT_EQ(Sent(buf, 18), c.frame);
    EXPECT_EQ(buf[18], 0);     // terminator, not part of the frame
    EXPECT_EQ(buf[19], 0xEE);  // nothing written beyond it
  }
  std::array<uint8_t, 18> tooSmall{};
  EXPECT_EQ(BuildFrame(tooSmall, 0x31, 1, 0x42), 0);
  EXPECT_EQ(tooSmall, (std::array<uint8_t, 18>{}));
}

TEST(AsciiFrame, BuildAnswerFrameMatchesHandComputedFrames) {
  EXPECT_EQ(BuildAnswerFrame(0x31, 1, 0, ""), "~31012A000000FDA8\r");
  EXPECT_EQ(BuildAnswerFrame(0x31, 1, 0, "AB"), "~31012A00E002ABFD0E\r");
  EXPECT_EQ(BuildAnswerFrame(0x31, 1, 0, "AB"), FrameAnswer("~31012A00", "AB"));
}

// Checks an answer with version 0x31 against address 1 and returns the counters it moved.
struct Outcome {
  bool ok;
  TCommDebug before, after;
  std::vector<int> addressed;
};

Outcome Check(const std::string& answer, int addr = 1) {
  Outcome o;
  o.after = o.before;
  o.ok = CheckAnswer(Bytes(answer), 0x31, addr, o.after, [&](int a) { o.addressed.push_back(a); });
  return o;
}

// Index of the one counter that moved: 0..5 for ErrCnt, 10 for AckOkCnt; -1 when not exactly one.
int MovedCounter(const Outcome& o) {
  int moved = -1, count = 0;
  for (int i = 0; i < 10; ++i)
    if (o.after.ErrCnt[i] != o.before.ErrCnt[i])
      moved = i, count += o.after.ErrCnt[i] - o.before.ErrCnt[i];
  if (o.after.AckOkCnt != o.before.AckOkCnt)
    moved = 10, count += o.after.AckOkCnt - o.before.AckOkCnt;
  if (o.after.SendCnt != o.before.SendCnt || o.after.AckCnt != o.before.AckCnt) return -1;
  return count == 1 ? moved : -1;
}

TEST(AsciiFrame, EachRejectionCountsExactlyOneCounter) {
  const std::string info = "0102030405";
  const std::string valid = FrameAnswer("~31012A00", info);
  std::string badSoi = valid;
  badSoi[0] = '^';
  std::string lowerLength = FrameAnswer("~31012A00", std::string(28, '1'));  // LENGTH "301C"
  ASSERT_EQ(lowerLength.substr(9, 4), "301C");
  lowerLength.replace(9, 4, "301c");
  std::string badChksum = valid;
  badChksum[valid.size() - 2] = badChksum[valid.size() - 2] == '0' ? '1' : '0';
  std::string lowerChksum = valid;
  for (size_t i = valid.size() - 5; i < valid.size() - 1; ++i)
    lowerChksum[i] = static_cast<char>(std::tolower(lowerChksum[i]));
  ASSERT_NE(lowerChksum, valid);

  struct Case {
    const char* what;
    std::string answer;
    int counter;     // ErrCnt index
    bool addressed;  // the current record was switched before the rejection
  };
  const Case cases[] = {
      {"wrong SOI", badSoi, 0, false},
      {"empty chunk", "", 0, false},
      {"version 11", FrameAnswer("~11012A00", info), 1, false},
      {"version not hex", FrameAnswer("~3G012A00", info), 1, false},
      {"other address", FrameAnswer("~31022A00", info), 2, false},
      {"wrong CID1", FrameAnswer("~31012B00", info), 3, false},
      {"RTN 04", FrameAnswer("~31012A04", info), 3, false},
      {"lowercase LENGTH", lowerLength, 4, true},
      {"LENGTH one short",
       valid.substr(0, 9) + LengthField(static_cast<int>(info.size()) - 1) + valid.substr(13), 4,
       true},
      {"wrong CHKSUM", badChksum, 5, true},
      {"lowercase CHKSUM", lowerChksum, 5, true},
      {"extra byte after EOI", valid + "\r", 4, true},
  };
  for (const auto& c : cases) {
    const Outcome o = Check(c.answer);
    EXPECT_FALSE(o.ok) << c.what;
    EXPECT_EQ(MovedCounter(o), c.counter) << c.what;
    EXPECT_EQ(o.addressed, c.addressed ? std::vector<int>{1} : std::vector<int>{}) << c.what;
  }
}

TEST(AsciiFrame, TruncatedAnswersFailAtTheFirstFieldTheyLack) {
  const std::string valid = FrameAnswer("~31012A00", "");
  ASSERT_EQ(valid.size(), 18u);
  // Length of the chunk -> counter of the step whose field is not wholly inside it.
  const std::pair<size_t, int> cases[] = {
      {0, 0}, {1, 1}, {2, 1}, {3, 2},  {4, 2},  {5, 3},  {6, 3},
      {7, 3}, {8, 3}, {9, 4}, {12, 4}, {13, 4}, {16, 4}, {17, 4},
  };
  for (const auto& [n, counter] : cases) {
    // Copy into an exact-size buffer so a read past n is caught by the sanitizer build.
    const std::vector<uint8_t> chunk(valid.begin(), valid.begin() + static_cast<long>(n));
    TCommDebug debug;
    EXPECT_FALSE(CheckAnswer(chunk, 0x31, 1, debug)) << n;
    for (int i = 0; i < 10; ++i)
      EXPECT_EQ(debug.ErrCnt[i], i == counter ? 1 : 0) << n << " ErrCnt " << i;
    EXPECT_EQ(debug.AckOkCnt, 0);
  }
  // A NUL where the header continues reads as a stop, not as a digit past the chunk.
  EXPECT_EQ(CheckAnswerHead(Bytes(std::string("~3\0", 3)), 0x31, 1), AnswerStep::Ver);
}

TEST(AsciiFrame, AcceptsLowercaseDigitsOutsideLengthAndChecksumAndIgnoresEoi) {
  const std::string lowerHead = FrameAnswer("~31012a00", "00");
  const std::string lowerInfo = FrameAnswer("~31012A00", "00ff1a2b");
  std::string wrongEoi = FrameAnswer("~31012A00", "0102");
  wrongEoi.back() = 'X';
  const std::string noInfo = FrameAnswer("~31012A00", "");
  for (const std::string& answer : {lowerHead, lowerInfo, wrongEoi, noInfo}) {
    const Outcome o = Check(answer);
    EXPECT_TRUE(o.ok) << answer;
    EXPECT_EQ(MovedCounter(o), 10) << answer;
    EXPECT_EQ(o.addressed, std::vector<int>{1}) << answer;
  }
  // Version 0x11 and a two-digit address in lowercase.
  const std::string other = FrameAnswer("~11fc2A00", "");
  TCommDebug debug;
  int seen = -1;
  EXPECT_TRUE(CheckAnswer(Bytes(other), 0x11, 0xFC, debug, [&](int a) { seen = a; }));
  EXPECT_EQ(seen, 0xFC);
}

TEST(AsciiFrame, AddressesWithoutADeviceRecordAreRejected) {
  // 253..255 fit the ADR field but have no record in the device table.
  const Outcome o = Check(FrameAnswer("~31FD2A00", ""), 0xFD);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(MovedCounter(o), 2);
  EXPECT_TRUE(o.addressed.empty());
  EXPECT_TRUE(Check(FrameAnswer("~31FC2A00", ""), 0xFC).ok);
  EXPECT_TRUE(Check(FrameAnswer("~31002A00", ""), 0).ok);
}

TEST(AsciiFrame, AnswerInfoReadsOnlyInsideInfo) {
  const std::string answer = FrameAnswer("~31012A00", "ABCD0000BE43");  // INFO at 13..24
  const AnswerInfo info(Bytes(answer));
  EXPECT_TRUE(info.Holds(13, 12));
  EXPECT_FALSE(info.Holds(13, 13));  // would reach into CHKSUM
  EXPECT_FALSE(info.Holds(12, 1));   // LENGTH is not INFO
  EXPECT_EQ(info.Word(13), 0xABCD);
  EXPECT_EQ(info.Hex(13, 2), 0xAB);
  EXPECT_EQ(info.Single(17), 380.0);
  EXPECT_EQ(info.Text(23, 4), "43");  // clipped at the end of INFO
  EXPECT_EQ(info.Text(25, 4), "");
  EXPECT_EQ(info.Word(23), 0x43);

  const std::string tiny = "~3";
  const AnswerInfo none(Bytes(tiny));
  EXPECT_FALSE(none.Holds(13, 0));
  EXPECT_EQ(none.Text(13, 4), "");
}

}  // namespace
}  // namespace tessel

namespace tessel {
namespace {

TEST(AsciiFrame, CountersStopAtTheirMaximum) {
  TCommDebug debug;
  debug.AckOkCnt = std::numeric_limits<int32_t>::max();
  debug.ErrCnt[5] = std::numeric_limits<int32_t>::max();
  CountAnswerStep(AnswerStep::Valid, debug);
  CountAnswerStep(AnswerStep::Chksum, debug);
  EXPECT_EQ(debug.AckOkCnt, std::numeric_limits<int32_t>::max());
  EXPECT_EQ(debug.ErrCnt[5], std::numeric_limits<int32_t>::max());
}

}  // namespace
}  // namespace tessel
