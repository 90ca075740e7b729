#include "service/sha1.h"

namespace tessel {

namespace {

uint32_t Rotl(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

void Compress(uint32_t h[5], const uint8_t* block) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = uint32_t{block[4 * i]} << 24 | uint32_t{block[4 * i + 1]} << 16 |
           uint32_t{block[4 * i + 2]} << 8 | uint32_t{block[4 * i + 3]};
  for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const uint32_t t = Rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = t;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

}  // namespace

std::array<uint8_t, 20> Sha1(std::string_view data) {
  uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  size_t whole = data.size() / 64 * 64;
  for (size_t i = 0; i < whole; i += 64) Compress(h, bytes + i);

  // The tail, the 0x80 marker, zeros, and the length in bits (big-endian) in one or two blocks.
  uint8_t last[128] = {};
  const size_t rest = data.size() - whole;
  for (size_t i = 0; i < rest; ++i) last[i] = bytes[whole + i];
  last[rest] = 0x80;
  const size_t blocks = rest < 56 ? 1 : 2;
  const uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
  for (int i = 0; i < 8; ++i) last[blocks * 64 - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  for (size_t i = 0; i < blocks; ++i) Compress(h, last + 64 * i);

  std::array<uint8_t, 20> digest{};
  for (int i = 0; i < 20; ++i) digest[i] = static_cast<uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
  return digest;
}

std::string Sha1Hex(std::string_view data) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : Sha1(data)) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

}  // namespace tessel
