#include "serial/serial_port.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <time.h>

#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <fstream>
#include <thread>
#include <tuple>

#include "serial/serial_test_support.h"

namespace tessel {
namespace {

using namespace std::chrono_literals;
using testing_support::Bytes;
using testing_support::Pattern;
using testing_support::Pty;
using testing_support::SerialTest;
using testing_support::WaitUntil;

// What only a worker on a thread of its own can promise: chunks cut on time while the owner is
// busy.
class SerialThreadTest : public SerialTest {};

std::string OpenError(TComm& comm) {
  try {
    comm.OpenPort();
  } catch (const ECommsError& e) {
    return e.what();
  }
  return "opened";
}

int ThreadCount() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  return count;
}

double ProcessCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

TEST(TCommTest, StartValues) {
  TComm comm;
  EXPECT_EQ(comm.CommName(), "COM2");
  EXPECT_EQ(comm.BaudRate(), 9600u);
  EXPECT_FALSE(comm.ParityCheck());
  EXPECT_FALSE(comm.Outx_CtsFlow());
  EXPECT_FALSE(comm.Outx_DsrFlow());
  EXPECT_EQ(comm.DtrControl(), TDtrControl::DtrEnable);
  EXPECT_FALSE(comm.DsrSensitivity());
  EXPECT_TRUE(comm.TxContinueOnXoff());
  EXPECT_TRUE(comm.Outx_XonXoffFlow());
  EXPECT_TRUE(comm.Inx_XonXoffFlow());
  EXPECT_FALSE(comm.ReplaceWhenParityError());
  EXPECT_FALSE(comm.IgnoreNullChar());
  EXPECT_EQ(comm.RtsControl(), TRtsControl::RtsEnable);
  EXPECT_EQ(comm.XonLimit(), 500);
  EXPECT_EQ(comm.XoffLimit(), 500);
  EXPECT_EQ(comm.ByteSize(), TByteSize::_8);
  EXPECT_EQ(comm.Parity(), TParity::None);
  EXPECT_EQ(comm.StopBits(), TStopBits::_1);
  EXPECT_EQ(comm.XonChar(), 17);
  EXPECT_EQ(comm.XoffChar(), 19);
  EXPECT_EQ(comm.ReplacedChar(), 0);
  EXPECT_EQ(comm.ReadIntervalTimeout(), 100u);
  EXPECT_EQ(comm.ReadTotalTimeoutMultiplier(), 0u);
  EXPECT_EQ(comm.ReadTotalTimeoutConstant(), 0u);
  EXPECT_EQ(comm.WriteTotalTimeoutMultiplier(), 0u);
  EXPECT_EQ(comm.WriteTotalTimeoutConstant(), 0u);
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_TRUE(comm.SendQueueEmpty());
  uint8_t byte = 1;
  EXPECT_FALSE(comm.SendData(&byte, 1));
  comm.ClosePort();  // closed: nothing happens
  EXPECT_FALSE(comm.IsOpen());
}

TEST(TCommTest, DevicePathOfPortNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"COM1", "/dev/ttyS0"},           {"COM2", "/dev/ttyS1"},
      {"com12", "/dev/ttyS11"},         {"\\\\.\\COM25", "/dev/ttyS24"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0"}, {"/dev/pts/7", "/dev/pts/7"},
      {"ttyACM0", "/dev/ttyACM0"},      {"COM0", "/dev/COM0"},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(TComm::DevicePath(name), path) << name;
}

TEST_P(SerialTest, FailedOpenLeavesNothingBehind) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string file = dir.filePath("plain.bin").toStdString();
  std::ofstream(file) << "not a device";

  const std::pair<std::string, std::string> cases[] = {
      {dir.filePath("missing").toStdString(), "Error opening serial port"},
      {file, "File handle is not a comm handle "},
      {dir.path().toStdString(), "File handle is not a comm handle "},
      {"/dev/null", "File handle is not a comm handle "},
  };
  // One good open and close first, so that threads the runtime starts once are already there.
  comm.OpenPort();
  comm.ClosePort();
  const int threadsBefore = ThreadCount();
  for (const auto& [path, message] : cases) {
    comm.SetCommName(path);
    EXPECT_EQ(OpenError(comm), message) << path;
    EXPECT_FALSE(comm.IsOpen()) << path;
    uint8_t byte = 1;
    EXPECT_FALSE(comm.SendData(&byte, 1)) << path;
  }
  EXPECT_EQ(ThreadCount(), threadsBefore);

  // The same component opens a real device afterwards and works.
  comm.SetCommName(pty.Path());
  ASSERT_EQ(OpenError(comm), "opened");
  pty.Write("ok");
  EXPECT_TRUE(WaitUntil([&] { return ReceivedBytes() == 2; }));
}

TEST_P(SerialTest, OpeningAnOpenOrBusyPortIsRefused) {
  ASSERT_EQ(OpenError(comm), "opened");
  EXPECT_EQ(OpenError(comm), "This serial port already opened");
  EXPECT_TRUE(comm.IsOpen());

  TComm other;
  other.SetCommName(pty.Path());
  EXPECT_EQ(OpenError(other), "Error opening serial port");
  EXPECT_FALSE(other.IsOpen());

  // The first component still owns a working port.
  pty.Write("still here");
  ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes() == 10; }));
  EXPECT_EQ(Joined(), Bytes({'s', 't', 'i', 'l', 'l', ' ', 'h', 'e', 'r', 'e'}));
}

// Beside its fixed text, a refused opening says which device refused and the system's reason.
TEST_P(SerialTest, OpenFailureNamesTheDeviceAndTheReason) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  comm.OpenPort();  // the pseudo-terminal is now held by this component
  TComm other;
  const std::string missing = dir.filePath("missing").toStdString();
  const std::tuple<std::string, std::string, int> cases[] = {
      {missing, "Error opening serial port", ENOENT},
      {pty.Path(), "Error opening serial port", EBUSY},
      {"/dev/null", "File handle is not a comm handle ", 0},
  };
  for (const auto& [path, message, reason] : cases) {
    other.SetCommName(path);
    try {
      other.OpenPort();
      ADD_FAILURE() << path << " opened";
    } catch (const ECommsError& e) {
      EXPECT_EQ(std::string(e.what()), message) << path;
      EXPECT_EQ(e.Device(), path);
      EXPECT_EQ(e.SysError(), reason) << path;
    }
  }
}

TEST_P(SerialTest, BurstArrivesAsOneChunk) {
  comm.OpenPort();
  const Bytes burst = Pattern(30, 1);
  pty.Write(burst);
  ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes() >= 30; }));
  EXPECT_EQ(ChunkSizes(), std::vector<size_t>({30}));
  EXPECT_EQ(Joined(), burst);
  EXPECT_EQ(trailingZeroes, 1);  // the block carries a zero byte after the data
}

TEST_P(SerialTest, SilenceLongerThanTheIntervalSplitsAFrame) {
  struct Case {
    const char* name;
    uint32_t intervalWhileOpen;
    std::vector<size_t> sizes;
  };
  const Case cases[] = {
      {"200 ms interval", 200, {15, 15}},
      {"interval raised to 1000 ms while open", 1000, {30}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    chunks.clear();
    comm.SetReadIntervalTimeout(200);
    comm.OpenPort();
    comm.SetReadIntervalTimeout(c.intervalWhileOpen);
    SyncWithWorker();
    const Bytes frame = Pattern(30, 9);
    pty.Write(Bytes(frame.begin(), frame.begin() + 15));
    WaitUntil([] { return false; }, 300ms);  // the pause on the line, the owner idle
    pty.Write(Bytes(frame.begin() + 15, frame.end()));
    ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes() >= 30; }));
    EXPECT_EQ(ChunkSizes(), c.sizes);
    EXPECT_EQ(Joined(), frame);
    comm.ClosePort();
  }
}

// A stand-in for a protocol's frame test: ten bytes starting with 'F'.
bool TenByteFrame(const uint8_t* data, size_t n) {
  return n == 10 && data[0] == 'F';
}

// With a frame test a whole frame closes its chunk after the short quiet time; a frame still
// arriving, and a frame with bytes trailing it, wait for the full interval as before. Pieces are
// written 300 ms apart: far above the quiet time, far below the interval.
TEST_P(SerialTest, AWholeFrameEndsItsChunkAfterTheQuietTime) {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    chunks.clear();
    comm.SetReadIntervalTimeout(1500);
    comm.SetFrameEnd(c.frameTest ? &TenByteFrame : nullptr, 5);
    comm.OpenPort();
    size_t total = 0;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      if (i > 0) WaitUntil([] { return false; }, 300ms);
      pty.Write(c.pieces[i]);
      total += c.pieces[i].size();
    }
    ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes() >= total; }));
    EXPECT_EQ(ChunkSizes(), c.sizes);
    comm.ClosePort();
  }
}

TEST_P(SerialTest, LongStreamIsCutEvery2048Bytes) {
  comm.OpenPort();
  const Bytes stream = Pattern(3000, 3);
  pty.Write(stream);
  ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes() >= 3000; }));
  EXPECT_EQ(ChunkSizes(), std::vector<size_t>({2048, 952}));
  EXPECT_EQ(Joined(), stream);
}

TEST_P(SerialTest, IgnoredZeroBytesNeverReachTheChunk) {
  comm.SetIgnoreNullChar(true);
  comm.OpenPort();
  pty.Write(Bytes({'a', 0, 'b', 0, 0, 'c'}));
  ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes() >= 3; }));
  EXPECT_EQ(Joined(), Bytes({'a', 'b', 'c'}));
}

TEST_P(SerialThreadTest, BusyOwnerStillGetsSeparateChunks) {
  comm.SetReadIntervalTimeout(100);
  comm.OpenPort();
  const Bytes first = Pattern(20, 40);
  const Bytes second = Pattern(25, 80);
  // The owner's thread is blocked in join() while both frames and their silences pass.
  std::thread device([&] {
    pty.Write(first);
    std::this_thread::sleep_for(400ms);
    pty.Write(second);
    std::this_thread::sleep_for(400ms);
  });
  device.join();
  ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes() >= 45; }));
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0], first);
  EXPECT_EQ(chunks[1], second);
}

TEST_P(SerialTest, FramesGoOutWholeAndInOrderWithOneEmptyReport) {
  uint8_t byte = 7;
  EXPECT_FALSE(comm.SendData(&byte, 1));  // closed
  comm.OpenPort();
  EXPECT_FALSE(comm.SendData(&byte, 0));

  // The first frame is larger than the pseudo-terminal buffers, so it cannot be written out
  // before the other two are queued: the test reads the far end only afterwards.
  const Bytes frames[] = {Pattern(60000, 11), Pattern(300, 12), Pattern(5, 13)};
  for (const Bytes& frame : frames) {
    ASSERT_TRUE(comm.SendData(frame.data(), static_cast<uint16_t>(frame.size())));
  }
  EXPECT_FALSE(comm.SendQueueEmpty());

  Bytes expected;
  for (const Bytes& frame : frames) expected.insert(expected.end(), frame.begin(), frame.end());
  Bytes seen;
  ASSERT_TRUE(WaitUntil([&] {
    pty.ReadInto(seen);
    return seen.size() >= expected.size() && sendEmptyEvents > 0;
  }));
  EXPECT_EQ(seen, expected);

  // A chunk travelling the other way flushes any further report out of the worker.
  pty.Write("x");
  ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes() == 1; }));
  EXPECT_EQ(sendEmptyEvents, 1);
  EXPECT_TRUE(comm.SendQueueEmpty());
}

// Without an OnSendDataEmpty handler the report does not wake the owner by itself: it comes
// with the next event, and the frame still goes out at once.
TEST_P(SerialTest, QuietEmptyReportComesWithTheNextEvent) {
  comm.OnSendDataEmpty = nullptr;
  comm.OpenPort();
  const Bytes frame = Pattern(20, 3);
  ASSERT_TRUE(comm.SendData(frame.data(), static_cast<uint16_t>(frame.size())));
  Bytes seen;
  ASSERT_TRUE(WaitUntil([&] {
    pty.ReadInto(seen);
    return seen.size() >= frame.size();
  }));
  EXPECT_EQ(seen, frame);
  // The worker has written it out; nothing wakes this thread for that alone.
  EXPECT_FALSE(WaitUntil([&] { return comm.SendQueueEmpty(); }, std::chrono::milliseconds(300)));

  pty.Write("x");
  ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes() == 1; }));
  EXPECT_TRUE(comm.SendQueueEmpty());
}

TEST_P(SerialTest, CloseDuringAPendingReadIsQuietAndTheComponentReopens) {
  comm.SetReadIntervalTimeout(60000);  // the partial chunk below never completes on its own
  comm.OpenPort();
  pty.Write("partial");
  SyncWithWorker();
  comm.ClosePort();
  EXPECT_FALSE(comm.IsOpen());
  QCoreApplication::processEvents();
  EXPECT_EQ(hangupEvents, 0);
  EXPECT_TRUE(chunks.empty());
  comm.ClosePort();  // already closed: nothing happens

  comm.SetReadIntervalTimeout(100);
  comm.OpenPort();
  pty.Write("again");
  ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes() >= 5; }));
  EXPECT_EQ(Joined(), Bytes({'a', 'g', 'a', 'i', 'n'}));
  EXPECT_EQ(hangupEvents, 0);
}

TEST_P(SerialTest, FarEndGoneRaisesOneHangupAndTheWorkerIdles) {
  comm.OpenPort();
  pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return hangupEvents > 0; }));
  EXPECT_TRUE(comm.IsOpen());
  uint8_t byte = 1;
  EXPECT_FALSE(comm.SendData(&byte, 1));

  // A worker that kept polling the dead descriptor would use a whole core here.
  const double cpuBefore = ProcessCpuSeconds();
  QEventLoop idle;
  QTimer::singleShot(1000, &idle, &QEventLoop::quit);
  idle.exec();
  const double cpuUsed = ProcessCpuSeconds() - cpuBefore;
  RecordProperty("cpu_seconds_in_one_second", std::to_string(cpuUsed));
  std::printf("CPU used in the second after the hang-up: %.4f s\n", cpuUsed);
  EXPECT_LT(cpuUsed, 0.3);
  EXPECT_EQ(hangupEvents, 1);

  comm.ClosePort();
  EXPECT_FALSE(comm.IsOpen());
  Pty replacement;
  comm.SetCommName(replacement.Path());
  comm.OpenPort();
  replacement.Write("back");
  ASSERT_TRUE(WaitUntil([&] { return ReceivedBytes() >= 4; }));
  EXPECT_EQ(hangupEvents, 1);
}

TEST_P(SerialTest, HandlerMayCloseThePortOnHangup) {
  comm.OnRequestHangup = [this] {
    ++hangupEvents;
    comm.ClosePort();
  };
  comm.OpenPort();
  pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return hangupEvents > 0; }));
  EXPECT_FALSE(comm.IsOpen());
}

TEST_P(SerialTest, LinePropertiesReachTheDeviceAtOnce) {
  struct Case {
    const char* name;
    std::function<void(TComm&)> change;
    std::function<bool(const termios&)> applied;
  };
  // A pseudo-terminal keeps 8 data bits and no parity enable bit whatever is asked, so data
  // bits cannot be seen here and parity shows only in its odd/even bit.
  const Case cases[] = {
      {"BaudRate", [](TComm& c) { c.SetBaudRate(2400); },
       [](const termios& t) { return cfgetospeed(&t) == B2400; }},
      {"StopBits", [](TComm& c) { c.SetStopBits(TStopBits::_2); },
       [](const termios& t) { return (t.c_cflag & CSTOPB) != 0; }},
      {"ParityCheck", [](TComm& c) { c.SetParityCheck(true); },
       [](const termios& t) { return (t.c_iflag & INPCK) != 0; }},
      {"ReplaceWhenParityError", [](TComm& c) { c.SetReplaceWhenParityError(true); },
       [](const termios& t) { return (t.c_iflag & IGNPAR) == 0; }},
      {"Outx_XonXoffFlow", [](TComm& c) { c.SetOutx_XonXoffFlow(true); },
       [](const termios& t) { return (t.c_iflag & IXON) && !(t.c_iflag & IXOFF); }},
      {"Inx_XonXoffFlow", [](TComm& c) { c.SetInx_XonXoffFlow(true); },
       [](const termios& t) { return (t.c_iflag & IXOFF) && !(t.c_iflag & IXON); }},
      {"XonChar and XoffChar",
       [](TComm& c) {
         c.SetXonChar(0x01);
         c.SetXoffChar(0x02);
       },
       [](const termios& t) { return t.c_cc[VSTART] == 0x01 && t.c_cc[VSTOP] == 0x02; }},
      {"Outx_CtsFlow", [](TComm& c) { c.SetOutx_CtsFlow(true); },
       [](const termios& t) { return (t.c_cflag & CRTSCTS) != 0; }},
      {"RtsHandshake", [](TComm& c) { c.SetRtsControl(TRtsControl::RtsHandshake); },
       [](const termios& t) { return (t.c_cflag & CRTSCTS) != 0; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pty line;
    TComm port;
    port.SetCommName(line.Path());
    port.SetOutx_XonXoffFlow(false);
    port.SetInx_XonXoffFlow(false);
    port.OpenPort();
    ASSERT_FALSE(c.applied(line.SlaveSettings()));
    c.change(port);
    EXPECT_TRUE(WaitUntil([&] { return c.applied(line.SlaveSettings()); }));
  }
}

TEST_P(SerialTest, UnchangedValuesAndParityAreOnlyStored) {
  comm.OpenPort();
  ASSERT_EQ(pty.SlaveSpeed(), B9600);

  // Someone else changes the speed; setting the stored value again must not touch the device.
  termios tio = pty.SlaveSettings();
  cfsetspeed(&tio, B4800);
  pty.SetSlaveSettings(tio);
  comm.SetBaudRate(9600);
  comm.SetParity(TParity::Odd);
  SyncWithWorker();
  EXPECT_EQ(pty.SlaveSpeed(), B4800);
  EXPECT_EQ(pty.SlaveSettings().c_cflag & PARODD, 0u);
  EXPECT_EQ(comm.Parity(), TParity::Odd);

  // The next line change applies everything, the stored parity included.
  comm.SetBaudRate(2400);
  ASSERT_TRUE(WaitUntil([&] { return pty.SlaveSpeed() == B2400; }));
  EXPECT_NE(pty.SlaveSettings().c_cflag & PARODD, 0u);
}

INSTANTIATE_TEST_SUITE_P(Worker, SerialTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "OwnThread" : "OwnerThread"; });
INSTANTIATE_TEST_SUITE_P(Worker, SerialThreadTest, ::testing::Values(true),
                         [](const auto&) { return std::string("OwnThread"); });

}  // namespace
}  // namespace tessel
