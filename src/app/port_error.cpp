#include "app/port_error.h"

#include <cerrno>
#include <cstring>

#include "model/settings.h"

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#endif

namespace tessel {

std::string DescribePortFailure(const PortOpenFailure& f, uint8_t language,
                                const std::vector<SerialPortListing>& existing,
                                const std::string& deviceGroup) {
  const bool zh = IsChinese(language);
  std::string text = f.Text;
  if (f.Device.empty() && f.SysError == 0) return text;
  text += "\n" + f.Device;
  if (f.SysError == 0) return text;
  text += (f.Device.empty() ? "" : ": ") + std::string(std::strerror(f.SysError));

  switch (f.SysError) {
    case EACCES:
    case EPERM: {
      const std::string group = deviceGroup.empty() ? "dialout" : deviceGroup;
      text += zh ? "\n只有 \"" + group +
                       "\" 组的成员才能使用此设备。请用以下命令把当前用户加入该组:\n"
                       "    sudo usermod -aG " +
                       group + " $USER\n然后注销并重新登录。"
                 : "\nOnly members of the group \"" + group +
                       "\" may use this device. Add your user to it with\n"
                       "    sudo usermod -aG " +
                       group + " $USER\nthen log out and log in again.";
      break;
    }
    case ENOENT:
    case ENODEV:
    case ENXIO:
      if (existing.empty()) {
        text += zh ? "\n本机未找到串口。" : "\nNo serial ports were found on this computer.";
      } else {
        text += zh ? "\n本机的串口:" : "\nSerial ports on this computer:";
        for (const SerialPortListing& p : existing)
          text += "\n    " + p.Path + (p.Description.empty() ? "" : " (" + p.Description + ")");
      }
      break;
    case EBUSY:
      text += zh ? "\n另一个程序正在使用此串口,请先关闭它。"
                 : "\nAnother program is using this port; close it first.";
      break;
    default:
      break;
  }
  return text;
}

std::string DeviceGroup(const std::string& path) {
#ifndef _WIN32
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
  if (const group* g = ::getgrgid(st.st_gid)) return g->gr_name;
#else
  (void)path;
#endif
  return {};
}

}  // namespace tessel
