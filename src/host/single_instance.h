// One running copy per program folder and user. A second copy with the same folder asks the
// first to come to the front and ends; copies with different folders run side by side.
//
// The claim is a lock file in the program folder (QLockFile): taken atomically, held for the
// life of the process and stale only once that process is gone, so two copies started at the
// same moment can never both run. A local socket, opened only by the lock's holder, carries the
// requests to come to the front.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

namespace tessel {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // The lock file's name in the program folder.
  static constexpr const char* kLockFileName = "tessel.lock";

  // home: the program folder (any spelling of the same folder gives the same key).
  explicit SingleInstance(const QString& home, QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when this is the first copy: it then holds the lock and listens for activation requests.
  // False when another copy runs; that copy has been asked to come to the front.
  bool Claim();

  // Raised in the first copy when a second copy asked it to come to the front.
  std::function<void()> OnActivate;

  const QString& Key() const { return key_; }
  // The lock file used (in the program folder, or in the temporary folder when the program
  // folder cannot hold one).
  const QString& LockPath() const { return lockPath_; }

 private:
  bool TellRunningCopy(int waitMs);
  // False when not taken; held then says whether a live process holds it.
  bool TakeLock(const QString& path, bool& held);
  QString key_;
  QString home_;
  QString lockPath_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
};

}  // namespace tessel
