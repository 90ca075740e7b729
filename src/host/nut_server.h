// The network UPS server's sockets: accepts clients on the configured address, cuts lines, hands
// each to NutProtocol with the poll timer caught up, and closes connections that send over-long
// lines, stay silent too long, do not read their replies, or come beyond the client limit.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <memory>
#include <string>

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

  explicit NutServer(Host& host, QObject* parent = nullptr);
  ~NutServer() override;

  // Listens as the configuration says. Empty on success, else why not.
  std::string Listen(const NutServerConfig& config, NutUsers users);
  void Close();
  bool Listening() const;
  quint16 Port() const;
  int ClientCount() const { return static_cast<int>(clients_.size()); }
  NutProtocol* Protocol() { return protocol_.get(); }

 private:
  struct Client;

  void Accept();
  void Read(Client* c);
  void Drop(Client* c);

  Host& host_;
  NutServerConfig config_;
  QTcpServer* server_ = nullptr;
  std::unique_ptr<NutProtocol> protocol_;
  std::vector<std::unique_ptr<Client>> clients_;
};

}  // namespace tessel
