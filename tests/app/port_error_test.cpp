// The operator's message for a port that would not open: the port's fixed text stays the first
// line, then the device and the system's reason, then what the operator can do about it.
#include "app/port_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace tessel {
namespace {

const std::vector<SerialPortListing> kTwoPorts = {{"/dev/ttyS0", ""},
                                                  {"/dev/ttyUSB0", "FT232R USB UART"}};

TEST(PortError, MessagesByReason) {
  struct Case {
    const char* what;
    PortOpenFailure failure;
    uint8_t language;
    std::vector<SerialPortListing> existing;
    std::string group;
    std::vector<std::string> holds;  // in this order
    std::vector<std::string> lacks;
  };
  const std::string denied = std::strerror(EACCES);
  const std::string missing = std::strerror(ENOENT);
  const Case cases[] = {
      {"permission denied names the owning group and how to join it",
       {"Error opening serial port", "/dev/ttyUSB0", EACCES},
       0,
       kTwoPorts,
       "uucp",
       {"Error opening serial port\n", "/dev/ttyUSB0: " + denied, "group \"uucp\"",
        "sudo usermod -aG uucp $USER", "log out and log in again"},
       {"ttyS0"}},
      {"an unknown owner falls back to dialout",
       {"Error opening serial port", "/dev/ttyS4", EACCES},
       0,
       {},
       "",
       {"sudo usermod -aG dialout $USER"},
       {}},
      {"the advice follows the language",
       {"Error opening serial port", "/dev/ttyUSB0", EACCES},
       1,
       {},
       "dialout",
       {"Error opening serial port\n", "\"dialout\" 组", "sudo usermod -aG dialout $USER",
        "重新登录"},
       {"log out"}},
      {"a missing device lists the ports that exist",
       {"Error opening serial port", "/dev/ttyUSB1", ENOENT},
       0,
       kTwoPorts,
       "",
       {"Error opening serial port\n", "/dev/ttyUSB1: " + missing,
        "Serial ports on this computer:", "/dev/ttyS0\n", "/dev/ttyUSB0 (FT232R USB UART)"},
       {"usermod"}},
      {"a missing device on a computer without ports says so",
       {"Error opening serial port", "/dev/ttyUSB1", ENOENT},
       0,
       {},
       "",
       {"No serial ports were found on this computer."},
       {"Serial ports on"}},
      {"a port held by another program",
       {"Error opening serial port", "/dev/ttyUSB0", EBUSY},
       0,
       kTwoPorts,
       "",
       {"/dev/ttyUSB0: " + std::string(std::strerror(EBUSY)), "Another program is using"},
       {"usermod", "Serial ports on"}},
      {"no system reason: the device only",
       {"File handle is not a comm handle ", "/tmp/plain.bin", 0},
       0,
       kTwoPorts,
       "",
       {"File handle is not a comm handle \n/tmp/plain.bin"},
       {"usermod", "Serial ports on", ": "}},
  };
  for (const Case& c : cases) {
    const std::string text = DescribePortFailure(c.failure, c.language, c.existing, c.group);
    EXPECT_EQ(text.rfind(c.failure.Text, 0), 0u) << c.what << "\n" << text;
    size_t at = 0;
    for (const std::string& part : c.holds) {
      const size_t found = text.find(part, at);
      EXPECT_NE(found, std::string::npos) << c.what << ": " << part << "\n" << text;
      if (found != std::string::npos) at = found + part.size();
    }
    for (const std::string& part : c.lacks)
      EXPECT_EQ(text.find(part), std::string::npos) << c.what << ": " << part << "\n" << text;
  }
}

// A device of the group root: joining root would hand the user root's files. The message says who
// owns the device and advises a udev rule giving it to dialout, never usermod -aG root.
TEST(PortError, RootGroupDeviceIsNeverAdvisedToJoinRoot) {
  for (uint8_t language : {0, 1}) {
    SCOPED_TRACE(int(language));
    const std::string text = DescribePortFailure(
        {"Error opening serial port", "/dev/ttyACM0", EACCES}, language, {}, "root", "root");
    EXPECT_EQ(text.find("usermod -aG root"), std::string::npos) << text;
    EXPECT_NE(text.find("\"root\""), std::string::npos) << text;
    EXPECT_NE(text.find("KERNEL==\"ttyACM0\", GROUP=\"dialout\", MODE=\"0660\""), std::string::npos)
        << text;
    EXPECT_NE(text.find("/etc/udev/rules.d/"), std::string::npos) << text;
    EXPECT_NE(text.find("sudo usermod -aG dialout $USER"), std::string::npos) << text;
    EXPECT_EQ(text.rfind("Error opening serial port\n/dev/ttyACM0: ", 0), 0u) << text;
  }
  const std::string en =
      DescribePortFailure({"Error opening serial port", "/dev/ttyS9", EPERM}, 0, {}, "root", "ups");
  EXPECT_NE(en.find("belongs to the user \"ups\" and the group \"root\""), std::string::npos) << en;
  const std::string zh =
      DescribePortFailure({"Error opening serial port", "/dev/ttyS9", EPERM}, 1, {}, "root", "");
  EXPECT_NE(zh.find("udev"), std::string::npos) << zh;
  EXPECT_NE(zh.find("不要把当前用户加入 root 组"), std::string::npos) << zh;
}

TEST(PortError, OwnerOfADevice) {
  EXPECT_EQ(DeviceOwner("/dev/null"), "root");
  EXPECT_EQ(DeviceOwner("/no/such/device"), "");
}

TEST(PortError, FixedTextAloneStaysAlone) {
  // Callers compare the general texts; nothing may be added when there is nothing to add.
  EXPECT_EQ(DescribePortFailure({"This serial port already opened", "", 0}, 0, kTwoPorts, ""),
            "This serial port already opened");
}

TEST(PortError, GroupOfADevice) {
  EXPECT_FALSE(DeviceGroup("/dev/null").empty());
  EXPECT_EQ(DeviceGroup("/no/such/device"), "");
}

}  // namespace
}  // namespace tessel
