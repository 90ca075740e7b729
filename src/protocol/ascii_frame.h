// The ASCII-hex telecom frame shared by the two ASCII drivers: building a request, checking an
// answer field by field, reading INFO fields, and the request rotation both drivers follow.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "model/comm_state.h"
#include "model/ups_info.h"

namespace tessel {

constexpr int kAsciiRequestLen = 18;  // every request; also the size of an answer without INFO
constexpr int kAsciiInfoOffset = 13;
constexpr uint8_t kAsciiCid1 = 0x2A;
constexpr uint8_t kAsciiSoi = '~';
constexpr uint8_t kAsciiEoi = '\r';

// Writes "~", VER, ADR, "2A", CID2, "0000", CHKSUM, CR into buf and a NUL at offset 18 (not part of
// the frame). ver and cid2 go out as two uppercase hexadecimal characters, addr as its low byte.
// Returns 18, or 0 (nothing written) when buf has fewer than 19 bytes.
int BuildFrame(std::span<uint8_t> buf, uint8_t ver, int addr, uint8_t cid2);

// A complete answer frame carrying info (LENGTH and CHKSUM computed), as a unit would send it.
std::string BuildAnswerFrame(uint8_t ver, int addr, uint8_t rtn, std::string_view info);

// Outcome of the answer check: the step that rejected the answer, or Valid.
enum class AnswerStep : uint8_t {
  Valid = 0,
  Soi,     // ErrCnt[0]
  Ver,     // ErrCnt[1]
  Adr,     // ErrCnt[2]
  Cid1,    // ErrCnt[3]
  Rtn,     // ErrCnt[3]
  Length,  // ErrCnt[4]
  Chksum,  // ErrCnt[5]
};

// Steps 1 to 5 (SOI, VER, ADR, CID1, RTN). A field not wholly inside the answer fails its step.
// addr must also name a device record (0..252): an answer for an address the table has no record
// for is rejected at the ADR step.
AnswerStep CheckAnswerHead(std::span<const uint8_t> answer, uint8_t ver, int addr);
// Steps 6 and 7 (LENGTH, CHKSUM). An answer shorter than 18 bytes fails at LENGTH.
AnswerStep CheckAnswerFrame(std::span<const uint8_t> answer);
// Adds 1 to the counter of step: AckOkCnt for Valid, otherwise the ErrCnt entry of the step.
void CountAnswerStep(AnswerStep step, TCommDebug& debug);

// The whole check with its counting. onAddressed runs with the answer's address once steps 3 to 5
// have passed and before steps 6 and 7, so the driver can make that address's record current.
// Returns true for a valid answer (AckOkCnt counted).
bool CheckAnswer(std::span<const uint8_t> answer, uint8_t ver, int addr, TCommDebug& debug,
                 const std::function<void(int addr)>& onAddressed = {});

// Read access to the INFO of an answer (offsets 13 .. n-6). Offsets are frame offsets.
class AnswerInfo {
 public:
  explicit AnswerInfo(std::span<const uint8_t> answer) : answer_(answer) {}
  // True when the field [offset, offset + len) lies wholly within INFO.
  bool Holds(int offset, int len) const;
  // The part of the field that lies within INFO (empty when none does).
  std::string_view Text(int offset, int len) const;
  uint16_t Word(int offset) const;           // Hex4ToWord of four characters
  int32_t Hex(int offset, int width) const;  // HexToInt of width characters
  double Single(int offset) const;           // HexToSingle of eight characters

 private:
  std::span<const uint8_t> answer_;
};

// The request rotation of the ASCII drivers. Returns the command kind to build (1..5), or 0 when
// nothing is to be built (manual send mode). In device search probes SearchAddr with kind 2;
// otherwise steps StepIndex through five kinds for a communicating device and one for a lost
// one, calling NextDevice after the device's last kind. targetAddr is the driver's target.
uint8_t NextAsciiRequest(TPollState& poll, DeviceModel& model, int32_t& targetAddr);

}  // namespace tessel
