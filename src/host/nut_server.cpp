#include "host/nut_server.h"

#include <sys/socket.h>

#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "host/host.h"
#include "log/event_log.h"

namespace tessel {

namespace {

constexpr size_t kMaxFailureRecords = 4096;

std::string Seconds(qint64 ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f s", static_cast<double>(ms) / 1000.0);
  return buf;
}

}  // namespace

struct NutServer::Client {
  QTcpSocket* socket = nullptr;
  QTimer idle;
  QTimer hold;       // runs while a reply to a wrong password waits
  std::string held;  // that reply
  bool heldClose = false;
  QByteArray pending;  // received bytes of a line not yet complete
  NutSession session;
};

NutServer::NutServer(Host& host, QObject* parent) : QObject(parent), host_(host) {
  clock_.start();
}

NutServer::~NutServer() {
  Close();
}

std::string NutServer::ListenOn(const QHostAddress& address, quint16 port) {
  auto* server = new QTcpServer(this);
  server->setMaxPendingConnections(config_.MaxClients);
  connect(server, &QTcpServer::newConnection, this, &NutServer::Accept);
  if (!server->listen(address, port)) {
    const std::string error = server->errorString().toStdString();
    delete server;
    return error;
  }
  servers_.push_back(server);
  return "";
}

std::string NutServer::Listen(const NutServerConfig& config, NutUsers users) {
  Close();
  config_ = config;
  const std::vector<std::string> entries = SplitNutListen(config.Listen);
  if (entries.empty()) return "no address to listen on";
  protocol_.reset();  // its hook in the command requests goes before the new one's comes
  protocol_ = std::make_unique<NutProtocol>(host_.Ctx(), std::move(users));
  protocol_->SetLineOpen(host_.PortIsOpen());
  protocol_->SetConfiguredModel(config.ModelCode);
  protocol_->OnAudit = [this](const std::string& line) { Audit(line); };
  protocol_->OnUnitEvent = [this](int addr, int code) {
    host_.Core().EventLog().LogNetworkRequest(code, static_cast<uint8_t>(addr));
  };
  // With port 0 the first address picks a free port and the others take the same.
  auto port = static_cast<quint16>(config.Port);
  std::vector<QHostAddress> done;
  std::string error;
  for (const std::string& entry : entries) {
    QHostAddress address;
    std::vector<QHostAddress> addresses;
    const bool numeric = address.setAddress(QString::fromStdString(entry));
    if (numeric) {
      addresses.push_back(address);
    } else {
      const QHostInfo info = QHostInfo::fromName(QString::fromStdString(entry));
      for (const QHostAddress& a : info.addresses()) addresses.push_back(a);
      if (addresses.empty()) {
        error = "cannot resolve " + entry;
        break;
      }
    }
    // A numeric address must be served; of a name's addresses, one is enough (localhost has an
    // IPv6 address also where IPv6 is switched off).
    std::string firstError;
    int bound = 0;
    for (const QHostAddress& a : addresses) {
      if (std::find(done.begin(), done.end(), a) != done.end()) {
        ++bound;
        continue;
      }
      const std::string e = ListenOn(a, port);
      if (e.empty()) {
        done.push_back(a);
        if (port == 0) port = servers_.back()->serverPort();
        ++bound;
      } else if (firstError.empty()) {
        firstError = a.toString().toStdString() + ": " + e;
      }
    }
    if (bound == 0 || (numeric && !firstError.empty())) {
      error = firstError;
      break;
    }
  }
  if (!error.empty()) {
    Close();
    return error;
  }
  connect(&host_, &Host::portStateChanged, this, [this](bool open) {
    if (protocol_) protocol_->SetLineOpen(open);
  });
  return "";
}

void NutServer::Close() {
  while (!clients_.empty()) Drop(clients_.back().get());
  for (QTcpServer* s : servers_) {
    s->close();
    delete s;
  }
  servers_.clear();
  QObject::disconnect(&host_, nullptr, this, nullptr);
}

bool NutServer::Listening() const {
  return !servers_.empty() && servers_.front()->isListening();
}

quint16 NutServer::Port() const {
  return servers_.empty() ? 0 : servers_.front()->serverPort();
}

std::string NutServer::Where() const {
  std::string out;
  for (const QTcpServer* s : servers_) {
    const QHostAddress a = s->serverAddress();
    const std::string host = a.toString().toStdString();
    out += (out.empty() ? "" : ", ") +
           (a.protocol() == QAbstractSocket::IPv6Protocol ? "[" + host + "]" : host) + ":" +
           std::to_string(s->serverPort());
  }
  return out;
}

void NutServer::Audit(const std::string& line) const {
  if (audit_) {
    audit_(line);
    return;
  }
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void NutServer::ReapGone() {
  std::vector<Client*> gone;
  for (const auto& c : clients_) {
    const qintptr fd = c->socket->socketDescriptor();
    if (fd < 0) {
      gone.push_back(c.get());
      continue;
    }
    // Nothing left to read and the end of the stream next: the client has closed its side, and
    // every line it sent was answered when it was read.
    char b;
    const ssize_t n = ::recv(static_cast<int>(fd), &b, 1, MSG_PEEK | MSG_DONTWAIT);
    if (c->socket->bytesAvailable() == 0 && !c->hold.isActive() &&
        (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)))
      gone.push_back(c.get());
  }
  for (Client* c : gone) Drop(c, false);
}

void NutServer::Accept() {
  for (QTcpServer* server : servers_) {
    while (QTcpSocket* socket = server->nextPendingConnection()) {
      if (static_cast<int>(clients_.size()) >= config_.MaxClients) ReapGone();
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
      c->hold.setSingleShot(true);
      connect(&c->idle, &QTimer::timeout, this, [this, raw] { Drop(raw); });
      connect(&c->hold, &QTimer::timeout, this, [this, raw] { Release(raw); });
      connect(socket, &QTcpSocket::readyRead, this, [this, raw] { Read(raw); });
      connect(socket, &QTcpSocket::disconnected, this, [this, raw] { Drop(raw, false); });
      c->idle.start();
      clients_.push_back(std::move(c));
    }
  }
}

void NutServer::Read(Client* c) {
  c->idle.start();
  c->pending += c->socket->readAll();
  Process(c);
}

void NutServer::Process(Client* c) {
  if (c->hold.isActive()) return;  // the rest waits behind the held reply
  std::string replies;
  bool close = false;
  host_.CatchUp();
  while (!close) {
    const qsizetype nl = c->pending.indexOf('\n');
    std::string reply;
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
    reply = protocol_->Handle(c->session, std::string_view(line.constData(), line.size()));
    close = c->session.Close;
    if (c->session.AuthFailed) {
      c->held = std::move(reply);
      c->heldClose = close;
      c->hold.start(FailureDelay(c->session.Peer));
      close = false;
      break;
    }
    replies += reply;
  }
  host_.Rearm();
  if (!replies.empty()) {
    c->socket->write(replies.data(), static_cast<qint64>(replies.size()));
    // Into the system's buffer now: a client that has stopped sending is closed by Qt as soon as
    // the end of its stream is read, and what was still queued here would be lost.
    c->socket->flush();
  }
  // A client that sends without reading what comes back would have the replies pile up here.
  if (c->socket->bytesToWrite() > kMaxUnsentBytes) {
    Drop(c);
    return;
  }
  if (close) Drop(c, false);  // after the reply is out
}

void NutServer::Release(Client* c) {
  c->socket->write(c->held.data(), static_cast<qint64>(c->held.size()));
  c->socket->flush();
  c->held.clear();
  if (c->heldClose) {
    Drop(c, false);
    return;
  }
  Process(c);
}

int NutServer::FailureDelay(const std::string& peer) {
  const qint64 now = clock_.elapsed();
  if (failures_.size() >= kMaxFailureRecords) {
    for (auto it = failures_.begin(); it != failures_.end();)
      it = now - it->second.last > kForgetMs ? failures_.erase(it) : std::next(it);
    if (failures_.size() >= kMaxFailureRecords) failures_.erase(failures_.begin());
  }
  Failures& f = failures_[peer];
  if (f.count > 0 && now - f.last > kForgetMs) f = Failures{};
  ++f.count;
  f.last = now;
  const qint64 delay = std::min<qint64>(
      static_cast<qint64>(kFirstDelayMs) << std::min(f.count - 1, 20), kMaxDelayMs);
  const qint64 release = std::min(std::max(now, f.nextFree) + delay, now + kMaxHoldMs);
  f.nextFree = release;
  Audit("NUT: wrong password number " + std::to_string(f.count) + " from " + peer +
        "; the reply waits " + Seconds(release - now));
  return static_cast<int>(release - now);
}

void NutServer::Drop(Client* c, bool abort) {
  auto it = std::find_if(clients_.begin(), clients_.end(),
                         [c](const std::unique_ptr<Client>& p) { return p.get() == c; });
  if (it == clients_.end()) return;
  // The slot is free from here on, even while the last replies are still going out.
  std::unique_ptr<Client> gone = std::move(*it);
  clients_.erase(it);
  if (protocol_) protocol_->Forget(gone->session);
  gone->idle.stop();
  gone->hold.stop();
  QTcpSocket* socket = gone->socket;
  QObject::disconnect(socket, nullptr, this, nullptr);
  if (abort || socket->state() == QAbstractSocket::UnconnectedState) {
    socket->abort();
    socket->deleteLater();
    return;
  }
  // Closed once what is queued went out; cut off if the client does not take it within a while.
  connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
  QTimer::singleShot(config_.IdleSeconds * 1000, socket, [socket] {
    socket->abort();
    socket->deleteLater();
  });
  socket->disconnectFromHost();
}

}  // namespace tessel
