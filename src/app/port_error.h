// The operator's message for a serial port that would not open: the port's fixed error text,
// then the device and the system's reason, then what to do about it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "comm/serial_port.h"

namespace tessel {

struct PortOpenFailure {
  std::string Text;    // the port's fixed error text ("Error opening serial port", ...)
  std::string Device;  // the device path tried; empty when unknown
  int SysError = 0;    // errno value; 0 when the fixed text is all there is
};

// The first line is always Text unchanged. Permission denied names the group that owns the
// device (deviceGroup, "dialout" when empty) and how to join it; a device of the group root is
// never advised that way (joining root hands the user root's files): the message says who owns
// it (deviceOwner, when known) and advises a udev rule that gives it to the dialout group. A
// missing device lists the ports that exist. language 1 gives the advice in Chinese.
std::string DescribePortFailure(const PortOpenFailure& failure, uint8_t language,
                                const std::vector<SerialPortListing>& existing,
                                const std::string& deviceGroup,
                                const std::string& deviceOwner = {});

// The name of the group that owns path, or "" when it cannot be told.
std::string DeviceGroup(const std::string& path);
// The name of the user that owns path, or "" when it cannot be told.
std::string DeviceOwner(const std::string& path);

}  // namespace tessel
