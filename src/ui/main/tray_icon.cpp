#include "ui/main/tray_icon.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <algorithm>

#include "host/host.h"
#include "ui/common/app_icon.h"
#include "ui/common/window_texts.h"

namespace tessel {

namespace {

QColor TileOf(UnitAlert a, bool portOpen) {
  if (!portOpen) return QColor(0x80, 0x80, 0x80);
  switch (a) {
    case UnitAlert::Normal:
      return kIconNormal;
    case UnitAlert::Battery:
      return QColor(0xe0, 0x8a, 0x00);
    case UnitAlert::Lost:
      return QColor(0x6a, 0x5a, 0xcd);
    case UnitAlert::Fault:
      return QColor(0xc0, 0x20, 0x20);
  }
  return kIconNormal;
}

const UiText& NoticeText(UnitAlert now) {
  switch (now) {
    case UnitAlert::Battery:
      return txt::TrayOnBattery;
    case UnitAlert::Lost:
      return txt::TrayLost;
    case UnitAlert::Fault:
      return txt::TrayFault;
    case UnitAlert::Normal:
      break;
  }
  return txt::TrayBack;
}

}  // namespace

UnitAlert AlertOf(const TUpsInfo& u) {
  if (u.CommState == kCommLost) return UnitAlert::Lost;
  if (u.RunState == kRunFault || u.RunState == kRunEpo) return UnitAlert::Fault;
  if (u.RunState == kRunBattery) return UnitAlert::Battery;
  return UnitAlert::Normal;
}

std::vector<AlertChange> AlertTracker::Update(
    const std::vector<std::pair<uint8_t, UnitAlert>>& units) {
  std::vector<AlertChange> changes;
  std::map<uint8_t, Seen> now;
  for (const auto& [addr, alert] : units) {
    const auto it = last_.find(addr);
    const Seen before = it == last_.end() ? Seen{} : it->second;
    // Until a unit has answered once, its silence and its first answer are no news.
    const bool quietStart =
        !before.heard && (alert == UnitAlert::Lost || alert == UnitAlert::Normal);
    if (alert != before.alert && !quietStart) changes.push_back({addr, before.alert, alert});
    now[addr] = {alert, before.heard || alert != UnitAlert::Lost};
  }
  last_ = std::move(now);  // units no longer listed are forgotten
  return changes;
}

UnitAlert AlertTracker::Worst() const {
  UnitAlert worst = UnitAlert::Normal;
  for (const auto& [addr, seen] : last_) worst = std::max(worst, seen.alert);
  return worst;
}

TrayIcon::TrayIcon(Host& host, std::function<void()> showWindow, std::function<void()> exit,
                   QObject* parent)
    : QObject(parent), host_(host) {
  menu_ = new QMenu();
  showAction_ = menu_->addAction(QString(), this, std::move(showWindow));
  exitAction_ = menu_->addAction(QString(), this, std::move(exit));
  connect(menu_, &QMenu::aboutToShow, this, &TrayIcon::ApplyTexts);
  tray_ = new QSystemTrayIcon(this);
  tray_->setContextMenu(menu_);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::Trigger) showAction_->trigger();
  });
  Notify = [this](const QString& title, const QString& text) {
    tray_->showMessage(title, text, tray_->icon());
  };
  refresh_.setSingleShot(true);
  connect(&refresh_, &QTimer::timeout, this, &TrayIcon::Refresh);
  auto later = [this] { refresh_.start(0); };
  connect(&host_, &Host::deviceUpdated, this, later);
  connect(&host_, &Host::portStateChanged, this, later);
  connect(&host_, &Host::deviceListLoaded, this, later);
  ApplyTexts();
  tray_->setIcon(AppIcon(TileOf(UnitAlert::Normal, false)));
  tray_->show();
}

TrayIcon::~TrayIcon() {
  delete menu_;
}

void TrayIcon::ApplyTexts() {
  const uint8_t language = host_.Ctx().settings.Language;
  showAction_->setText(Tr(txt::TrayShowWindow, language));
  exitAction_->setText(Tr(txt::TrayExit, language));
}

void TrayIcon::Refresh() {
  host_.CatchUp();
  const Context& ctx = host_.Ctx();
  const uint8_t language = ctx.settings.Language;
  const TEquipList& list = ctx.model.EquipList;
  std::vector<std::pair<uint8_t, UnitAlert>> units;
  std::map<uint8_t, QString> names;
  for (int k = 1; k <= list.Count; ++k) {
    const TEquipRec& e = list.Items[k];
    units.push_back({e.Addr, AlertOf(ctx.model.UpsTable[e.Addr])});
    names[e.Addr] = QString::fromStdString(NameFieldText(e.Name));
  }
  // With the port closed nothing is known of the units: grey, and no news about them.
  const bool open = host_.PortIsOpen();
  if (open) {
    for (const AlertChange& c : tracker_.Update(units))
      Notify(Tr(txt::MainTitle, language), Tr(NoticeText(c.now), language).arg(names[c.addr]));
  }
  const UnitAlert worst = open ? tracker_.Worst() : UnitAlert::Lost;
  if (drawn_ && worst == shown_ && open == portOpen_) return;
  drawn_ = true;
  shown_ = worst;
  portOpen_ = open;
  tray_->setIcon(AppIcon(TileOf(worst, open)));
  tray_->setToolTip(Tr(txt::MainTitle, language));
}

}  // namespace tessel
