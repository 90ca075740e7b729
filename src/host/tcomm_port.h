// The communication master's port, played by the real serial component.
#pragma once

#include <functional>

#include "comm/serial_port.h"
#include "serial/serial_port.h"

namespace tessel {

class TCommPort : public SerialPort {
 public:
  // The component's fixed line settings for this program: 8 data bits, no parity, DTR and RTS
  // on, no flow control, no total timeouts.
  TCommPort();

  void Open(const SerialPortSettings& settings) override;
  void Close() override { comm_.ClosePort(); }
  bool IsOpen() const override { return comm_.IsOpen(); }
  bool Send(const uint8_t* data, int n) override;
  std::vector<SerialPortListing> ListPorts() const override;

  TComm& Comm() { return comm_; }

 private:
  TComm comm_;
};

}  // namespace tessel
