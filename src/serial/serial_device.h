// What both serial ports of this program (TComm here, the daemon's termios port in service/) say
// alike about a device: the path a port name stands for, and why a path did not open. Plain C++
// and header-only on purpose: service/ is built without Qt and does not link this floor's
// library, yet must tell the operator the same thing TComm does.
#pragma once

#include <cctype>
#include <optional>
#include <string>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace tessel {

inline constexpr const char* kCommOpenFailed = "Error opening serial port";
inline constexpr const char* kCommNotCommHandle = "File handle is not a comm handle ";

// The device path a port name stands for: "COMn" (also in the "\\.\COMn" form) is
// /dev/ttyS(n-1); an absolute path is used as it is; any other name is looked up in /dev.
inline std::string SerialDevicePath(const std::string& commName) {
  std::string name = commName;
  if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
  bool com = name.size() > 3 && name.size() <= 6;
  for (size_t i = 0; com && i < 3; ++i)
    com = std::toupper(static_cast<unsigned char>(name[i])) == "COM"[i];
  if (com) {
    bool digits = true;
    for (size_t i = 3; i < name.size(); ++i)
      digits = digits && std::isdigit(static_cast<unsigned char>(name[i]));
    const int number = digits ? std::stoi(name.substr(3)) : 0;
    if (number >= 1) return "/dev/ttyS" + std::to_string(number - 1);
  }
  if (!name.empty() && name.front() == '/') return name;
  return "/dev/" + name;
}

struct SerialOpenFailure {
  std::string Message;  // kCommOpenFailed or kCommNotCommHandle
  int SysError = 0;     // errno, 0 when the message says all there is to say
};

// Why path cannot be opened as a serial port, judged from what it names: a path that is missing
// or that refuses to open gives kCommOpenFailed with the system's reason; anything that is no
// terminal (a regular file, a folder, /dev/null) kCommNotCommHandle without one. Nothing when
// path is a terminal this process can open: the refusal came from a lock the caller knows about.
inline std::optional<SerialOpenFailure> DescribeSerialOpenFailure(const std::string& path) {
#if defined(__unix__) || defined(__APPLE__)
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return SerialOpenFailure{kCommOpenFailed, errno};
  if (!S_ISCHR(st.st_mode)) return SerialOpenFailure{kCommNotCommHandle, 0};
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return SerialOpenFailure{kCommOpenFailed, errno};
  const bool terminal = ::isatty(fd) == 1;
  ::close(fd);
  if (!terminal) return SerialOpenFailure{kCommNotCommHandle, 0};
  return std::nullopt;
#else
  (void)path;
  return SerialOpenFailure{kCommOpenFailed, 0};
#endif
}

}  // namespace tessel
