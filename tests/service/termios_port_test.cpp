// What only the daemon's port promises beside the shared contract (tests/host/
// port_contract_test.cpp): the loop's wake-ups it costs, a late wake-up that must not close an
// answer early, nothing left behind after a hang-up, and the list of ports.
#include "service/termios_port.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "pty_support.h"
#include "service/poll_loop.h"

namespace tessel {
namespace {

using testing_support::Bytes;
using testing_support::Pattern;
using testing_support::Pty;

constexpr int64_t kMs = 1'000'000;

bool TenByteFrame(const uint8_t* data, size_t n) {
  return n == 10 && data[0] == 'F';
}

class TermiosPortTest : public ::testing::Test {
 protected:
  TermiosPortTest() {
    port.OnReceive = [this](const uint8_t* data, int n) { chunks.emplace_back(data, data + n); };
    port.OnHangUp = [this] { ++hangUps; };
  }
  SerialPortSettings Settings(int32_t intervalMs) const {
    SerialPortSettings s;
    s.DeviceName = pty.Path();
    s.BaudRate = 9600;
    s.ReadIntervalTimeout = intervalMs;
    return s;
  }
  // Runs the loop until done holds, for at most ten seconds.
  bool RunUntil(const std::function<bool()>& done) {
    const int64_t end = loop.Now() + 10'000 * kMs;
    while (!done()) {
      if (loop.Now() > end) return false;
      loop.RunOnce(end);
    }
    return true;
  }
  // The wake-ups an idle stretch of the loop costs.
  int64_t WakeUpsWhileIdle(int64_t ms) {
    const int64_t before = loop.WakeUps();
    const int64_t end = loop.Now() + ms * kMs;
    while (loop.Now() < end) loop.RunOnce(end);
    return loop.WakeUps() - before;
  }

  Pty pty;
  PollLoop loop;
  TermiosPort port{loop};
  std::vector<Bytes> chunks;
  int hangUps = 0;
};

// One wake-up for the bytes and one for the chunk's deadline; nothing armed or watched for
// writing afterwards, so an idle line costs the loop nothing.
TEST_F(TermiosPortTest, AChunkCostsTwoWakeUpsAndAnIdleLineNone) {
  port.Open(Settings(50));
  EXPECT_EQ(port.ChunkDeadline(), -1);
  const int64_t before = loop.WakeUps();
  const int64_t writtenAt = loop.Now();
  pty.Write(Pattern(10, 1));
  ASSERT_TRUE(RunUntil([&] { return port.ChunkDeadline() >= 0 || !chunks.empty(); }));
  const int64_t readAt = loop.Now();
  EXPECT_GE(port.ChunkDeadline(), writtenAt + 50 * kMs);
  EXPECT_LE(port.ChunkDeadline(), readAt + 50 * kMs);
  ASSERT_TRUE(RunUntil([&] { return !chunks.empty(); }));
  EXPECT_EQ(loop.WakeUps() - before, 2);
  EXPECT_EQ(port.ChunkDeadline(), -1);
  EXPECT_EQ(WakeUpsWhileIdle(200), 1);

  // A frame larger than the device's buffer is finished on write readiness, which is then no
  // longer watched.
  const Bytes frame = Pattern(60000, 2);
  ASSERT_TRUE(port.Send(frame.data(), static_cast<int>(frame.size())));
  Bytes seen;
  ASSERT_TRUE(RunUntil([&] {
    pty.ReadInto(seen);
    return seen.size() >= frame.size();
  }));
  EXPECT_EQ(seen, frame);
  EXPECT_EQ(WakeUpsWhileIdle(200), 1);
}

// The loop was held up past the quiet time after a whole answer, and a stray byte came in
// meanwhile: the deadline's wake-up finds it and keeps the chunk open, so the master sees a
// damaged answer rather than a good one that is not what the line carried.
TEST_F(TermiosPortTest, BytesWaitingAtALateDeadlineJoinTheChunk) {
  SerialPortSettings s = Settings(200);
  s.AnswerComplete = &TenByteFrame;
  s.AnswerQuietMs = 5;
  port.Open(s);
  pty.Write(Bytes({'F', 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  ASSERT_TRUE(RunUntil([&] { return port.ChunkDeadline() >= 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // the loop is busy elsewhere
  pty.Write(Bytes({'x'}));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(RunUntil([&] { return !chunks.empty(); }));
  EXPECT_EQ(chunks, std::vector<Bytes>({Bytes({'F', 1, 2, 3, 4, 5, 6, 7, 8, 9, 'x'})}));
}

TEST_F(TermiosPortTest, AfterAHangUpNothingIsWatchedOrArmed) {
  port.Open(Settings(60000));
  pty.Write("partial");
  ASSERT_TRUE(RunUntil([&] { return port.ChunkDeadline() >= 0; }));
  pty.CloseMaster();
  ASSERT_TRUE(RunUntil([&] { return hangUps > 0; }));
  EXPECT_EQ(chunks.size(), 1u);
  EXPECT_FALSE(loop.RunOnce()) << "a dead descriptor left watched would wake the loop forever";
  EXPECT_TRUE(port.IsOpen());
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(hangUps, 1);
}

// A speed the terminal interface has no name for would leave the line at its old speed.
TEST_F(TermiosPortTest, ASpeedTheTerminalCannotSetIsRefused) {
  SerialPortSettings s = Settings(100);
  s.BaudRate = 12345;
  try {
    port.Open(s);
    ADD_FAILURE() << "opened";
  } catch (const SerialPortError& e) {
    EXPECT_EQ(std::string(e.what()), "Error opening serial port");
    EXPECT_EQ(e.Device(), pty.Path());
    EXPECT_EQ(e.SysError(), EINVAL);
  }
  EXPECT_FALSE(port.IsOpen());
  port.Open(Settings(100));  // the refusal left the device free
  EXPECT_TRUE(port.IsOpen());
}

// A made-up /sys/class/tty: a built-in UART, an empty UART slot, a USB adapter (product and
// maker two levels up), a USB modem whose product names its maker, and a virtual console.
TEST(TtyListTest, ListsDevicesWithHardwareBehindThem) {
  namespace fs = std::filesystem;
  char rootTemplate[] = "/tmp/tessel-sysfs-XXXXXX";
  ASSERT_NE(::mkdtemp(rootTemplate), nullptr);
  const fs::path root = rootTemplate;
  auto write = [](const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
  };
  auto tty = [&](const std::string& name, const std::string& device) {
    fs::create_directories(root / "class/tty" / name);
    if (!device.empty())
      fs::create_directory_symlink(root / device, root / "class/tty" / name / "device");
  };
  fs::create_directories(root / "devices/platform/serial8250/port0");
  tty("ttyS0", "devices/platform/serial8250/port0");
  write(root / "class/tty/ttyS0/type", "4");
  tty("ttyS1", "devices/platform/serial8250/port0");
  write(root / "class/tty/ttyS1/type", "0");
  write(root / "devices/usb1/1-1/product", "FT232R USB UART");
  write(root / "devices/usb1/1-1/manufacturer", "FTDI");
  fs::create_directories(root / "devices/usb1/1-1/1-1:1.0/ttyUSB0");
  tty("ttyUSB0", "devices/usb1/1-1/1-1:1.0/ttyUSB0");
  write(root / "devices/usb1/1-2/product", "Acme CDC modem");
  write(root / "devices/usb1/1-2/manufacturer", "Acme");
  fs::create_directories(root / "devices/usb1/1-2/1-2:1.0");
  tty("ttyACM0", "devices/usb1/1-2/1-2:1.0");
  tty("tty1", "");

  const std::vector<SerialPortListing> ports = ListTtyPorts((root / "class/tty").string(), "/dev");
  std::vector<std::pair<std::string, std::string>> got;
  for (const SerialPortListing& p : ports) got.emplace_back(p.Path, p.Description);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                     {"/dev/ttyACM0", "Acme CDC modem"},
                     {"/dev/ttyS0", ""},
                     {"/dev/ttyUSB0", "FT232R USB UART (FTDI)"},
                 }));
  EXPECT_TRUE(ListTtyPorts((root / "nothing").string(), "/dev").empty());
  fs::remove_all(root);
}

}  // namespace
}  // namespace tessel
