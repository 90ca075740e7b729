// Hexadecimal and number conversions used by the ASCII frame codec, the drivers, the Trace window
// and the log viewers. Every function that reads characters reads only the characters it is given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/zero_pad.h"

namespace tessel {

// 0..9 for '0'..'9', 10..15 for 'A'..'F' and 'a'..'f', 16 for anything else.
int HexVal(char ch);

// Left-pads text with '0' to at least width characters, then reads its first width characters as
// hexadecimal, most significant first, stopping at the first non-digit (the value so far is
// returned). Digits beyond 32 bits shift out at the top.
int32_t HexToInt(std::string_view text, int width);

// 16-bit value of up to four characters; non-hexadecimal characters are skipped (no digit, no
// shift). Fewer than four characters: only those present are read.
uint16_t Hex4ToWord(std::string_view text);

// Low 16 bits of v as exactly four uppercase hexadecimal characters.
std::string WordToHex4(int64_t v);

// True when bit (b mod 32) of v is 1.
bool BitIsSet(int64_t v, int b);

// LENGTH field of a frame: LCHKSUM nibble followed by the low 12 bits of lenid.
std::string LengthField(int lenid);

// CHKSUM field: (0 - sum of buf[1..count]) mod 65536 as four uppercase hexadecimal characters.
// The caller guarantees that buf holds at least count + 1 bytes; count < 1 sums nothing.
std::string FrameChecksum(const uint8_t* buf, int count);

// The characters of text upper-cased, keeping only '0'..'9' and 'A'..'F', in order.
std::string HexOnly(std::string_view text);

// HexOnly(text) read as pairs of digits; a trailing odd digit is ignored.
std::vector<uint8_t> HexToBytes(std::string_view text);

// Each byte as two uppercase hexadecimal characters followed by sep (also after the last).
std::string BytesToHex(const uint8_t* bytes, int count, std::string_view sep);

// Decimal text of the low 16 bits of v taken as a signed value (65491 gives "-45").
std::string ShortToStr(int64_t v);

// IEEE-754 single from eight hexadecimal characters, least significant byte first, widened to
// double. Each byte is read with HexToInt from the characters of its pair that are present; a
// byte with no characters present is 0.
double HexToSingle(std::string_view text);

}  // namespace tessel
