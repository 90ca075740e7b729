#include "app/port_error.h"

#include <cerrno>
#include <cstring>

#include "model/settings.h"

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#endif

namespace tessel {

namespace {

// A device of the group root: only root (and its owner) may use it. Joining the group root would
// give the user root's files, so the advice is to hand the device to the dialout group.
std::string RootDeviceAdvice(const std::string& device, const std::string& owner, bool zh) {
  const size_t slash = device.find_last_of('/');
  const std::string kernel = slash == std::string::npos ? device : device.substr(slash + 1);
  const std::string rule = "    KERNEL==\"" + (kernel.empty() ? std::string("ttyUSB0") : kernel) +
                           "\", GROUP=\"dialout\", MODE=\"0660\"\n";
  if (zh)
    return "\n此设备属于用户 \"" + owner +
           "\" 和 \"root\" 组,只有 root 才能使用。不要把当前用户加入 root 组"
           "(那样会交出 root 的文件)。\n请用 udev 规则把设备交给 \"dialout\" 组,"
           "例如写入 /etc/udev/rules.d/60-tessel.rules:\n" +
           rule +
           "然后执行 sudo udevadm control --reload && sudo udevadm trigger,"
           "再用以下命令把当前用户加入 \"dialout\" 组:\n"
           "    sudo usermod -aG dialout $USER\n然后注销并重新登录。";
  return "\nThe device belongs to the user \"" + owner +
         "\" and the group \"root\": only root may use it. Do not add your user to the group "
         "root (that would give it root's files).\nGive the device to the group \"dialout\" "
         "with a udev rule, for example in /etc/udev/rules.d/60-tessel.rules:\n" +
         rule +
         "then run sudo udevadm control --reload && sudo udevadm trigger, add your user to "
         "\"dialout\" with\n"
         "    sudo usermod -aG dialout $USER\nand log out and log in again.";
}

}  // namespace

std::string DescribePortFailure(const PortOpenFailure& f, uint8_t language,
                                const std::vector<SerialPortListing>& existing,
                                const std::string& deviceGroup, const std::string& deviceOwner) {
  const bool zh = IsChinese(language);
  std::string text = f.Text;
  if (f.Device.empty() && f.SysError == 0) return text;
  text += "\n" + f.Device;
  if (f.SysError == 0) return text;
  text += (f.Device.empty() ? "" : ": ") + std::string(std::strerror(f.SysError));

  switch (f.SysError) {
    case EACCES:
    case EPERM: {
      if (deviceGroup == "root") {
        text += RootDeviceAdvice(f.Device, deviceOwner.empty() ? "root" : deviceOwner, zh);
        break;
      }
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

std::string DeviceOwner(const std::string& path) {
#ifndef _WIN32
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
  if (const passwd* p = ::getpwuid(st.st_uid)) return p->pw_name;
#else
  (void)path;
#endif
  return {};
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
