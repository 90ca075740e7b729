#include "serial/serial_worker.h"

#include <QMetaObject>
#include <algorithm>
#include <cerrno>
#include <climits>

#ifdef Q_OS_UNIX
#include <termios.h>
#include <unistd.h>
#endif

namespace tessel {

namespace {

int ClampMs(uint64_t ms) {
  return static_cast<int>(std::min<uint64_t>(ms, INT_MAX));
}

// Interval "infinite" with no totals: hand over whatever has arrived at once.
bool ReturnsImmediately(const TCommTimeouts& t) {
  return t.ReadIntervalTimeout == UINT32_MAX && t.ReadTotalTimeoutMultiplier == 0 &&
         t.ReadTotalTimeoutConstant == 0;
}

}  // namespace

void SerialLink::PostCommand(SerialCommand command) {
  std::lock_guard lock(mutex);
  PostCommandLocked(std::move(command));
}

void SerialLink::PostCommandLocked(SerialCommand command) {
  const bool wake = commands.empty();
  commands.push_back(std::move(command));
  // Under the lock: the worker clears `worker` under it before it goes away, and the worker's
  // drain takes the lock before Qt frees the wake-up event.
  if (wake && worker) QMetaObject::invokeMethod(worker, "DrainCommands", Qt::QueuedConnection);
}

void SerialLink::PostFrame(std::vector<uint8_t> bytes) {
  std::lock_guard lock(mutex);
#ifdef Q_OS_UNIX
  if (idleFd >= 0 && commands.empty() && !bytes.empty()) {
    // The descriptor is non-blocking: a poll request fits the device's buffer and goes out now.
    const ssize_t n = ::write(idleFd, bytes.data(), bytes.size());
    if (n == static_cast<ssize_t>(bytes.size())) {
      ++framesWritten;
      SerialEvent event;
      event.kind = SerialEvent::Kind::SendDataEmpty;
      event.value = framesWritten;
      PostEventLocked(std::move(event), !quietSendEmpty);
      return;
    }
    // The rest (or all of it, after an error the worker's port will report) for the worker.
    if (n > 0) bytes.erase(bytes.begin(), bytes.begin() + n);
  }
#endif
  SerialCommand command;
  command.kind = SerialCommand::Kind::Frame;
  command.bytes = std::move(bytes);
  PostCommandLocked(std::move(command));
}

void SerialLink::PostEvent(SerialEvent event, bool wakeOwner) {
  std::lock_guard lock(mutex);
  PostEventLocked(std::move(event), wakeOwner);
}

void SerialLink::PostEventLocked(SerialEvent event, bool wakeOwner) {
  if (stopping) return;
  // A wake-up is queued exactly when the queue holds an event that asked for one.
  const bool wake = wakeOwner && !ownerWakePending;
  if (wakeOwner) ownerWakePending = true;
  events.push_back(std::move(event));
  // The owner outlives the worker thread and drains the whole queue on each wake-up. Posting
  // under the lock orders Qt's event object before the owner's drain, which takes the lock
  // too; the thread sanitizer cannot see Qt's own hand-over of that object.
  if (wake) QMetaObject::invokeMethod(owner, "DrainWorkerEvents", Qt::QueuedConnection);
}

void SerialLink::SetPhase(Phase value) {
  // Notified under the lock: once the owner sees the final phase it may destroy the link.
  std::lock_guard lock(mutex);
  phase = value;
  changed.notify_all();
}

std::string ClassifyOpenFailure(const std::string& path, QSerialPort::SerialPortError error,
                                int& sysError) {
  sysError = 0;
  if (const std::optional<SerialOpenFailure> failure = DescribeSerialOpenFailure(path)) {
    sysError = failure->SysError;
    return failure->Message;
  }
  // We may open the terminal ourselves, so QSerialPort was refused by the exclusive lock another
  // program holds on it.
  sysError = error == QSerialPort::DeviceNotFoundError ? ENOENT
             : error == QSerialPort::PermissionError   ? EBUSY
                                                       : EIO;
  return kCommOpenFailed;
}

SerialWorker::SerialWorker(SerialLink& link, QEventLoop* loop)
    : link_(link),
      loop_(loop),
      line_(link.line),
      timeouts_(link.timeouts),
      frameComplete_(link.frameComplete),
      frameQuietMs_(link.frameQuietMs) {
  silence_.setSingleShot(true);
  silence_.setTimerType(Qt::PreciseTimer);
  total_.setSingleShot(true);
  total_.setTimerType(Qt::PreciseTimer);
  connect(&silence_, &QTimer::timeout, this, &SerialWorker::EndChunk);
  connect(&total_, &QTimer::timeout, this, &SerialWorker::EndChunk);
}

SerialWorker::~SerialWorker() {
  ClosePortNow();
}

std::string SerialWorker::Open() {
  port_ = new QSerialPort(this);
  port_->setPortName(QString::fromStdString(link_.devicePath));
  if (!port_->open(QIODevice::ReadWrite)) {
    const QSerialPort::SerialPortError error = port_->error();
    delete port_;
    port_ = nullptr;
    return ClassifyOpenFailure(link_.devicePath, error, openErrno_);
  }
#ifdef Q_OS_UNIX
  if (::isatty(static_cast<int>(port_->handle())) != 1) {
    ClosePortNow();
    return kCommNotCommHandle;
  }
#endif
  if (!port_->clear(QSerialPort::AllDirections)) {
    ClosePortNow();
    return kCommBufferFailed;
  }
  ApplyLineSettings();
  connect(port_, &QSerialPort::readyRead, this, &SerialWorker::OnReadyRead);
  connect(port_, &QSerialPort::bytesWritten, this, &SerialWorker::OnBytesWritten);
  connect(port_, &QSerialPort::errorOccurred, this, &SerialWorker::OnError);
  return {};
}

void SerialWorker::DrainCommands() {
  std::deque<SerialCommand> batch;
  {
    std::lock_guard lock(link_.mutex);
    batch.swap(link_.commands);
    link_.idleFd = -1;  // the owner must not write ahead of this batch
  }
  for (SerialCommand& command : batch) {
    if (stopped_) return;
    switch (command.kind) {
      case SerialCommand::Kind::Frame:
        // A frame for a port that failed is dropped; the owner has the hang-up by now or soon.
        if (port_ && !faulted_) {
          WriteFrame(command.bytes);
          reportEmpty_ = true;
        }
        {
          std::lock_guard lock(link_.mutex);
          ++link_.framesWritten;
        }
        break;
      case SerialCommand::Kind::LineSettings:
        line_ = command.line;
        if (port_ && !faulted_) ApplyLineSettings();
        break;
      case SerialCommand::Kind::Timeouts:
        // Takes effect from the next byte; a running silence timer keeps its old length.
        timeouts_ = command.timeouts;
        break;
      case SerialCommand::Kind::Stop:
        stopped_ = true;
        ClosePortNow();
        if (loop_) loop_->quit();
        return;
    }
  }
  ReportEmptyIfDone();
  UpdateIdleFd();
}

void SerialWorker::UpdateIdleFd() {
  std::lock_guard lock(link_.mutex);
#ifdef Q_OS_UNIX
  const bool idle = port_ && !faulted_ && !stopped_ && port_->bytesToWrite() == 0;
  link_.idleFd = idle ? static_cast<int>(port_->handle()) : -1;
#endif
}

void SerialWorker::WriteFrame(const std::vector<uint8_t>& frame) {
  const auto* data = reinterpret_cast<const char*>(frame.data());
  const auto size = static_cast<qint64>(frame.size());
  qint64 done = 0;
  // A poll request fits the device's buffer: when nothing is queued before it, hand it to the
  // device now instead of on a write notification of its own. What does not fit (or an error,
  // which the port then reports itself) goes through the port's queue, behind nothing.
#ifdef Q_OS_UNIX
  if (port_->bytesToWrite() == 0) {
    const ssize_t n = ::write(static_cast<int>(port_->handle()), data, static_cast<size_t>(size));
    if (n > 0) done = n;
  }
#endif
  if (done < size) port_->write(data + done, size - done);
}

void SerialWorker::OnReadyRead() {
  if (!port_ || faulted_ || stopped_) return;
  const QByteArray data = port_->readAll();
  for (char c : data) {
    if (line_.IgnoreNullChar && c == 0) continue;
    if (chunk_.empty()) {
      const uint64_t total = uint64_t{timeouts_.ReadTotalTimeoutMultiplier} * kCommChunkSize +
                             timeouts_.ReadTotalTimeoutConstant;
      if (total > 0) total_.start(ClampMs(total));
    }
    chunk_.push_back(static_cast<uint8_t>(c));
    if (chunk_.size() == kCommChunkSize) EndChunk();
  }
  if (chunk_.empty()) return;
  if (ReturnsImmediately(timeouts_)) {
    EndChunk();
  } else if (timeouts_.ReadIntervalTimeout > 0) {
    // One whole frame: a short quiet time shows that nothing trails it. Anything else waits for
    // the full interval, so a frame with a pause inside still arrives as one chunk.
    uint32_t wait = timeouts_.ReadIntervalTimeout;
    if (frameComplete_ && frameComplete_(chunk_.data(), chunk_.size()))
      wait = std::min(wait, frameQuietMs_);
    silence_.start(ClampMs(wait));
  }
}

void SerialWorker::EndChunk() {
  silence_.stop();
  total_.stop();
  if (chunk_.empty()) return;
  SerialEvent event;
  event.kind = SerialEvent::Kind::Data;
  event.bytes = std::move(chunk_);
  event.bytes.push_back(0);
  chunk_.clear();
  link_.PostEvent(std::move(event));
}

void SerialWorker::OnBytesWritten() {
  ReportEmptyIfDone();
  UpdateIdleFd();
}

void SerialWorker::ReportEmptyIfDone() {
  if (!reportEmpty_ || !port_ || port_->bytesToWrite() > 0) return;
  {
    // More commands waiting means a wake-up is queued; report once those frames are out.
    std::lock_guard lock(link_.mutex);
    if (!link_.commands.empty()) return;
  }
  reportEmpty_ = false;
  uint64_t written;
  {
    std::lock_guard lock(link_.mutex);
    written = link_.framesWritten;
  }
  SerialEvent event;
  event.kind = SerialEvent::Kind::SendDataEmpty;
  event.value = written;
  link_.PostEvent(std::move(event), !link_.quietSendEmpty);
}

void SerialWorker::OnError(QSerialPort::SerialPortError error) {
  // Only a failing device is fatal; refused settings (DTR on a pseudo-terminal) are not.
  if (error != QSerialPort::ReadError && error != QSerialPort::WriteError &&
      error != QSerialPort::ResourceError) {
    return;
  }
  if (faulted_ || stopped_) return;
  faulted_ = true;
  UpdateIdleFd();
  // QSerialPort repeats the error for as long as the descriptor stays open, but it must not be
  // closed from inside its own notification.
  QMetaObject::invokeMethod(this, &SerialWorker::HandleFault, Qt::QueuedConnection);
}

void SerialWorker::HandleFault() {
  if (stopped_) return;
  EndChunk();  // what arrived before the failure still counts
  ClosePortNow();
  SerialEvent event;
  event.kind = SerialEvent::Kind::Hangup;
  link_.PostEvent(std::move(event));
}

void SerialWorker::ClosePortNow() {
  silence_.stop();
  total_.stop();
  chunk_.clear();
  if (!port_) return;
  {
    // No direct write from the owner can be under way or start once this is cleared.
    std::lock_guard lock(link_.mutex);
    link_.idleFd = -1;
  }
  port_->disconnect(this);
  // Discarding pending output first keeps close() from waiting for a stalled line to drain.
  port_->clear(QSerialPort::AllDirections);
  port_->close();
  delete port_;
  port_ = nullptr;
}

void SerialWorker::ApplyLineSettings() {
  const TCommLineSettings& s = line_;
  port_->setBaudRate(static_cast<qint32>(std::min<uint32_t>(s.BaudRate, INT32_MAX)));
  port_->setDataBits(static_cast<QSerialPort::DataBits>(5 + static_cast<int>(s.ByteSize)));
  switch (s.Parity) {
    case TParity::None:
      port_->setParity(QSerialPort::NoParity);
      break;
    case TParity::Odd:
      port_->setParity(QSerialPort::OddParity);
      break;
    case TParity::Even:
      port_->setParity(QSerialPort::EvenParity);
      break;
    case TParity::Mark:
      port_->setParity(QSerialPort::MarkParity);
      break;
    case TParity::Space:
      port_->setParity(QSerialPort::SpaceParity);
      break;
  }
  switch (s.StopBits) {
    case TStopBits::_1:
      port_->setStopBits(QSerialPort::OneStop);
      break;
#ifdef Q_OS_WIN
    case TStopBits::_1_5:
      port_->setStopBits(QSerialPort::OneAndHalfStop);
      break;
#else
    // No one-and-a-half setting here; a UART sends 1.5 for "two" with 5 data bits.
    case TStopBits::_1_5:
      port_->setStopBits(QSerialPort::TwoStop);
      break;
#endif
    case TStopBits::_2:
      port_->setStopBits(QSerialPort::TwoStop);
      break;
  }
  const bool hardwareFlow = s.Outx_CtsFlow || s.RtsControl == TRtsControl::RtsHandshake;
  const bool softwareFlow = s.Outx_XonXoffFlow || s.Inx_XonXoffFlow;
  port_->setFlowControl(hardwareFlow   ? QSerialPort::HardwareControl
                        : softwareFlow ? QSerialPort::SoftwareControl
                                       : QSerialPort::NoFlowControl);
  // DTR handshake has no counterpart here: the line is simply kept on.
  port_->setDataTerminalReady(s.DtrControl != TDtrControl::DtrDisable);
  // RTS cannot be set by hand under hardware flow control; "on while sending" is kept on.
  if (!hardwareFlow) port_->setRequestToSend(s.RtsControl != TRtsControl::RtsDisable);
#ifdef Q_OS_UNIX
  // What QSerialPort has no setter for: the two XON/XOFF directions separately, their
  // characters, and parity checking apart from the parity scheme.
  const int fd = static_cast<int>(port_->handle());
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    auto setFlag = [](tcflag_t& flags, tcflag_t bit, bool on) {
      flags = on ? (flags | bit) : (flags & ~bit);
    };
    setFlag(tio.c_iflag, INPCK, s.ParityCheck);
    // Bytes with errors read as 0 when replaced, and are dropped otherwise.
    setFlag(tio.c_iflag, IGNPAR, !s.ReplaceWhenParityError);
    setFlag(tio.c_iflag, PARMRK, false);
    setFlag(tio.c_iflag, IXON, s.Outx_XonXoffFlow);
    setFlag(tio.c_iflag, IXOFF, s.Inx_XonXoffFlow);
    setFlag(tio.c_iflag, IXANY, false);
    tio.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
#endif
  // Refused settings are ignored, as documented for the component.
  port_->clearError();
}

void RunSerialWorker(std::shared_ptr<SerialLink> link) {
  {
    // A plain thread gets its Qt event dispatcher with its first event loop; create the loop
    // before any timer or notifier.
    QEventLoop loop;
    SerialWorker worker(*link, &loop);
    const std::string error = worker.Open();
    if (!error.empty()) {
      {
        std::lock_guard lock(link->mutex);
        link->openError = error;
        link->openErrno = worker.OpenErrno();
      }
      link->SetPhase(SerialLink::Phase::OpenFailed);
    } else {
      {
        std::lock_guard lock(link->mutex);
        link->worker = &worker;
        if (!link->commands.empty()) {
          QMetaObject::invokeMethod(&worker, "DrainCommands", Qt::QueuedConnection);
        }
      }
      worker.UpdateIdleFd();
      link->SetPhase(SerialLink::Phase::Running);
      loop.exec();
      std::lock_guard lock(link->mutex);
      link->worker = nullptr;
    }
  }
  link->SetPhase(SerialLink::Phase::Finished);
}

}  // namespace tessel
