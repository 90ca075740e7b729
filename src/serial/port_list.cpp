#include "serial/port_list.h"

#include <QSerialPortInfo>
#include <algorithm>

namespace tessel {

std::vector<SerialPortEntry> AvailableSerialPorts() {
  std::vector<SerialPortEntry> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    SerialPortEntry entry;
    entry.Path = info.systemLocation().toStdString();
    QString description = info.description();
    if (!info.manufacturer().isEmpty() && !description.contains(info.manufacturer()))
      description += (description.isEmpty() ? "" : " (") + info.manufacturer() +
                     (description.isEmpty() ? "" : ")");
    entry.Description = description.trimmed().toStdString();
    if (!entry.Path.empty()) ports.push_back(std::move(entry));
  }
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortEntry& a, const SerialPortEntry& b) { return a.Path < b.Path; });
  return ports;
}

}  // namespace tessel
