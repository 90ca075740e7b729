#include "host/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

namespace tessel {

namespace {
constexpr int kConnectWaitMs = 1000;
const char kActivate[] = "activate\n";
}  // namespace

SingleInstance::SingleInstance(const QString& home, QObject* parent) : QObject(parent) {
  QFileInfo info(home);
  QString canonical = info.canonicalFilePath();
  if (canonical.isEmpty()) canonical = QDir::cleanPath(info.absoluteFilePath());
  const QByteArray hash =
      QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
  key_ = QStringLiteral("tessel-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::TellRunningCopy() {
  QLocalSocket socket;
  socket.connectToServer(key_);
  if (!socket.waitForConnected(kConnectWaitMs)) return false;
  socket.write(kActivate);
  socket.waitForBytesWritten(kConnectWaitMs);
  socket.disconnectFromServer();
  return true;
}

bool SingleInstance::Claim() {
  if (TellRunningCopy()) return false;
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(key_)) {
    // A copy that crashed leaves its socket behind; nobody answered on it, so take it over.
    QLocalServer::removeServer(key_);
    if (!server_->listen(key_)) {
      // Another copy won the race between our check and our listen.
      if (TellRunningCopy()) return false;
    }
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
