#include "host/tcomm_port.h"

#include "serial/port_list.h"

namespace tessel {

TCommPort::TCommPort() {
  comm_.SetByteSize(TByteSize::_8);
  comm_.SetParity(TParity::None);
  comm_.SetParityCheck(false);
  comm_.SetOutx_CtsFlow(false);
  comm_.SetOutx_DsrFlow(false);
  comm_.SetDtrControl(TDtrControl::DtrEnable);
  comm_.SetDsrSensitivity(false);
  comm_.SetTxContinueOnXoff(true);
  comm_.SetOutx_XonXoffFlow(false);
  comm_.SetInx_XonXoffFlow(false);
  comm_.SetReplaceWhenParityError(false);
  comm_.SetIgnoreNullChar(false);
  comm_.SetRtsControl(TRtsControl::RtsEnable);
  comm_.SetXonLimit(500);
  comm_.SetXoffLimit(500);
  comm_.SetXonChar(17);
  comm_.SetXoffChar(19);
  comm_.SetReplacedChar(0);
  comm_.SetReadTotalTimeoutMultiplier(0);
  comm_.SetReadTotalTimeoutConstant(0);
  comm_.SetWriteTotalTimeoutMultiplier(0);
  comm_.SetWriteTotalTimeoutConstant(0);
}

void TCommPort::Open(const SerialPortSettings& s) {
  if (comm_.IsOpen()) comm_.ClosePort();
  comm_.SetCommName(s.DeviceName);
  comm_.SetBaudRate(static_cast<uint32_t>(s.BaudRate));
  comm_.SetStopBits(s.StopBits == 2 ? TStopBits::_2 : TStopBits::_1);
  comm_.SetReadIntervalTimeout(static_cast<uint32_t>(s.ReadIntervalTimeout));
  comm_.SetFrameEnd(s.AnswerComplete,
                    static_cast<uint32_t>(s.AnswerQuietMs > 0 ? s.AnswerQuietMs : 0));
  try {
    comm_.OpenPort();
  } catch (const ECommsError& e) {
    throw SerialPortError(e.what(), e.Device(), e.SysError());
  }
}

std::vector<SerialPortListing> TCommPort::ListPorts() const {
  std::vector<SerialPortListing> ports;
  for (const SerialPortEntry& e : AvailableSerialPorts()) ports.push_back({e.Path, e.Description});
  return ports;
}

bool TCommPort::Send(const uint8_t* data, int n) {
  if (n <= 0 || n > 0xFFFF) return false;
  return comm_.SendData(data, static_cast<uint16_t>(n));
}

}  // namespace tessel
