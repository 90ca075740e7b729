// The serial ports this computer has, as the system reports them.
#pragma once

#include <string>
#include <vector>

namespace tessel {

struct SerialPortEntry {
  std::string Path;         // "/dev/ttyUSB0"
  std::string Description;  // "FT232R USB UART (FTDI)", empty when the system knows nothing more
};

// Built-in ports, USB adapters and the like, sorted by path.
std::vector<SerialPortEntry> AvailableSerialPorts();

}  // namespace tessel
