#include "protocol/ascii_frame.h"

#include "protocol/func_unit.h"

namespace tessel {

namespace {

std::string_view Chars(std::span<const uint8_t> bytes, size_t offset, size_t len) {
  return {reinterpret_cast<const char*>(bytes.data()) + offset, len};
}

// Two-character hexadecimal field at offset, or -1 when it does not lie within the answer.
int32_t HeadField(std::span<const uint8_t> answer, size_t offset) {
  if (answer.size() < offset + 2) return -1;
  return HexToInt(Chars(answer, offset, 2), 2);
}

void PutHex2(std::string& out, int v) {
  out += WordToHex4(v).substr(2);
}

}  // namespace

int BuildFrame(std::span<uint8_t> buf, uint8_t ver, int addr, uint8_t cid2) {
  if (buf.size() < kAsciiRequestLen + 1) return 0;
  std::string head = "~";
  PutHex2(head, ver);
  PutHex2(head, addr);
  PutHex2(head, kAsciiCid1);
  PutHex2(head, cid2);
  head += LengthField(0);
  head += FrameChecksum(reinterpret_cast<const uint8_t*>(head.data()), 12);
  head += static_cast<char>(kAsciiEoi);
  for (size_t i = 0; i < head.size(); ++i) buf[i] = static_cast<uint8_t>(head[i]);
  buf[kAsciiRequestLen] = 0;
  return kAsciiRequestLen;
}

std::string BuildAnswerFrame(uint8_t ver, int addr, uint8_t rtn, std::string_view info) {
  std::string f = "~";
  PutHex2(f, ver);
  PutHex2(f, addr);
  PutHex2(f, kAsciiCid1);
  PutHex2(f, rtn);
  f += LengthField(static_cast<int>(info.size()));
  f += info;
  f += FrameChecksum(reinterpret_cast<const uint8_t*>(f.data()), static_cast<int>(f.size()) - 1);
  f += static_cast<char>(kAsciiEoi);
  return f;
}

AnswerStep CheckAnswerHead(std::span<const uint8_t> answer, uint8_t ver, int addr) {
  if (answer.empty() || answer[0] != kAsciiSoi) return AnswerStep::Soi;
  if (HeadField(answer, 1) != ver) return AnswerStep::Ver;
  const int32_t adr = HeadField(answer, 3);
  if (adr < 0 || adr != addr || adr > kMaxAddr) return AnswerStep::Adr;
  if (HeadField(answer, 5) != kAsciiCid1) return AnswerStep::Cid1;
  if (HeadField(answer, 7) != 0) return AnswerStep::Rtn;
  return AnswerStep::Valid;
}

AnswerStep CheckAnswerFrame(std::span<const uint8_t> answer) {
  const size_t n = answer.size();
  if (n < kAsciiRequestLen) return AnswerStep::Length;
  if (Chars(answer, 9, 4) != LengthField(static_cast<int>(n - kAsciiRequestLen)))
    return AnswerStep::Length;
  if (Chars(answer, n - 5, 4) != FrameChecksum(answer.data(), static_cast<int>(n - 6)))
    return AnswerStep::Chksum;
  return AnswerStep::Valid;
}

void CountAnswerStep(AnswerStep step, TCommDebug& debug) {
  switch (step) {
    case AnswerStep::Valid:
      Bump(debug.AckOkCnt);
      break;
    case AnswerStep::Soi:
      Bump(debug.ErrCnt[0]);
      break;
    case AnswerStep::Ver:
      Bump(debug.ErrCnt[1]);
      break;
    case AnswerStep::Adr:
      Bump(debug.ErrCnt[2]);
      break;
    case AnswerStep::Cid1:
    case AnswerStep::Rtn:
      Bump(debug.ErrCnt[3]);
      break;
    case AnswerStep::Length:
      Bump(debug.ErrCnt[4]);
      break;
    case AnswerStep::Chksum:
      Bump(debug.ErrCnt[5]);
      break;
  }
}

bool CheckAnswer(std::span<const uint8_t> answer, uint8_t ver, int addr, TCommDebug& debug,
                 const std::function<void(int addr)>& onAddressed) {
  AnswerStep step = CheckAnswerHead(answer, ver, addr);
  if (step == AnswerStep::Valid) {
    if (onAddressed) onAddressed(HeadField(answer, 3));
    step = CheckAnswerFrame(answer);
  }
  CountAnswerStep(step, debug);
  return step == AnswerStep::Valid;
}

bool AnswerInfo::Holds(int offset, int len) const {
  const long end = static_cast<long>(answer_.size()) - 5;  // CHKSUM starts here
  return offset >= kAsciiInfoOffset && len >= 0 && static_cast<long>(offset) + len <= end;
}

std::string_view AnswerInfo::Text(int offset, int len) const {
  const long end = static_cast<long>(answer_.size()) - 5;
  long from = offset < kAsciiInfoOffset ? kAsciiInfoOffset : offset;
  long to = static_cast<long>(offset) + (len < 0 ? 0 : len);
  if (to > end) to = end;
  if (from >= to) return {};
  return Chars(answer_, static_cast<size_t>(from), static_cast<size_t>(to - from));
}

uint16_t AnswerInfo::Word(int offset) const {
  return Hex4ToWord(Text(offset, 4));
}

int32_t AnswerInfo::Hex(int offset, int width) const {
  return HexToInt(Text(offset, width), width);
}

double AnswerInfo::Single(int offset) const {
  return HexToSingle(Text(offset, 8));
}

uint8_t NextAsciiRequest(TPollState& poll, DeviceModel& model, int32_t& targetAddr) {
  if (poll.SearchMode != 0) {
    targetAddr = poll.SearchAddr;
    return 2;
  }
  if (poll.ManualMode != 0) return 0;
  // An address without a record (only a stray search address could be one) counts as lost.
  const bool lost =
      targetAddr < 0 || targetAddr > kMaxAddr || model.UpsTable[targetAddr].CommState == kCommLost;
  poll.StepCount = lost ? 1 : 5;
  // Computed in int so a StepIndex left high by another driver cannot wrap to 0.
  int step = poll.StepIndex + 1;
  if (step > poll.StepCount) {
    step = 1;
    NextDevice(model.EquipList);
    targetAddr = model.EquipList.CurAddr;
  }
  poll.StepIndex = static_cast<uint8_t>(step);
  return static_cast<uint8_t>(step);
}

}  // namespace tessel
