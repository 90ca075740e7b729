#include "host/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

namespace tessel {

namespace {
constexpr int kConnectWaitMs = 1000;
// How long a second copy keeps asking a first copy that holds the lock but has not opened its
// socket yet (they were started at the same moment).
constexpr int kTellForMs = 3000;
const char kActivate[] = "activate\n";
}  // namespace

SingleInstance::SingleInstance(const QString& home, QObject* parent) : QObject(parent) {
  QFileInfo info(home);
  QString canonical = info.canonicalFilePath();
  if (canonical.isEmpty()) canonical = QDir::cleanPath(info.absoluteFilePath());
  home_ = canonical;
  const QByteArray hash =
      QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
  key_ = QStringLiteral("tessel-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
  if (lock_) lock_->unlock();
}

bool SingleInstance::TellRunningCopy(int waitMs) {
  const QDeadlineTimer deadline(waitMs);
  do {
    QLocalSocket socket;
    socket.connectToServer(key_);
    if (socket.waitForConnected(kConnectWaitMs)) {
      socket.write(kActivate);
      socket.waitForBytesWritten(kConnectWaitMs);
      socket.disconnectFromServer();
      return true;
    }
    QThread::msleep(50);
  } while (!deadline.hasExpired());
  return false;
}

bool SingleInstance::TakeLock(const QString& path, bool& held) {
  auto lock = std::make_unique<QLockFile>(path);
  lock->setStaleLockTime(0);  // stale only when its process is gone, never by age
  lockPath_ = path;
  held = false;
  if (!lock->tryLock(0)) {
    held = lock->error() == QLockFile::LockFailedError;
    return false;
  }
  lock_ = std::move(lock);
  return true;
}

bool SingleInstance::Claim() {
  if (lock_) return true;
  QDir().mkpath(home_);
  bool held = false;
  // When the program folder cannot hold a lock file (read-only, not ours), one in the temporary
  // folder, named by the key, serves the same purpose.
  if (!TakeLock(QDir(home_).filePath(QString::fromLatin1(kLockFileName)), held) && !held)
    TakeLock(QDir(QDir::tempPath()).filePath(key_ + ".lock"), held);
  if (!lock_ && held) {
    // A live copy holds it: ask it to come to the front (it may still be starting up).
    TellRunningCopy(kTellForMs);
    return false;
  }
  // (With neither lock to be had the copy runs unguarded rather than not at all.)

  // Only the lock's holder gets here: a socket left by a copy that crashed is nobody's.
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(key_)) {
    QLocalServer::removeServer(key_);
    server_->listen(key_);
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* s = server_->nextPendingConnection()) {
      connect(s, &QLocalSocket::readyRead, this, [this, s] {
        if (s->readAll().contains("activate") && OnActivate) OnActivate();
      });
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
    }
  });
  return true;
}

}  // namespace tessel
