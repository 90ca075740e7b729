// The serial port's contract, run against both ports the communication master can be given: the
// windowed program's TComm (a worker thread, Qt's loop) and the daemon's TermiosPort (PollLoop).
// Each test talks to the port only through SerialPort and a small harness that pumps the right
// loop, so the two cannot drift apart unnoticed.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "host/tcomm_port.h"
#include "pty_support.h"
#include "service/poll_loop.h"
#include "service/termios_port.h"

namespace tessel {
namespace {

using namespace std::chrono_literals;
using testing_support::Bytes;
using testing_support::Pattern;
using testing_support::Pty;

enum class PortKind { TComm, Termios };

void PrintTo(PortKind kind, std::ostream* out) {
  *out << (kind == PortKind::TComm ? "TComm" : "Termios");
}

// One port and the loop that drives it, with what the port reported.
class PortHarness {
 public:
  virtual ~PortHarness() = default;
  virtual SerialPort& Port() = 0;
  // Runs the port's loop until done holds or limit passes; true when it holds.
  virtual bool WaitUntil(const std::function<bool()>& done,
                         std::chrono::milliseconds limit = 10s) = 0;
  // The line stays as it is for a while, the loop running.
  void Pause(std::chrono::milliseconds time) {
    WaitUntil([] { return false; }, time);
  }

  size_t ReceivedBytes() const {
    size_t total = 0;
    for (const Bytes& chunk : chunks) total += chunk.size();
    return total;
  }
  std::vector<size_t> ChunkSizes() const {
    std::vector<size_t> sizes;
    for (const Bytes& chunk : chunks) sizes.push_back(chunk.size());
    return sizes;
  }
  Bytes Joined() const {
    Bytes all;
    for (const Bytes& chunk : chunks) all.insert(all.end(), chunk.begin(), chunk.end());
    return all;
  }

  std::vector<Bytes> chunks;
  int missingZeroes = 0;  // chunks without the zero byte after their data
  int hangUps = 0;
  size_t chunksAtHangUp = 0;      // chunks delivered before the (last) hang-up
  std::function<void()> onChunk;  // what a test's handler does beside recording
  std::function<void()> onHangUp;

 protected:
  void Received(const uint8_t* data, int n) {
    chunks.emplace_back(data, data + n);
    if (data[n] != 0) ++missingZeroes;
    if (onChunk) onChunk();
  }
  void HungUp() {
    ++hangUps;
    chunksAtHangUp = chunks.size();
    if (onHangUp) onHangUp();
  }
};

class TCommHarness : public PortHarness {
 public:
  TCommHarness() {
    port_.Comm().OnReceiveData = [this](const uint8_t* data, uint16_t n) { Received(data, n); };
    port_.Comm().OnRequestHangup = [this] { HungUp(); };
  }
  SerialPort& Port() override { return port_; }
  bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override {
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer tick;  // wakes the loop to look at conditions on the far end
    tick.start(10);
    while (!done()) {
      if (elapsed.elapsed() > limit.count()) return false;
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
  }

 private:
  TCommPort port_;
};

class TermiosHarness : public PortHarness {
 public:
  TermiosHarness() {
    port_.OnReceive = [this](const uint8_t* data, int n) { Received(data, n); };
    port_.OnHangUp = [this] { HungUp(); };
  }
  SerialPort& Port() override { return port_; }
  bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override {
    const int64_t end = loop_.Now() + std::chrono::nanoseconds(limit).count();
    const int64_t tick = std::chrono::nanoseconds(10ms).count();
    while (!done()) {
      const int64_t now = loop_.Now();
      if (now > end) return false;
      loop_.RunOnce(std::min(end, now + tick));
    }
    return true;
  }

 private:
  PollLoop loop_;
  TermiosPort port_{loop_};
};

std::unique_ptr<PortHarness> MakeHarness(PortKind kind) {
  if (kind == PortKind::TComm) return std::make_unique<TCommHarness>();
  return std::make_unique<TermiosHarness>();
}

SerialPortSettings LineSettings(const std::string& device, int32_t intervalMs = 200) {
  SerialPortSettings s;
  s.DeviceName = device;
  s.BaudRate = 9600;
  s.StopBits = 1;
  s.ReadIntervalTimeout = intervalMs;
  return s;
}

// A stand-in for a protocol's frame test: ten bytes starting with 'F'.
bool TenByteFrame(const uint8_t* data, size_t n) {
  return n == 10 && data[0] == 'F';
}

class PortContractTest : public ::testing::TestWithParam<PortKind> {
 protected:
  Pty pty;
  std::unique_ptr<PortHarness> h = MakeHarness(GetParam());
  SerialPort& port = h->Port();
};

TEST_P(PortContractTest, SilenceCutsTheLineIntoChunks) {
  struct Case {
    const char* name;
    int32_t intervalMs;
    std::vector<size_t> pieces;  // written 300 ms apart
    std::vector<size_t> sizes;
  } cases[] = {
      {"a burst is one chunk", 200, {30}, {30}},
      {"a pause longer than the interval splits", 200, {15, 15}, {15, 15}},
      {"a pause shorter than the interval does not", 1000, {15, 15}, {30}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    h->chunks.clear();
    port.Open(LineSettings(pty.Path(), c.intervalMs));
    Bytes all;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      if (i > 0) h->Pause(300ms);
      const Bytes piece = Pattern(c.pieces[i], static_cast<uint8_t>(9 + i));
      pty.Write(piece);
      all.insert(all.end(), piece.begin(), piece.end());
    }
    ASSERT_TRUE(h->WaitUntil([&] { return h->ReceivedBytes() >= all.size(); }));
    EXPECT_EQ(h->ChunkSizes(), c.sizes);
    EXPECT_EQ(h->Joined(), all);
    EXPECT_EQ(h->missingZeroes, 0);
    port.Close();
  }
}

// With a frame test a whole frame closes its chunk after the short quiet time; a frame still
// arriving, and a frame with bytes trailing it (an answer the master must reject), wait for the
// full interval. Pieces are written 300 ms apart: far above the quiet time, far below the interval.
TEST_P(PortContractTest, AWholeFrameEndsItsChunkAfterTheQuietTime) {
  const Bytes frame = {'F', 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const Bytes head(frame.begin(), frame.begin() + 4), rest(frame.begin() + 4, frame.end());
  Bytes trailed = frame;
  trailed.insert(trailed.end(), {'x', 'y'});
  struct Case {
    const char* name;
    bool frameTest;
    std::vector<Bytes> pieces;
    std::vector<size_t> sizes;
  } cases[] = {
      {"two whole frames are two chunks", true, {frame, frame}, {10, 10}},
      {"without the frame test only the interval ends a chunk", false, {frame, frame}, {20}},
      {"a frame with a pause inside is still one chunk", true, {head, rest, frame}, {10, 10}},
      {"bytes trailing a frame keep its chunk open", true, {trailed, frame}, {22}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    h->chunks.clear();
    SerialPortSettings s = LineSettings(pty.Path(), 1500);
    s.AnswerComplete = c.frameTest ? &TenByteFrame : nullptr;
    s.AnswerQuietMs = 5;
    port.Open(s);
    size_t total = 0;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      if (i > 0) h->Pause(300ms);
      pty.Write(c.pieces[i]);
      total += c.pieces[i].size();
    }
    ASSERT_TRUE(h->WaitUntil([&] { return h->ReceivedBytes() >= total; }));
    EXPECT_EQ(h->ChunkSizes(), c.sizes);
    port.Close();
  }
}

TEST_P(PortContractTest, ALongStreamIsCutEvery2048Bytes) {
  port.Open(LineSettings(pty.Path()));
  const Bytes stream = Pattern(3000, 3);
  pty.Write(stream);
  ASSERT_TRUE(h->WaitUntil([&] { return h->ReceivedBytes() >= stream.size(); }));
  EXPECT_EQ(h->ChunkSizes(), std::vector<size_t>({2048, 952}));
  EXPECT_EQ(h->Joined(), stream);
}

TEST_P(PortContractTest, FramesGoOutWholeAndInOrder) {
  uint8_t byte = 7;
  EXPECT_FALSE(port.Send(&byte, 1)) << "closed";
  port.Open(LineSettings(pty.Path()));
  EXPECT_FALSE(port.Send(&byte, 0));

  // The first frame is larger than the pseudo-terminal's buffers, so the others queue behind it;
  // the far end is read only once all three are sent.
  const Bytes frames[] = {Pattern(60000, 11), Pattern(300, 12), Pattern(5, 13)};
  Bytes expected;
  for (const Bytes& frame : frames) {
    ASSERT_TRUE(port.Send(frame.data(), static_cast<int>(frame.size())));
    expected.insert(expected.end(), frame.begin(), frame.end());
  }
  Bytes seen;
  ASSERT_TRUE(h->WaitUntil([&] {
    pty.ReadInto(seen);
    return seen.size() >= expected.size();
  }));
  EXPECT_EQ(seen, expected);
}

TEST_P(PortContractTest, FarEndGoneIsOneHangUpAfterTheChunkSoFar) {
  port.Open(LineSettings(pty.Path(), 60000));  // the chunk never closes by silence here
  pty.Write("partial");
  h->Pause(300ms);  // the port has taken the bytes off the line
  pty.CloseMaster();
  ASSERT_TRUE(h->WaitUntil([&] { return h->hangUps > 0; }));
  h->Pause(300ms);
  EXPECT_EQ(h->hangUps, 1);
  ASSERT_EQ(h->chunks, std::vector<Bytes>({Bytes({'p', 'a', 'r', 't', 'i', 'a', 'l'})}));
  EXPECT_EQ(h->chunksAtHangUp, 1u) << "what arrived before the failure comes first";
  EXPECT_TRUE(port.IsOpen()) << "open and quiet until closed";
  uint8_t byte = 1;
  EXPECT_FALSE(port.Send(&byte, 1));

  port.Close();
  EXPECT_FALSE(port.IsOpen());
  Pty replacement;
  port.Open(LineSettings(replacement.Path()));
  replacement.Write("back");
  ASSERT_TRUE(h->WaitUntil([&] { return h->ReceivedBytes() >= 11; }));
  EXPECT_EQ(h->chunks.back(), Bytes({'b', 'a', 'c', 'k'}));
  EXPECT_EQ(h->hangUps, 1);
}

TEST_P(PortContractTest, AHandlerMayCloseThePort) {
  struct Case {
    const char* name;
    bool inHangUp;  // else in the receive handler, with more chunks on their way
  } cases[] = {{"in the hang-up handler", true}, {"in the receive handler", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pty line;
    auto harness = MakeHarness(GetParam());
    SerialPort& p = harness->Port();
    (c.inHangUp ? harness->onHangUp : harness->onChunk) = [&p] { p.Close(); };
    p.Open(LineSettings(line.Path()));
    if (c.inHangUp) {
      line.CloseMaster();
      ASSERT_TRUE(harness->WaitUntil([&] { return harness->hangUps > 0; }));
    } else {
      line.Write(Pattern(3000, 1));
      ASSERT_TRUE(harness->WaitUntil([&] { return !harness->chunks.empty(); }));
    }
    EXPECT_FALSE(p.IsOpen());
    harness->Pause(400ms);
    EXPECT_EQ(harness->hangUps, c.inHangUp ? 1 : 0);
    EXPECT_EQ(harness->ChunkSizes(), c.inHangUp ? std::vector<size_t>{} : std::vector<size_t>{2048})
        << "nothing more from a closed opening";

    if (!c.inHangUp) {  // the same port works on
      harness->onChunk = nullptr;
      p.Open(LineSettings(line.Path()));
      line.Write("again");
      ASSERT_TRUE(harness->WaitUntil([&] { return harness->chunks.size() == 2; }));
      EXPECT_EQ(harness->chunks.back(), Bytes({'a', 'g', 'a', 'i', 'n'}));
    }
  }
}

// The line the device is given, read back from the near end of the pseudo-terminal: the speed,
// the stop bits, 8N1 without flow control, and raw (no echo, no line editing, no translation),
// which the bytes that a cooked terminal would eat or change show as well.
TEST_P(PortContractTest, LineSettingsReachTheDevice) {
  struct Case {
    int32_t baud;
    uint8_t stopBits;
    speed_t speed;
  } cases[] = {
      {1200, 1, B1200}, {2400, 2, B2400}, {4800, 1, B4800}, {9600, 2, B9600}, {115200, 1, B115200},
  };
  const Bytes special = {'\r', '\n', 0x03, 0x04, 0x11, 0x13, 0x1A, 0x7F, 0x00, 0xFF, '\\'};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.baud);
    Pty line;
    h->chunks.clear();
    SerialPortSettings s = LineSettings(line.Path(), 50);
    s.BaudRate = c.baud;
    s.StopBits = c.stopBits;
    port.Open(s);
    const termios t = line.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.stopBits == 2);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t{CS8});
    EXPECT_EQ(t.c_cflag & (PARENB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);

    line.Write(special);
    ASSERT_TRUE(h->WaitUntil([&] { return h->ReceivedBytes() >= special.size(); }));
    EXPECT_EQ(h->Joined(), special);
    ASSERT_TRUE(port.Send(special.data(), static_cast<int>(special.size())));
    Bytes seen;
    ASSERT_TRUE(h->WaitUntil([&] {
      line.ReadInto(seen);
      return seen.size() >= special.size();
    }));
    EXPECT_EQ(seen, special);
    port.Close();
  }
}

// A refused opening says the same for both ports: the port's fixed text, the device, and the
// system's reason where there is one. The port is closed afterwards and opens a good device.
TEST_P(PortContractTest, OpenFailuresAreToldTheSameWay) {
  char folderTemplate[] = "/tmp/tessel-port-XXXXXX";
  ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
  const std::string folder = folderTemplate;
  const std::string file = folder + "/plain.bin";
  std::ofstream(file) << "not a device";

  auto holder = MakeHarness(GetParam());  // another port of the same kind holds the pty
  holder->Port().Open(LineSettings(pty.Path()));

  struct Case {
    std::string path;
    std::string message;
    int reason;
  } cases[] = {
      {folder + "/missing", "Error opening serial port", ENOENT},
      {file, "File handle is not a comm handle ", 0},
      {folder, "File handle is not a comm handle ", 0},
      {"/dev/null", "File handle is not a comm handle ", 0},
      {pty.Path(), "Error opening serial port", EBUSY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      port.Open(LineSettings(c.path));
      ADD_FAILURE() << "opened";
    } catch (const SerialPortError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
      EXPECT_EQ(e.Device(), c.path);
      EXPECT_EQ(e.SysError(), c.reason);
    }
    EXPECT_FALSE(port.IsOpen());
    uint8_t byte = 1;
    EXPECT_FALSE(port.Send(&byte, 1));
  }

  // The holder still owns a working line; the refused port opens another one.
  pty.Write("still here");
  ASSERT_TRUE(holder->WaitUntil([&] { return holder->ReceivedBytes() == 10; }));
  Pty other;
  port.Open(LineSettings(other.Path()));
  other.Write("ok");
  EXPECT_TRUE(h->WaitUntil([&] { return h->ReceivedBytes() == 2; }));
  std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Port, PortContractTest,
                         ::testing::Values(PortKind::TComm, PortKind::Termios),
                         [](const auto& info) {
                           return info.param == PortKind::TComm ? "TComm" : "Termios";
                         });

// The daemon's port and the windowed program keep out of each other's line even when the daemon
// runs as root, whom the exclusive mode alone would let in; the line is free again once closed.
TEST(PortExclusionTest, TermiosPortRefusesALineTCommHolds) {
  Pty line;
  TCommHarness windowed;
  TermiosHarness daemon;
  windowed.Port().Open(LineSettings(line.Path()));
  try {
    daemon.Port().Open(LineSettings(line.Path()));
    ADD_FAILURE() << "opened";
  } catch (const SerialPortError& e) {
    EXPECT_EQ(std::string(e.what()), "Error opening serial port");
    EXPECT_EQ(e.SysError(), EBUSY);
  }
  windowed.Port().Close();
  daemon.Port().Open(LineSettings(line.Path()));
  EXPECT_TRUE(daemon.Port().IsOpen());
}

}  // namespace
}  // namespace tessel
