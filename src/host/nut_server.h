// The network UPS server's sockets: accepts clients on the configured addresses, cuts lines, hands
// each to NutProtocol with the poll timer caught up, and closes connections that send over-long
// lines, stay silent too long, do not read their replies, or come beyond the client limit. A
// client that stops sending still gets the replies to every line it sent. Replies to requests
// with a wrong password are held back for a time that grows with each failure from that address.
#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "nut/nut_config.h"
#include "nut/nut_protocol.h"

class QTcpServer;
class QTcpSocket;

namespace tessel {

class Host;

class NutServer : public QObject {
  Q_OBJECT

 public:
  static constexpr qint64 kMaxUnsentBytes = 1 << 20;
  // The reply to a wrong password waits kFirstDelayMs, doubling with each further failure from
  // the same address up to kMaxDelayMs; the failures of one address wait in turn, none longer
  // than kMaxHoldMs. An address without failures for kForgetMs starts afresh.
  static constexpr int kFirstDelayMs = 250;
  static constexpr int kMaxDelayMs = 5000;
  static constexpr int kMaxHoldMs = 30000;
  static constexpr qint64 kForgetMs = 10 * 60 * 1000;

  explicit NutServer(Host& host, QObject* parent = nullptr);
  ~NutServer() override;

  // Listens as the configuration says. Empty on success, else why not.
  std::string Listen(const NutServerConfig& config, NutUsers users);
  void Close();
  bool Listening() const;
  quint16 Port() const;
  // Where it listens: "127.0.0.1:3493", "[::1]:3493", separated by ", ".
  std::string Where() const;
  int ClientCount() const { return static_cast<int>(clients_.size()); }
  NutProtocol* Protocol() { return protocol_.get(); }
  // Where the audit lines go; standard error unless set.
  void SetAuditSink(std::function<void(const std::string&)> sink) { audit_ = std::move(sink); }

 private:
  struct Client;
  struct Failures {
    int count = 0;
    qint64 last = 0;      // when the last failure came, on clock_
    qint64 nextFree = 0;  // when the reply to the last failure goes out
  };

  std::string ListenOn(const QHostAddress& address, quint16 port);
  void Accept();
  void Read(Client* c);
  void Process(Client* c);
  void Release(Client* c);
  // Frees the slots of clients that have gone without Qt having noticed yet.
  void ReapGone();
  // Ends a connection: abort drops what was not sent yet; otherwise it goes out first.
  void Drop(Client* c, bool abort = true);
  // The time the reply to a failed password from peer waits, in ms.
  int FailureDelay(const std::string& peer);
  void Audit(const std::string& line) const;

  Host& host_;
  NutServerConfig config_;
  std::vector<QTcpServer*> servers_;
  std::unique_ptr<NutProtocol> protocol_;
  std::vector<std::unique_ptr<Client>> clients_;
  std::map<std::string, Failures> failures_;
  QElapsedTimer clock_;
  std::function<void(const std::string&)> audit_;
};

}  // namespace tessel
