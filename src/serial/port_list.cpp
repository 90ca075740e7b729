#include "serial/port_list.h"

#include <QSerialPortInfo>
#include <algorithm>

namespace tessel {

std::vector<SerialPortEntry> AvailableSerialPorts() {
  std::vector<SerialPortEntry> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    SerialPortEntry entry;
    entry.Path = info.systemLocation().toStdString();
    // "FT232R USB UART (FTDI)": the maker only when the description does not already name it.
    QString description = info.description().trimmed();
    const QString maker = info.manufacturer().trimmed();
    if (description.isEmpty())
      description = maker;
    else if (!maker.isEmpty() && !description.contains(maker))
      description += " (" + maker + ")";
    entry.Description = description.toStdString();
    if (!entry.Path.empty()) ports.push_back(std::move(entry));
  }
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortEntry& a, const SerialPortEntry& b) { return a.Path < b.Path; });
  return ports;
}

}  // namespace tessel
