// Answers of the simulated units, one protocol choice each: the telecom ASCII framing with
// version "31" (choice 0) and "11" (choice 1), and Modbus RTU (choices 2 and 3).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim_unit.h"

namespace tessel::sim {

// The LENGTH field for an INFO of lenid characters: checksum nibble, then lenid in three digits.
std::string LengthField(int lenid);
// The CHKSUM field over frame[1 .. count] (from after "~" up to the byte before CHKSUM).
std::string FrameChecksum(const std::string& frame, size_t count);

// A request frame of the ASCII framing, as far as it could be read.
struct AsciiRequest {
  bool readable = false;  // header fields are hexadecimal and the frame is long enough
  int ver = 0, addr = 0, cid1 = 0, cid2 = 0;
  int rtn = 0;  // 0, or the return code a unit answers a damaged request with
  std::string problem;
};
AsciiRequest ParseAsciiRequest(const std::string& frame);

// A whole answer frame: "~", VER, ADR, "2A", RTN, LENGTH, INFO, CHKSUM, CR.
std::string BuildAsciiFrame(int ver, int addr, int rtn, const std::string& info);
// Version byte of an ASCII protocol choice (0x31 or 0x11).
int AsciiVersion(int protocol);
// INFO of the answer to cid2 under protocol choice 0 or 1; nullopt for an unknown command.
std::optional<std::string> AsciiInfo(int protocol, int cid2, const UnitValues& v);
// Eight characters of an IEEE-754 single, least significant byte first.
std::string SingleToHex(float f);

struct ModbusRequest {
  int addr = 0, function = 0;
  int reg = 0;    // five-digit notation: wire address + 1
  int value = 0;  // register count of a read, value of a write
};
// Reads address, function and the two words after them (the CRC was checked by the framer).
ModbusRequest ParseModbusRequest(const std::vector<uint8_t>& frame);
std::vector<uint8_t> WithCrc(std::vector<uint8_t> bytes);
std::vector<uint8_t> ModbusException(int addr, int function, int code);

// What a unit does with a request: the bytes it answers (none for silence) and a log text.
struct Reply {
  std::vector<uint8_t> bytes;
  std::string text;
};
Reply AnswerAscii(int protocol, const AsciiRequest& req, SimUnit& unit, double t);
Reply AnswerModbus(const std::vector<uint8_t>& frame, SimUnit& unit, double t);

// Replaces a good answer by a valid-looking error answer (non-zero RTN / Modbus exception).
std::vector<uint8_t> ErrorAnswer(int protocol, int addr, int function, int code);
// Spoils the checksum of an answer (ASCII CHKSUM or Modbus CRC).
void CorruptChecksum(int protocol, std::vector<uint8_t>& answer);

}  // namespace tessel::sim
