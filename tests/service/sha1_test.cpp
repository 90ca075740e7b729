#include "service/sha1.h"

#include <gtest/gtest.h>

#include <string>

namespace tessel {
namespace {

// Published vectors, the lengths around the padding boundaries (55 bytes fit one final block, 56
// need two; 64 is exactly one block) and UTF-8 text, as in a folder path.
TEST(Sha1Test, KnownDigests) {
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"The quick brown fox jumps over the lazy dog", "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12"},
      {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
      {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {std::string(65, 'a'), "11655326c708d70319be2610e8a57d9a5b959d3b"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {"/home/\xe7\x94\xa8\xe6\x88\xb7/tessel", "3201615b6279c3724ecd661a87b80961fe54a369"},
  };
  for (const auto& k : cases) EXPECT_EQ(Sha1Hex(k.input), k.digest) << k.input.size() << " bytes";
}

}  // namespace
}  // namespace tessel
