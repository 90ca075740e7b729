#include "serial/serial_port.h"

#include <QDebug>
#include <chrono>
#include <system_error>

#include "serial/serial_worker.h"

namespace tessel {

namespace {

// How long ClosePort waits for the worker; it never blocks, so this only guards against a
// device driver that hangs in close().
constexpr auto kStopWait = std::chrono::seconds(10);

}  // namespace

TComm::TComm(QObject* parent) : QObject(parent) {}

TComm::~TComm() {
  if (link_) StopWorker();
}

void TComm::OpenPort() {
  if (link_) throw ECommsError(kCommAlreadyOpen);

  auto link = std::make_shared<SerialLink>();
  link->devicePath = DevicePath(commName_);
  link->line = line_;
  link->timeouts = timeouts_;
  link->frameComplete = frameComplete_;
  link->frameQuietMs = frameQuietMs_;
  link->owner = this;
  link->quietSendEmpty = !OnSendDataEmpty;

  if (!ownThread_) {
    OpenOnThisThread(std::move(link));
    return;
  }

  std::thread thread;
  try {
    thread = std::thread(RunSerialWorker, link);
  } catch (const std::system_error&) {
    throw ECommsError(kCommReadThreadFailed);
  }

  std::string error;
  int sysError = 0;
  {
    std::unique_lock lock(link->mutex);
    link->changed.wait(lock, [&] { return link->phase != SerialLink::Phase::Starting; });
    if (link->phase != SerialLink::Phase::Running) {
      link->changed.wait(lock, [&] { return link->phase == SerialLink::Phase::Finished; });
      error = link->openError;
      sysError = link->openErrno;
    }
  }
  if (!error.empty()) {
    thread.join();
    throw ECommsError(error, link->devicePath, sysError);
  }

  link_ = std::move(link);
  thread_ = std::move(thread);
  hungUp_ = false;
  sendQueueEmpty_ = true;
  framesQueued_ = 0;
}

void TComm::OpenOnThisThread(std::shared_ptr<SerialLink> link) {
  auto worker = std::make_unique<SerialWorker>(*link, nullptr);
  const std::string error = worker->Open();
  if (!error.empty()) throw ECommsError(error, link->devicePath, worker->OpenErrno());
  {
    std::lock_guard lock(link->mutex);
    link->worker = worker.get();
    link->phase = SerialLink::Phase::Running;
  }
  worker->UpdateIdleFd();
  link_ = std::move(link);
  ownerWorker_ = std::move(worker);
  hungUp_ = false;
  sendQueueEmpty_ = true;
  framesQueued_ = 0;
}

void TComm::ClosePort() {
  if (link_) StopWorker();
}

void TComm::StopWorker() {
  std::shared_ptr<SerialLink> link = std::move(link_);
  link_.reset();
  std::thread thread = std::move(thread_);
  hungUp_ = false;
  sendQueueEmpty_ = true;

  {
    std::lock_guard lock(link->mutex);
    link->stopping = true;
    link->events.clear();
  }
  if (ownerWorker_) {
    {
      std::lock_guard lock(link->mutex);
      link->worker = nullptr;
    }
    // Its destructor closes the device; Qt drops the calls still queued for it.
    ownerWorker_.reset();
    link->SetPhase(SerialLink::Phase::Finished);
    return;
  }
  SerialCommand stop;
  stop.kind = SerialCommand::Kind::Stop;
  link->PostCommand(std::move(stop));

  bool finished;
  {
    std::unique_lock lock(link->mutex);
    finished = link->changed.wait_for(lock, kStopWait,
                                      [&] { return link->phase == SerialLink::Phase::Finished; });
  }
  if (finished) {
    thread.join();
  } else {
    // Leave a stuck thread to end on its own; it holds its own reference to the link.
    qWarning("TComm: the serial worker did not stop in time");
    thread.detach();
  }
}

bool TComm::SendData(const void* buffer, uint16_t length) {
  if (!link_ || hungUp_ || length == 0 || buffer == nullptr) return false;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  link_->PostFrame(std::vector<uint8_t>(bytes, bytes + length));
  ++framesQueued_;
  sendQueueEmpty_ = false;
  return true;
}

void TComm::ApplyLineSettings() {
  if (!link_) return;
  SerialCommand command;
  command.kind = SerialCommand::Kind::LineSettings;
  command.line = line_;
  link_->PostCommand(std::move(command));
}

void TComm::ApplyTimeouts() {
  if (!link_) return;
  SerialCommand command;
  command.kind = SerialCommand::Kind::Timeouts;
  command.timeouts = timeouts_;
  link_->PostCommand(std::move(command));
}

void TComm::DrainWorkerEvents() {
  const std::shared_ptr<SerialLink> link = link_;
  if (!link) return;
  std::deque<SerialEvent> batch;
  {
    std::lock_guard lock(link->mutex);
    batch.swap(link->events);
    link->ownerWakePending = false;
  }
  for (SerialEvent& event : batch) {
    // A handler may have closed (and reopened) the port: the rest belongs to the old session.
    if (link_ != link) return;
    switch (event.kind) {
      case SerialEvent::Kind::Data:
        if (auto handler = OnReceiveData) {
          handler(event.bytes.data(), static_cast<uint16_t>(event.bytes.size() - 1));
        }
        break;
      case SerialEvent::Kind::SendDataEmpty:
        sendQueueEmpty_ = event.value == framesQueued_;
        if (auto handler = OnSendDataEmpty) handler();
        break;
      case SerialEvent::Kind::Hangup:
        hungUp_ = true;
        if (auto handler = OnRequestHangup) handler();
        break;
      case SerialEvent::Kind::ReceiveError:
        if (auto handler = OnReceiveError) handler(static_cast<uint32_t>(event.value));
        break;
      case SerialEvent::Kind::ModemStateChange:
        if (auto handler = OnModemStateChange) handler(static_cast<uint32_t>(event.value));
        break;
    }
  }
}

}  // namespace tessel
