#include "host/headless.h"

#include <QCoreApplication>

namespace tessel {

HeadlessMonitor::HeadlessMonitor(const ProgramPaths& paths, std::FILE* out)
    : out_(out), host_(paths) {
  connect(&host_, &Host::eventAppended, this,
          [this](const TEventRec& rec) { Print(EventLine(rec, host_.Ctx().settings.Language)); });
  connect(&host_, &Host::portOpenTried, this, &HeadlessMonitor::ReportPort);
  connect(&host_, &Host::portRetried, this, &HeadlessMonitor::ReportPort);
  connect(&host_, &Host::portFailed, this, [this](const QString& name) {
    Print("Serial port " + name.toStdString() + " failed; reopening every 10 s");
  });
  connect(&host_, &Host::nutServerReported, this,
          [this](const QString& message) { Print(message.toStdString()); });
  connect(&host_, &Host::stopRequested, this, &HeadlessMonitor::Stop);
}

void HeadlessMonitor::Print(const std::string& line) {
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void HeadlessMonitor::Start() {
  host_.CatchStopSignals();
  host_.Start();
}

int HeadlessMonitor::Run() {
  Start();
  return QCoreApplication::exec();
}

void HeadlessMonitor::ReportPort(const QString& error) {
  if (error.isEmpty()) {
    Print(PortStatusText(host_.Ctx().settings));
    return;
  }
  // A ComName that names no port already comes back as the general text; say it once.
  const std::string text = PortOpenErrorText(host_.Ctx().settings.Language);
  const std::string reason = error.toStdString();
  if (reason == text) {
    Print(text);
  } else {
    // The port's fixed text first, then the device, the system's reason and the advice.
    std::string indented = "  ";
    for (char c : reason) indented += c == '\n' ? std::string("\n  ") : std::string(1, c);
    Print(text + "\n" + indented);
  }
  host_.RetryPortLater();
}

void HeadlessMonitor::Stop() {
  host_.Stop();
  QCoreApplication::quit();
}

}  // namespace tessel
