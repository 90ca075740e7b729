// The chunk rule stepped on a made-up clock: the exact deadlines that the pseudo-terminal tests
// can only bracket with generous pauses.
#include "service/chunk_cutter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessel {
namespace {

constexpr int64_t kMs = 1'000'000;

// Ten bytes starting with 'F' are one whole answer.
bool TenByteFrame(const uint8_t* data, size_t n) {
  return n == 10 && data[0] == 'F';
}

TEST(ChunkCutterTest, DeadlineFollowsTheLastArrival) {
  struct Step {
    int64_t atMs;
    std::string bytes;
    int64_t deadlineMs;  // after the step
  };
  struct Case {
    const char* name;
    int64_t silenceMs, quietMs;
    std::vector<Step> steps;
  } cases[] = {
      {"every arrival restarts the silence", 200, 5, {{0, "ab", 200}, {150, "c", 350}}},
      {"a whole frame closes after the quiet time", 200, 5, {{0, "F12345678", 200}, {10, "9", 15}}},
      {"a byte within the quiet time reopens the full silence",
       200,
       5,
       {{0, "F123456789", 5}, {3, "x", 203}}},
      {"a quiet time longer than the silence does not stretch it", 20, 50, {{0, "F123456789", 20}}},
      {"no silence hands over every arrival at once", 0, 5, {{7, "ab", 7}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChunkCutter cutter;
    cutter.Configure(c.silenceMs * kMs, &TenByteFrame, c.quietMs * kMs);
    EXPECT_EQ(cutter.Deadline(), -1);
    std::string all;
    for (const Step& step : c.steps) {
      const auto* data = reinterpret_cast<const uint8_t*>(step.bytes.data());
      EXPECT_EQ(cutter.Add(data, step.bytes.size(), step.atMs * kMs), step.bytes.size());
      EXPECT_EQ(cutter.Deadline(), step.deadlineMs * kMs) << "after " << step.bytes;
      all += step.bytes;
    }
    const std::vector<uint8_t> chunk = cutter.Take();
    ASSERT_EQ(chunk.size(), all.size() + 1);
    EXPECT_EQ(std::string(chunk.begin(), chunk.end() - 1), all);
    EXPECT_EQ(chunk.back(), 0);
    EXPECT_FALSE(cutter.Pending());
    EXPECT_EQ(cutter.Deadline(), -1);
  }
}

TEST(ChunkCutterTest, ATooLongArrivalFillsTheChunkAndLeavesTheRest) {
  ChunkCutter cutter;
  cutter.Configure(100 * kMs, nullptr, 0);
  const std::vector<uint8_t> bytes(3000, 0x55);
  EXPECT_EQ(cutter.Add(bytes.data(), 1000, 0), 1000u);
  EXPECT_EQ(cutter.Space(), 1048u);
  EXPECT_EQ(cutter.Add(bytes.data(), 2000, 1), 1048u);
  EXPECT_TRUE(cutter.Full());
  EXPECT_EQ(cutter.Add(bytes.data(), 1, 2), 0u) << "a full chunk takes nothing more";
  EXPECT_EQ(cutter.Take().size(), 2049u);
  EXPECT_EQ(cutter.Space(), 2048u);

  // A new configuration drops what was pending.
  cutter.Add(bytes.data(), 5, 3);
  cutter.Configure(100 * kMs, nullptr, 0);
  EXPECT_FALSE(cutter.Pending());
  EXPECT_EQ(cutter.Deadline(), -1);
}

}  // namespace
}  // namespace tessel
