#include "sim_answer.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "sim_line.h"

namespace tessel::sim {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Value of `width` hexadecimal characters at pos, or -1 when any is not a digit.
int ReadHex(const std::string& s, size_t pos, size_t width) {
  if (pos + width > s.size()) return -1;
  int v = 0;
  for (size_t i = 0; i < width; ++i) {
    int d = HexDigit(s[pos + i]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

std::string Hex(unsigned v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", width, v);
  std::string s(buf);
  return s.substr(s.size() - width);
}

bool SameTextNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

unsigned Word(double v) {
  double r = std::nearbyint(v);
  return r < 0 ? 0 : r > 65535 ? 65535 : static_cast<unsigned>(r);
}

// INFO of a frame of frameLen bytes, filled with "0"; fields are put at absolute frame offsets.
class Info {
 public:
  explicit Info(size_t frameLen) : text_(frameLen - 18, '0') {}
  void Put(size_t frameOffset, const std::string& s) {
    text_.replace(frameOffset - 13, s.size(), s);
  }
  void Hex4(size_t off, double v) { Put(off, Hex(Word(v), 4)); }
  void Hex2(size_t off, double v) { Put(off, Hex(Word(v) & 0xFF, 2)); }
  void Single(size_t off, double v) { Put(off, SingleToHex(static_cast<float>(v))); }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

const char* RtnMeaning(int rtn) {
  switch (rtn) {
    case 1:
      return "version error";
    case 2:
      return "checksum error";
    case 3:
      return "length checksum error";
    case 4:
      return "invalid command";
    default:
      return "error";
  }
}

const char* ExceptionMeaning(int code) {
  switch (code) {
    case 1:
      return "illegal function";
    case 2:
      return "illegal data address";
    case 3:
      return "illegal data value";
    case 4:
      return "device failure";
    default:
      return "exception";
  }
}

}  // namespace

std::string LengthField(int lenid) {
  lenid &= 0xFFF;
  int sum = (lenid >> 8) + ((lenid >> 4) & 0xF) + (lenid & 0xF);
  int lchk = (16 - sum % 16) % 16;
  return Hex(static_cast<unsigned>(lchk << 12 | lenid), 4);
}

std::string FrameChecksum(const std::string& frame, size_t count) {
  unsigned sum = 0;
  for (size_t i = 1; i <= count && i < frame.size(); ++i)
    sum += static_cast<unsigned char>(frame[i]);
  return Hex((0x10000u - (sum & 0xFFFF)) & 0xFFFF, 4);
}

AsciiRequest ParseAsciiRequest(const std::string& frame) {
  AsciiRequest r;
  size_t n = frame.size();
  if (n < 18 || frame[0] != '~') {
    r.problem = "too short";
    return r;
  }
  r.ver = ReadHex(frame, 1, 2);
  r.addr = ReadHex(frame, 3, 2);
  r.cid1 = ReadHex(frame, 5, 2);
  r.cid2 = ReadHex(frame, 7, 2);
  int lenid = ReadHex(frame, 10, 3);
  if (r.ver < 0 || r.addr < 0 || r.cid1 < 0 || r.cid2 < 0 || lenid < 0 ||
      ReadHex(frame, 9, 1) < 0) {
    r.problem = "header is not hexadecimal";
    return r;
  }
  r.readable = true;
  if (!SameTextNoCase(frame.substr(n - 5, 4), FrameChecksum(frame, n - 6))) {
    r.rtn = 2;
    r.problem = "wrong CHKSUM";
  } else if (!SameTextNoCase(frame.substr(9, 4), LengthField(lenid)) ||
             n != 18 + static_cast<size_t>(lenid)) {
    r.rtn = 3;
    r.problem = "wrong LENGTH";
  }
  return r;
}

std::string BuildAsciiFrame(int ver, int addr, int rtn, const std::string& info) {
  std::string f = "~" + Hex(ver, 2) + Hex(addr & 0xFF, 2) + "2A" + Hex(rtn & 0xFF, 2) +
                  LengthField(static_cast<int>(info.size())) + info;
  f += FrameChecksum(f, f.size() - 1);
  f += '\r';
  return f;
}

int AsciiVersion(int protocol) {
  return protocol == 1 ? 0x11 : 0x31;
}

std::string SingleToHex(float f) {
  uint32_t bits = 0;
  std::memcpy(&bits, &f, sizeof bits);
  std::string s;
  for (int i = 0; i < 4; ++i) s += Hex((bits >> (8 * i)) & 0xFF, 2);
  return s;
}

std::optional<std::string> AsciiInfo(int protocol, int cid2, const UnitValues& v) {
  double dc = v[kBattVP] + v[kBattVN];
  if (protocol == 0) {
    switch (cid2) {
      case 0x42: {
        Info i(64);
        i.Hex4(15, v[kInA] * 100);
        i.Hex4(19, v[kInB] * 100);
        i.Hex4(23, v[kInC] * 100);
        i.Hex4(27, v[kOutA] * 100);
        i.Hex4(31, v[kOutB] * 100);
        i.Hex4(35, v[kOutC] * 100);
        i.Hex4(51, dc * 100);
        i.Hex4(55, v[kFreq] * 100);
        return i.Text();
      }
      case 0x43: {
        Info i(40);
        i.Hex2(19, v[kUpsState]);
        i.Hex4(21, v[kCmmState1]);
        i.Hex4(25, v[kInvState1]);
        i.Hex4(29, v[kInvState2]);
        i.Hex2(33, v[kSysState]);
        return i.Text();
      }
      case 0x44: {
        Info i(56);
        i.Hex4(33, v[kCmmAlarm1]);
        i.Hex4(37, v[kCmmAlarm2]);
        i.Hex4(41, v[kInvAlarm1]);
        i.Hex4(45, v[kInvAlarm2]);
        i.Hex2(49, v[kSysAlarm]);
        return i.Text();
      }
      case 0x80: {
        Info i(164);
        i.Hex4(95, v[kLoadA]);
        i.Hex4(99, v[kLoadB]);
        i.Hex4(103, v[kLoadC]);
        i.Hex4(143, v[kBattI1P] * 100);
        i.Hex4(147, v[kBattI1N] * 100);
        i.Hex4(151, v[kBattI2P] * 100);
        i.Hex4(155, v[kBattI2N] * 100);
        return i.Text();
      }
      case 0x82: {
        Info i(48);
        i.Hex4(35, v[kBattTime]);
        i.Hex4(39, v[kBattCapa]);
        return i.Text();
      }
      default:
        return std::nullopt;
    }
  }
  if (protocol == 1) {
    switch (cid2) {
      case 0x41: {
        // These units report line-to-line input voltages.
        const double root3 = std::sqrt(3.0);
        Info i(108);
        i.Single(15, v[kInA] * root3);
        i.Single(23, v[kInB] * root3);
        i.Single(31, v[kInC] * root3);
        i.Single(39, v[kOutA]);
        i.Single(47, v[kOutB]);
        i.Single(55, v[kOutC]);
        i.Single(87, dc);
        i.Single(95, v[kFreq]);
        return i.Text();
      }
      case 0x43: {
        Info i(42);
        i.Hex2(15, v[kTpSupply]);
        i.Hex2(19, v[kTpBattTest]);
        i.Hex2(25, v[kTpInputSupply]);
        i.Hex2(29, v[kTpInputSw]);
        i.Hex2(31, v[kTpMaintSw]);
        i.Hex2(33, v[kTpBypassSw]);
        i.Hex2(35, v[kTpOutputSw]);
        return i.Text();
      }
      case 0x44: {
        Info i(148);
        for (int h = 0; h < 7; ++h) i.Hex2(15 + 2 * h, v[kTpH0 + h]);
        for (int b = 0; b < 56; ++b) i.Hex2(31 + 2 * b, v[kTpB0 + b]);
        return i.Text();
      }
      case 0xE2: {
        Info i(142);
        i.Single(113, v[kLoadA]);
        i.Single(121, v[kLoadB]);
        i.Single(129, v[kLoadC]);
        return i.Text();
      }
      case 0xE3: {
        Info i(126);
        i.Single(113, v[kBattTime]);
        return i.Text();
      }
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

ModbusRequest ParseModbusRequest(const std::vector<uint8_t>& f) {
  ModbusRequest r;
  if (f.size() >= 1) r.addr = f[0];
  if (f.size() >= 2) r.function = f[1];
  if (f.size() >= 6) {
    r.reg = (f[2] << 8 | f[3]) + 1;
    r.value = f[4] << 8 | f[5];
  }
  return r;
}

std::vector<uint8_t> WithCrc(std::vector<uint8_t> bytes) {
  uint16_t crc = Crc16Modbus(bytes.data(), bytes.size());
  bytes.push_back(crc & 0xFF);
  bytes.push_back(crc >> 8);
  return bytes;
}

std::vector<uint8_t> ModbusException(int addr, int function, int code) {
  return WithCrc({static_cast<uint8_t>(addr), static_cast<uint8_t>((function | 0x80) & 0xFF),
                  static_cast<uint8_t>(code)});
}

Reply AnswerAscii(int protocol, const AsciiRequest& req, SimUnit& unit, double t) {
  Reply r;
  int rtn = req.rtn;
  std::optional<std::string> info;
  if (rtn == 0 && req.ver != AsciiVersion(protocol)) rtn = 1;
  if (rtn == 0 && req.cid1 != 0x2A) rtn = 4;
  if (rtn == 0) {
    info = AsciiInfo(protocol, req.cid2, unit.Snapshot(t));
    if (!info) rtn = 4;
  }
  std::string frame = BuildAsciiFrame(AsciiVersion(protocol), unit.Addr(), rtn, info.value_or(""));
  r.bytes.assign(frame.begin(), frame.end());
  r.text = "cid2=" + Hex(req.cid2, 2) +
           (rtn ? " rtn=" + Hex(rtn, 2) + " (" + RtnMeaning(rtn) + ")" : " answered") +
           " len=" + std::to_string(frame.size());
  return r;
}

Reply AnswerModbus(const std::vector<uint8_t>& frame, SimUnit& unit, double t) {
  Reply r;
  ModbusRequest q = ParseModbusRequest(frame);
  std::string what = "fc=" + std::to_string(q.function);
  auto exception = [&](int code) {
    r.bytes = ModbusException(unit.Addr(), q.function, code);
    r.text = what + " exception " + std::to_string(code) + " (" + ExceptionMeaning(code) + ")";
    return r;
  };
  if (q.function == 3 || q.function == 4) {
    what += " reg=" + std::to_string(q.reg) + " count=" + std::to_string(q.value);
    if (q.value < 1 || q.value > 125) return exception(3);
    for (int reg = q.reg; reg < q.reg + q.value; ++reg) {
      bool ok = q.function == 4 ? SimUnit::IsInputRegister(reg) : SimUnit::IsHoldingRegister(reg);
      if (!ok) return exception(2);
    }
    UnitValues v = unit.Snapshot(t);
    std::vector<uint8_t> out{static_cast<uint8_t>(unit.Addr()), static_cast<uint8_t>(q.function),
                             static_cast<uint8_t>(2 * q.value)};
    for (int reg = q.reg; reg < q.reg + q.value; ++reg) {
      uint16_t w = q.function == 4 ? SimUnit::InputRegister(reg, v) : unit.HoldingRegister(reg);
      out.push_back(w >> 8);
      out.push_back(w & 0xFF);
    }
    r.bytes = WithCrc(out);
    r.text = what + " answered len=" + std::to_string(r.bytes.size());
    return r;
  }
  if (q.function == 6) {
    what += " reg=" + std::to_string(q.reg) + " value=" + std::to_string(q.value);
    std::string note;
    switch (unit.WriteRegister(q.reg, static_cast<uint16_t>(q.value), t, note)) {
      case WriteResult::kStored:
        break;
      case WriteResult::kRejected:
        return exception(2);
      case WriteResult::kRefused:
        exception(4);
        r.text += ": " + note;
        return r;
    }
    r.bytes = frame;  // a write is answered by its echo
    r.text = what + " answered: " + note;
    return r;
  }
  return exception(1);
}

std::vector<uint8_t> ErrorAnswer(int protocol, int addr, int function, int code) {
  if (protocol == 0 || protocol == 1) {
    std::string f = BuildAsciiFrame(AsciiVersion(protocol), addr, code, "");
    return {f.begin(), f.end()};
  }
  return ModbusException(addr, function, code);
}

void CorruptChecksum(int protocol, std::vector<uint8_t>& a) {
  if (protocol == 0 || protocol == 1) {
    if (a.size() < 6) return;
    // A checksum that is still four hexadecimal digits, but the wrong ones.
    std::string sum(a.end() - 5, a.end() - 1);
    int v = ReadHex(sum, 0, 4);
    std::string bad = Hex(static_cast<unsigned>(v + 1) & 0xFFFF, 4);
    std::copy(bad.begin(), bad.end(), a.end() - 5);
  } else if (a.size() >= 2) {
    a[a.size() - 2] ^= 0x5A;
  }
}

}  // namespace tessel::sim
