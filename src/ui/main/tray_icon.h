// The tray icon of the windowed program: its tile takes the colour of the worst state of any
// listed unit, its menu brings the window back or exits, and a desktop notification tells when a
// unit goes on battery, into a fault or silent, and when it comes back.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "model/ups_info.h"

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace tessel {

class Host;

// How a unit is, for the tray, in rising order of concern.
enum class UnitAlert : uint8_t { Normal, Battery, Lost, Fault };

UnitAlert AlertOf(const TUpsInfo& u);

struct AlertChange {
  uint8_t addr = 0;
  UnitAlert before = UnitAlert::Normal;
  UnitAlert now = UnitAlert::Normal;
};

// Remembers each unit's alert between looks and reports the changes worth a notification: into
// any alert, and back to normal. A unit that has not answered since the program started is silent
// by nature: that, and its first answer when it is normal, are no news.
class AlertTracker {
 public:
  std::vector<AlertChange> Update(const std::vector<std::pair<uint8_t, UnitAlert>>& units);
  UnitAlert Worst() const;

 private:
  struct Seen {
    UnitAlert alert = UnitAlert::Normal;
    bool heard = false;  // it has answered at least once
  };
  std::map<uint8_t, Seen> last_;
};

class TrayIcon : public QObject {
  Q_OBJECT

 public:
  // showWindow and exit are what the menu's two entries do.
  TrayIcon(Host& host, std::function<void()> showWindow, std::function<void()> exit,
           QObject* parent = nullptr);
  ~TrayIcon() override;

  // Looks at every listed unit now (the host's signals call it, coalesced).
  void Refresh();
  UnitAlert Shown() const { return shown_; }
  // Where notifications go; the desktop's notifications unless a test replaces it.
  std::function<void(const QString& title, const QString& text)> Notify;

 private:
  void ApplyTexts();

  Host& host_;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* menu_ = nullptr;
  QAction* showAction_ = nullptr;
  QAction* exitAction_ = nullptr;
  QTimer refresh_;  // single shot: many signals in a row make one look
  AlertTracker tracker_;
  UnitAlert shown_ = UnitAlert::Normal;
  bool portOpen_ = false;
  bool drawn_ = false;
};

}  // namespace tessel
