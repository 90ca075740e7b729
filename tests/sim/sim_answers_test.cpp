// The answers of the simulated units, checked against the frame layouts the monitor decodes,
// with the frame arithmetic done independently here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "model/state_derivation.h"
#include "sim_answer.h"
#include "sim_line.h"
#include "sim_unit.h"

namespace tessel::sim {
namespace {

// ---- independent arithmetic of the ASCII framing ---------------------------------------------

std::string UpperHex(unsigned v, int width) {
  static const char* digits = "0123456789ABCDEF";
  std::string s(width, '0');
  for (int i = width - 1; i >= 0; --i, v >>= 4) s[i] = digits[v & 0xF];
  return s;
}

std::string ExpectedLength(int lenid) {
  int sum = (lenid >> 8 & 0xF) + (lenid >> 4 & 0xF) + (lenid & 0xF);
  return UpperHex(static_cast<unsigned>(((16 - sum % 16) % 16) << 12 | lenid), 4);
}

// Sum of the characters from offset 1 up to `last`, negated modulo 65536.
std::string ExpectedChecksum(const std::string& f, size_t last) {
  unsigned sum = 0;
  for (size_t i = 1; i <= last; ++i) sum += static_cast<unsigned char>(f[i]);
  return UpperHex((65536 - sum % 65536) % 65536, 4);
}

std::string MakeRequest(const std::string& ver, int addr, const std::string& cid2,
                        const std::string& length = "0000") {
  std::string f = "~" + ver + UpperHex(addr, 2) + "2A" + cid2 + length;
  return f + ExpectedChecksum(f, f.size() - 1) + "\r";
}

int Hex(const std::string& f, size_t off, size_t width) {
  return std::stoi(f.substr(off, width), nullptr, 16);
}

double Single(const std::string& f, size_t off) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(Hex(f, off + 2 * i, 2)) << (8 * i);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// Every field a test unit reports, values chosen to be distinct and exact in the encodings.
const char* kFixedScenario = R"(
0 state = online  in_a = 221.5 in_b = 222 in_c = 223  out_a = 230.1 out_b = 230.2 out_c = 230.3
  freq = 50.1  load_a = 41 load_b = 42 load_c = 43  batt_vp = 270.5 batt_vn = 269.5
  batt_i1p = 1.5 batt_i1n = 2.5 batt_i2p = 3.3 batt_i2n = 4  batt_capa = 87  batt_time = 33
  cmm_alarm2 = 0x0140  inv_alarm2 = 0x1000  sys_alarm = 0x0123  tp_h5 = 0xE1  tp_b35 = 0xF1
)";

SimUnit FixedUnit(int addr) {
  std::string error;
  auto sc = ParseScenario(kFixedScenario, "fixed", error);
  EXPECT_TRUE(sc) << error;
  return SimUnit(addr, *sc, 0, false);
}

TEST(AsciiFrame, RequestHelperAndLengthFieldMatchTheProtocolExamples) {
  // The complete requests of the framing description, rebuilt by this test's own arithmetic.
  EXPECT_EQ(MakeRequest("31", 1, "42"), "~31012A420000FDA2\r");
  EXPECT_EQ(MakeRequest("31", 1, "43"), "~31012A430000FDA1\r");
  EXPECT_EQ(MakeRequest("11", 2, "41"), "~11022A410000FDA4\r");
  EXPECT_EQ(MakeRequest("31", 10, "80"), "~310A2A800000FD90\r");
  const std::pair<int, const char*> lengths[] = {{0, "0000"},   {2, "E002"},   {18, "D012"},
                                                 {28, "301C"},  {146, "5092"}, {130, "6082"},
                                                 {4095, "3FFF"}};
  for (auto [lenid, text] : lengths) {
    EXPECT_EQ(ExpectedLength(lenid), text);
    EXPECT_EQ(LengthField(lenid), text);
  }
}

struct FieldCheck {
  size_t offset;
  char kind;  // '4' four hex digits, '2' two hex digits, 'f' single, 'c' code text
  double value;
  const char* code = nullptr;
};

struct AsciiCase {
  int protocol;
  const char* request;  // as the monitor sends it to address 1
  size_t length;
  std::vector<FieldCheck> fields;
};

TEST(AsciiAnswer, EveryCommandHasItsLayoutLengthAndChecksums) {
  const double root3 = std::sqrt(3.0);
  const AsciiCase cases[] = {
      {0,
       "~31012A420000FDA2\r",
       64,
       {{15, '4', 22150},
        {19, '4', 22200},
        {23, '4', 22300},
        {27, '4', 23010},
        {31, '4', 23020},
        {35, '4', 23030},
        {51, '4', 54000},
        {55, '4', 5010}}},
      {0,
       "~31012A430000FDA1\r",
       40,
       {{19, '2', 4}, {21, '4', 0xCC00}, {25, '4', 0x4700}, {29, '4', 0}, {33, '2', 0}}},
      {0,
       "~31012A440000FDA0\r",
       56,
       {{33, '4', 0}, {37, '4', 0x0140}, {41, '4', 0}, {45, '4', 0x1000}, {49, '2', 0x23}}},
      {0,
       "~31012A800000FDA0\r",
       164,
       {{95, '4', 41},
        {99, '4', 42},
        {103, '4', 43},
        {143, '4', 150},
        {147, '4', 250},
        {151, '4', 330},
        {155, '4', 400}}},
      {0, "~31012A820000FD9E\r", 48, {{35, '4', 33}, {39, '4', 87}}},
      {1,
       "~11012A410000FDA5\r",
       108,
       {{15, 'f', 221.5 * root3},
        {23, 'f', 222 * root3},
        {31, 'f', 223 * root3},
        {39, 'f', 230.1},
        {47, 'f', 230.2},
        {55, 'f', 230.3},
        {87, 'f', 540},
        {95, 'f', 50.1}}},
      {1,
       "~11012A430000FDA3\r",
       42,
       {{15, 'c', 0, "01"},
        {19, 'c', 0, "E1"},
        {25, 'c', 0, "E0"},
        {29, 'c', 0, "E1"},
        {31, 'c', 0, "E0"},
        {33, 'c', 0, "E0"},
        {35, 'c', 0, "E1"}}},
      {1,
       "~11012A440000FDA2\r",
       148,
       {{15, 'c', 0, "00"},
        {25, 'c', 0, "E1"},     // H5
        {31, 'c', 0, "00"},     // B0
        {101, 'c', 0, "F1"},    // B35
        {127, 'c', 0, "E0"}}},  // B48: breaker connected
      {1, "~11012AE20000FD93\r", 142, {{113, 'f', 41}, {121, 'f', 42}, {129, 'f', 43}}},
      {1, "~11012AE30000FD92\r", 126, {{113, 'f', 33}}},
  };
  for (const AsciiCase& c : cases) {
    SCOPED_TRACE(c.request);
    SimUnit unit = FixedUnit(1);
    AsciiRequest req = ParseAsciiRequest(c.request);
    ASSERT_TRUE(req.readable);
    EXPECT_EQ(req.rtn, 0);
    Reply reply = AnswerAscii(c.protocol, req, unit, 0);
    std::string f(reply.bytes.begin(), reply.bytes.end());
    ASSERT_EQ(f.size(), c.length) << f;
    EXPECT_EQ(f.substr(0, 9), std::string("~") + (c.protocol ? "11" : "31") + "012A00");
    EXPECT_EQ(f.substr(9, 4), ExpectedLength(static_cast<int>(c.length) - 18));
    EXPECT_EQ(f.substr(c.length - 5, 4), ExpectedChecksum(f, c.length - 6));
    EXPECT_EQ(f.back(), '\r');
    for (const FieldCheck& fc : c.fields) {
      SCOPED_TRACE(fc.offset);
      switch (fc.kind) {
        case '4':
          EXPECT_EQ(Hex(f, fc.offset, 4), fc.value);
          break;
        case '2':
          EXPECT_EQ(Hex(f, fc.offset, 2), fc.value);
          break;
        case 'f':
          EXPECT_NEAR(Single(f, fc.offset), fc.value, 1e-4 * fc.value);
          break;
        case 'c':
          EXPECT_EQ(f.substr(fc.offset, 2), fc.code);
          break;
      }
    }
  }
}

TEST(AsciiAnswer, DamagedOrForeignRequestsGetTheMatchingReturnCode) {
  std::string badSum = MakeRequest("31", 1, "42");
  badSum[14] = badSum[14] == '0' ? '1' : '0';
  struct Case {
    int protocol;
    std::string request;
    int rtn;
  } cases[] = {
      {0, badSum, 2},
      {0, MakeRequest("31", 1, "42", "F001"), 3},  // LENGTH announces INFO that is not there
      {0, MakeRequest("31", 1, "42", "1000"), 3},  // LENGTH with a wrong checksum nibble
      {0, MakeRequest("11", 1, "42"), 1},          // the other ASCII protocol's version
      {1, MakeRequest("31", 1, "41"), 1},
      {0, MakeRequest("31", 1, "41"), 4},  // a command of the three-phase units only
      {1, MakeRequest("11", 1, "42"), 4},
      {0, MakeRequest("31", 1, "E2"), 4},
      {0, "~31012A420000fda2\r", 0},  // lowercase checksum digits are still the same number
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    SimUnit unit = FixedUnit(1);
    AsciiRequest req = ParseAsciiRequest(c.request);
    ASSERT_TRUE(req.readable);
    std::string f;
    Reply reply = AnswerAscii(c.protocol, req, unit, 0);
    f.assign(reply.bytes.begin(), reply.bytes.end());
    EXPECT_EQ(Hex(f, 7, 2), c.rtn) << f;
    if (c.rtn != 0) {
      EXPECT_EQ(f.size(), 18u);
      EXPECT_EQ(f.substr(9, 4), "0000");
      EXPECT_EQ(f.substr(13, 4), ExpectedChecksum(f, 12));
    }
  }
  for (const char* junk : {"~31\r", "~31012A4Z0000FDA2\r", "~ 31012A420000FDA\r"})
    EXPECT_FALSE(ParseAsciiRequest(junk).readable) << junk;
}

TEST(AsciiFramer, FindsFramesAmongNoiseAndAcrossReads) {
  AsciiFramer framer;
  auto feed = [&](const std::string& s) {
    return framer.Feed(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };
  EXPECT_TRUE(feed("noise~31012A420000FDA2").empty());
  auto frames = feed("\rjunk~3101~31012A430000FDA1\r~31");
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], "~31012A420000FDA2\r");
  EXPECT_EQ(frames[1], "~31012A430000FDA1\r");  // a new "~" abandons the broken start
  EXPECT_EQ(framer.TakeDiscarded(), 5u + 4u + 5u);
  // A start without an end does not grow for ever.
  std::string endless(2000, 'A');
  EXPECT_TRUE(feed(endless).empty());
  EXPECT_EQ(feed("~31012A440000FDA0\r").size(), 1u);
}

// ---- Modbus ----------------------------------------------------------------------------------

std::vector<uint8_t> Request(int addr, int fc, int wireAddr, int value) {
  return WithCrc({static_cast<uint8_t>(addr), static_cast<uint8_t>(fc),
                  static_cast<uint8_t>(wireAddr >> 8), static_cast<uint8_t>(wireAddr),
                  static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

TEST(ModbusCrc, MatchesCheckValueAndExampleRequests) {
  const char* check = "123456789";
  EXPECT_EQ(Crc16Modbus(reinterpret_cast<const uint8_t*>(check), 9), 0x4B37);
  const std::vector<uint8_t> examples[] = {
      {0x01, 0x04, 0x75, 0x30, 0x00, 0x0E, 0x6B, 0xCD},
      {0x01, 0x04, 0x75, 0x44, 0x00, 0x12, 0x2A, 0x1E},
      {0x01, 0x04, 0x75, 0x80, 0x00, 0x0B, 0xAA, 0x29},
      {0x01, 0x03, 0x9C, 0x40, 0x00, 0x1C, 0x6B, 0x87},
      {0x01, 0x03, 0x9C, 0x5C, 0x00, 0x01, 0x6A, 0x48},
      {0x01, 0x06, 0x4E, 0x20, 0x00, 0x01, 0x5E, 0xE8},
  };
  for (const auto& e : examples) {
    EXPECT_EQ(Request(e[0], e[1], e[2] << 8 | e[3], e[4] << 8 | e[5]), e);
    EXPECT_EQ(Crc16Modbus(e.data(), e.size()), 0);
  }
}

std::vector<int> Registers(const Reply& r) {
  std::vector<int> regs;
  for (size_t i = 3; i + 3 < r.bytes.size(); i += 2)
    regs.push_back(r.bytes[i] << 8 | r.bytes[i + 1]);
  return regs;
}

TEST(ModbusAnswer, ReadsTheRegisterMapOfTheRotation) {
  SimUnit unit = FixedUnit(7);
  Reply r = AnswerModbus(Request(7, 4, 30000, 14), unit, 0);
  ASSERT_EQ(r.bytes.size(), 5u + 28u);
  EXPECT_EQ(r.bytes[0], 7);
  EXPECT_EQ(r.bytes[1], 4);
  EXPECT_EQ(r.bytes[2], 28);
  EXPECT_EQ(Crc16Modbus(r.bytes.data(), r.bytes.size()), 0);
  EXPECT_EQ(Registers(r),
            (std::vector<int>{2215, 2220, 2230, 0, 0, 0, 0, 0, 0, 0, 2301, 2302, 2303, 501}));

  r = AnswerModbus(Request(7, 4, 30020, 18), unit, 0);
  EXPECT_EQ(Registers(r), (std::vector<int>{41, 42, 43, 0, 0, 0, 0, 0, 0, 0, 2705, 2695, 15, 25, 33,
                                            40, 87, 33}));

  r = AnswerModbus(Request(7, 4, 30080, 11), unit, 0);
  EXPECT_EQ(Registers(r),
            (std::vector<int>{4, 0xCC00, 0, 0x4700, 0, 0, 0x0140, 0, 0x1000, 0, 0x0123}));

  r = AnswerModbus(Request(7, 3, 40000, 28), unit, 0);
  std::vector<int> params = Registers(r);
  ASSERT_EQ(params.size(), 28u);
  EXPECT_EQ(params[4], 220);      // 40005 voltage level
  EXPECT_EQ(params[5], 50);       // 40006 frequency level
  EXPECT_EQ(params[12], 0xFFD3);  // 40013 bypass lower limit -45 %
  EXPECT_EQ(Registers(AnswerModbus(Request(7, 3, 40028, 1), unit, 0)), std::vector<int>{0});
}

TEST(ModbusAnswer, UnknownFunctionsAndRegistersGetExceptions) {
  struct Case {
    std::vector<uint8_t> request;
    int code;
  } cases[] = {
      {Request(1, 5, 0, 0xFF00), 1},  {WithCrc({1, 0x11}), 1},
      {Request(1, 4, 30014, 1), 2},   // 30015 is not in the map
      {Request(1, 4, 30000, 15), 2},  // runs past 30014
      {Request(1, 4, 30090, 2), 2},   // runs past 30091
      {Request(1, 3, 30000, 1), 2},   // input registers are not holding registers
      {Request(1, 4, 40000, 1), 2},   {Request(1, 3, 40029, 1), 2},  // 40030
      {Request(1, 6, 40000, 5), 2},                                  // 40001 is read-only
      {Request(1, 6, 30000, 5), 2},   {Request(1, 4, 30000, 0), 3},
      {Request(1, 3, 40000, 126), 3},
  };
  for (const Case& c : cases) {
    SimUnit unit = FixedUnit(1);
    Reply r = AnswerModbus(c.request, unit, 0);
    ASSERT_EQ(r.bytes.size(), 5u) << r.text;
    EXPECT_EQ(r.bytes[1], c.request[1] | 0x80) << r.text;
    EXPECT_EQ(r.bytes[2], c.code) << r.text;
    EXPECT_EQ(Crc16Modbus(r.bytes.data(), 5), 0);
  }
}

// The state the monitor derives from the unit's status and alarm registers.
int DerivedState(SimUnit& unit, double t) {
  Reply r = AnswerModbus(Request(unit.Addr(), 4, 30080, 11), unit, t);
  std::vector<int> w = Registers(r);
  TUpsInfo info;
  info.CmmState1 = w[1];
  info.InvState1 = w[3];
  info.InvState2 = w[4];
  info.CmmAlarm1 = w[5];
  info.CmmAlarm2 = w[6];
  info.InvAlarm1 = w[7];
  return DeriveRunState(info);
}

TEST(ModbusAnswer, WritesChangeTheUnitAndAreReadBack) {
  SimUnit unit = FixedUnit(1);
  auto write = [&](int reg, int value, double t) {
    std::vector<uint8_t> req = Request(1, 6, reg - 1, value);
    Reply r = AnswerModbus(req, unit, t);
    EXPECT_EQ(r.bytes, req) << "a write is answered by its echo";
  };
  write(50000, 0x1234, 0);
  write(40005, 230, 0);
  write(40013, 0xFFC4, 0);
  EXPECT_EQ(Registers(AnswerModbus(Request(1, 3, 40004, 1), unit, 0)), std::vector<int>{230});
  EXPECT_EQ(Registers(AnswerModbus(Request(1, 3, 40012, 1), unit, 0)), std::vector<int>{0xFFC4});
  EXPECT_EQ(Registers(AnswerModbus(Request(1, 3, 49999, 1), unit, 0)), std::vector<int>{0x1234});

  EXPECT_EQ(DerivedState(unit, 1), 4);
  write(20002, 1, 1);  // off: no output
  EXPECT_EQ(DerivedState(unit, 2), 2);
  EXPECT_EQ(Registers(AnswerModbus(Request(1, 4, 30010, 4), unit, 2)),
            (std::vector<int>{0, 0, 0, 0}));
  // A self-test is refused while off, with a device-failure exception.
  const Reply refused = AnswerModbus(Request(1, 6, 20002, 30), unit, 2);
  EXPECT_EQ(refused.bytes, (std::vector<uint8_t>{0x01, 0x86, 0x04, 0x43, 0xA3}));
  EXPECT_EQ(DerivedState(unit, 3), 2);
  write(20001, 1, 3);  // on again
  EXPECT_EQ(DerivedState(unit, 3), 4);
  EXPECT_EQ(Registers(AnswerModbus(Request(1, 4, 30010, 1), unit, 3)), std::vector<int>{2301});

  write(20003, 30, 10);  // self-test for 30 scenario seconds
  EXPECT_EQ(DerivedState(unit, 11), 6);
  EXPECT_EQ(DerivedState(unit, 41), 4);
  write(20003, 30, 50);
  write(20003, 0, 51);  // cancelled
  EXPECT_EQ(DerivedState(unit, 52), 4);
}

// ---- Modbus framing --------------------------------------------------------------------------

TEST(RtuFramer, FramesByLengthSkipsNoiseAndUsesSilenceForTheRest) {
  RtuFramer framer(0.02);
  std::vector<uint8_t> req = Request(1, 4, 30000, 14);
  std::vector<uint8_t> noisy{0x55, 0x01, 0xFF};
  noisy.insert(noisy.end(), req.begin(), req.begin() + 5);
  EXPECT_TRUE(framer.Feed(noisy.data(), noisy.size(), 1.0).empty());
  auto frames = framer.Feed(req.data() + 5, 3, 1.001);  // the rest, without a pause
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], req);
  EXPECT_EQ(framer.TakeDiscarded(), 3u);

  // A function of unknown length ends only with silence.
  std::vector<uint8_t> unknown = WithCrc({1, 0x2B, 0x0E, 0x01, 0x00});
  EXPECT_TRUE(framer.Feed(unknown.data(), unknown.size(), 2.0).empty());
  EXPECT_TRUE(framer.Idle(2.01).empty());
  frames = framer.Idle(2.03);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], unknown);

  // Half a request, a pause, then a whole one: the half is noise.
  framer.Feed(req.data(), 4, 3.0);
  frames = framer.Feed(req.data(), req.size(), 3.1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], req);
  EXPECT_EQ(framer.TakeDiscarded(), 4u);

  // Pure noise is dropped once the line is quiet.
  std::vector<uint8_t> junk{0x13, 0x99, 0x42, 0x07, 0x00};
  framer.Feed(junk.data(), junk.size(), 4.0);
  EXPECT_TRUE(framer.Idle(4.1).empty());
  EXPECT_EQ(framer.TakeDiscarded(), junk.size());
  EXPECT_GT(framer.Deadline(), 1e12);
}

// Damaged and random input never crashes the framing or the answering.
TEST(BadInput, RandomAndMutatedBytesAreHandled) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255), len(1, 40), pick(0, 3);
  const std::string asciiSeeds[] = {MakeRequest("31", 1, "42"), MakeRequest("11", 1, "E2"),
                                    MakeRequest("31", 1, "82", "F001")};
  const std::vector<uint8_t> rtuSeeds[] = {Request(1, 4, 30000, 14), Request(1, 6, 19999, 1),
                                           Request(0, 6, 40004, 230), Request(1, 3, 40000, 125)};
  for (int protocol = 0; protocol < 3; ++protocol) {
    SimUnit unit = FixedUnit(1);
    AsciiFramer ascii;
    RtuFramer rtu(0.02);
    double now = 0;
    for (int round = 0; round < 3000; ++round) {
      std::vector<uint8_t> chunk;
      if (pick(rng) == 0) {
        for (int i = len(rng); i > 0; --i) chunk.push_back(static_cast<uint8_t>(byte(rng)));
      } else if (protocol < 2) {
        const std::string& seed = asciiSeeds[round % 3];
        chunk.assign(seed.begin(), seed.end());
      } else {
        chunk = rtuSeeds[round % 4];
      }
      if (!chunk.empty() && pick(rng) == 0) chunk[byte(rng) % chunk.size()] = byte(rng);
      now += pick(rng) == 0 ? 0.05 : 0.001;
      if (protocol < 2) {
        for (const std::string& f : ascii.Feed(chunk.data(), chunk.size())) {
          AsciiRequest req = ParseAsciiRequest(f);
          if (req.readable) {
            EXPECT_FALSE(AnswerAscii(protocol, req, unit, now).bytes.empty());
          }
        }
      } else {
        auto frames = rtu.Feed(chunk.data(), chunk.size(), now);
        auto idle = rtu.Idle(now + 0.03);
        frames.insert(frames.end(), idle.begin(), idle.end());
        for (const auto& f : frames) {
          ASSERT_EQ(Crc16Modbus(f.data(), f.size()), 0);
          EXPECT_FALSE(AnswerModbus(f, unit, now).bytes.empty());
        }
      }
    }
  }
}

}  // namespace
}  // namespace tessel::sim
