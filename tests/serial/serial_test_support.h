// Test support for the serial port: a fixture with a TComm on the near end of a pseudo-terminal
// (pty_support.h) and waits that pump the Qt event loop with an upper bound.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pty_support.h"
#include "serial/serial_port.h"

namespace tessel::testing_support {

// The component needs an application object on the thread that owns it (the test's thread).
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { app_ = std::make_unique<QCoreApplication>(argc_, argv_); }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[20] = "tessel_serial_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QCoreApplication> app_;
};
inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Pumps the owner's event loop until `done` holds or `limit` passes; true when it holds.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer tick;
  tick.start(10);
  while (!done()) {
    if (elapsed.elapsed() > limit.count()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// A TComm on a fresh pseudo-terminal, set up the way the communication master uses it; the
// parameter says whether its worker runs on a thread of its own.
class SerialTest : public ::testing::TestWithParam<bool> {
 protected:
  SerialTest() {
    comm.SetWorkerThread(GetParam());
    comm.SetCommName(pty.Path());
    comm.SetOutx_XonXoffFlow(false);
    comm.SetInx_XonXoffFlow(false);
    comm.SetReadIntervalTimeout(200);
    comm.OnReceiveData = [this](const uint8_t* buffer, uint16_t length) {
      chunks.emplace_back(buffer, buffer + length);
      trailingZeroes += buffer[length] == 0 ? 1 : 0;
    };
    comm.OnSendDataEmpty = [this] { ++sendEmptyEvents; };
    comm.OnRequestHangup = [this] { ++hangupEvents; };
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
  // Returns once the worker has handled every command queued before: a frame sent now has
  // reached the far end.
  void SyncWithWorker() {
    const uint8_t marker = 0x5A;
    ASSERT_TRUE(comm.SendData(&marker, 1));
    Bytes seen;
    ASSERT_TRUE(WaitUntil([&] {
      pty.ReadInto(seen);
      return !seen.empty() && seen.back() == marker;
    }));
  }

  Pty pty;
  TComm comm;
  std::vector<Bytes> chunks;
  int trailingZeroes = 0;
  int sendEmptyEvents = 0;
  int hangupEvents = 0;
};

}  // namespace tessel::testing_support
