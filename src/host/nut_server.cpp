#include "host/nut_server.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

#include "host/host.h"

namespace tessel {

struct NutServer::Client {
  QTcpSocket* socket = nullptr;
  QTimer idle;
  QByteArray pending;  // received bytes of a line not yet complete
  NutSession session;
};

NutServer::NutServer(Host& host, QObject* parent) : QObject(parent), host_(host) {}

NutServer::~NutServer() {
  Close();
}

std::string NutServer::Listen(const NutServerConfig& config, NutUsers users) {
  Close();
  config_ = config;
  QHostAddress address;
  if (!address.setAddress(QString::fromStdString(config.Listen)))
    return "not an IP address: " + config.Listen;
  protocol_ = std::make_unique<NutProtocol>(host_.Ctx(), std::move(users));
  protocol_->SetLineOpen(host_.PortIsOpen());
  protocol_->SetConfiguredModel(config.ModelCode);
  server_ = new QTcpServer(this);
  server_->setMaxPendingConnections(config.MaxClients);
  connect(server_, &QTcpServer::newConnection, this, &NutServer::Accept);
  if (!server_->listen(address, static_cast<quint16>(config.Port))) {
    const std::string error = server_->errorString().toStdString();
    delete server_;
    server_ = nullptr;
    return error;
  }
  connect(&host_, &Host::portStateChanged, this, [this](bool open) {
    if (protocol_) protocol_->SetLineOpen(open);
  });
  return "";
}

void NutServer::Close() {
  while (!clients_.empty()) Drop(clients_.back().get());
  if (server_) {
    server_->close();
    delete server_;
    server_ = nullptr;
  }
  QObject::disconnect(&host_, nullptr, this, nullptr);
}

bool NutServer::Listening() const {
  return server_ && server_->isListening();
}

quint16 NutServer::Port() const {
  return server_ ? server_->serverPort() : 0;
}

void NutServer::Accept() {
  while (QTcpSocket* socket = server_->nextPendingConnection()) {
    if (static_cast<int>(clients_.size()) >= config_.MaxClients) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    auto c = std::make_unique<Client>();
    Client* raw = c.get();
    c->socket = socket;
    c->session.Peer = socket->peerAddress().toString().toStdString();
    c->idle.setSingleShot(true);
    c->idle.setInterval(config_.IdleSeconds * 1000);
    connect(&c->idle, &QTimer::timeout, this, [this, raw] { Drop(raw); });
    connect(socket, &QTcpSocket::readyRead, this, [this, raw] { Read(raw); });
    connect(socket, &QTcpSocket::disconnected, this, [this, raw] { Drop(raw); });
    c->idle.start();
    clients_.push_back(std::move(c));
  }
}

void NutServer::Read(Client* c) {
  c->idle.start();
  c->pending += c->socket->readAll();
  std::string replies;
  bool close = false;
  host_.CatchUp();
  while (!close) {
    const qsizetype nl = c->pending.indexOf('\n');
    if (nl < 0) {
      // A line that cannot end within the bound is refused before it is read to its end.
      if (c->pending.size() > static_cast<qsizetype>(kNutMaxLine)) {
        replies += protocol_->Handle(c->session, std::string(kNutMaxLine + 1, 'x'));
        close = true;
      }
      break;
    }
    QByteArray line = c->pending.left(nl);
    c->pending.remove(0, nl + 1);
    if (line.endsWith('\r')) line.chop(1);
    replies += protocol_->Handle(c->session, std::string_view(line.constData(), line.size()));
    close = c->session.Close;
  }
  host_.Rearm();
  if (!replies.empty()) c->socket->write(replies.data(), static_cast<qint64>(replies.size()));
  // A client that sends without reading what comes back would have the replies pile up here.
  if (c->socket->bytesToWrite() > kMaxUnsentBytes) {
    Drop(c);
    return;
  }
  if (close) c->socket->disconnectFromHost();  // after the reply is out; may drop c at once
}

void NutServer::Drop(Client* c) {
  auto it = std::find_if(clients_.begin(), clients_.end(),
                         [c](const std::unique_ptr<Client>& p) { return p.get() == c; });
  if (it == clients_.end()) return;
  std::unique_ptr<Client> gone = std::move(*it);
  clients_.erase(it);
  if (protocol_) protocol_->Forget(gone->session);
  gone->idle.stop();
  QObject::disconnect(gone->socket, nullptr, this, nullptr);
  gone->socket->abort();
  gone->socket->deleteLater();
}

}  // namespace tessel
