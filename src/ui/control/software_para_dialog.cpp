#include "ui/control/software_para_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/autostart.h"
#include "app/settings_file.h"
#include "host/host.h"
#include "serial/port_list.h"
#include "ui/common/prompter.h"
#include "ui/common/window_texts.h"

namespace tessel {

namespace {

constexpr int kComPorts = 256;

constexpr UiText kFastPollText{"快速轮询（收到应答即发下一请求）",
                               "Fast polling (next request as soon as a unit answers)"};

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

QString PortItemText(const std::string& path, const std::string& description) {
  const QString p = QString::fromStdString(path);
  return description.empty() ? p : p + "  (" + QString::fromStdString(description) + ")";
}

}  // namespace

TFrmSoftwarePara::TFrmSoftwarePara(Host& host, Prompter& prompter,
                                   std::function<void()> applyProtocolLayout, QWidget* parent)
    : QDialog(parent),
      host_(host),
      prompter_(prompter),
      applyProtocolLayout_(std::move(applyProtocolLayout)),
      autostartFolder_(AutostartFolder(Env("XDG_CONFIG_HOME"), Env("HOME"))),
      executable_(QCoreApplication::applicationFilePath().toStdString()) {
  setObjectName("TFrmSoftwarePara");
  // A title and nothing else on the title bar: the dialog ends by Save or Cancel (or Escape).
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(true);

  bsSkinLabel2_ = new QLabel(this);
  bsSkinLabel2_->setObjectName("bsSkinLabel2");
  cbxComName_ = new QComboBox(this);
  cbxComName_->setObjectName("cbxComName");
  bsSkinLabel3_ = new QLabel(this);
  bsSkinLabel3_->setObjectName("bsSkinLabel3");
  cbxBaudRate_ = new QComboBox(this);
  cbxBaudRate_->setObjectName("cbxBaudRate");
  lbProtocol_ = new QLabel(this);
  lbProtocol_->setObjectName("lbProtocol");
  cbxcurProtocol_ = new QComboBox(this);
  cbxcurProtocol_->setObjectName("cbxcurProtocol");
  crbAutoStartup_ = new QCheckBox(this);
  crbAutoStartup_->setObjectName("crbAutoStartup");
  chkFastPoll_ = new QCheckBox(this);
  chkFastPoll_->setObjectName("chkFastPoll");
  SaveSetBtn_ = new QPushButton(this);
  SaveSetBtn_->setObjectName("SaveSetBtn");
  SaveSetBtn_->setDefault(true);
  Button4_ = new QPushButton(this);
  Button4_->setObjectName("Button4");
  bsSkinLabel2_->setBuddy(cbxComName_);
  bsSkinLabel3_->setBuddy(cbxBaudRate_);
  lbProtocol_->setBuddy(cbxcurProtocol_);

  // The ports this computer has come first, by their path: they are the ones that work. Then
  // COM1 .. COM256, the names the settings file has always held.
  for (const SerialPortEntry& p : AvailableSerialPorts())
    cbxComName_->addItem(PortItemText(p.Path, p.Description), QString::fromStdString(p.Path));
  for (int n = 1; n <= kComPorts; ++n) {
    const QString name = "COM" + QString::number(n);
    cbxComName_->addItem(name, name);
  }
  cbxComName_->setMaxVisibleItems(16);
  cbxComName_->setMinimumContentsLength(14);
  cbxComName_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  for (const char* speed : {"2400", "4800", "9600"}) cbxBaudRate_->addItem(speed);
  for (int i = 0; i < 4; ++i) cbxcurProtocol_->addItem(QString());

  auto* grid = new QGridLayout;
  grid->addWidget(bsSkinLabel2_, 0, 0);
  grid->addWidget(cbxComName_, 0, 1);
  grid->addWidget(bsSkinLabel3_, 1, 0);
  grid->addWidget(cbxBaudRate_, 1, 1);
  grid->addWidget(lbProtocol_, 2, 0);
  grid->addWidget(cbxcurProtocol_, 2, 1);
  grid->addWidget(chkFastPoll_, 3, 0, 1, 2);
  grid->addWidget(crbAutoStartup_, 4, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(SaveSetBtn_);
  buttons->addWidget(Button4_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(SaveSetBtn_, &QPushButton::clicked, this, &TFrmSoftwarePara::SaveSetBtnClick);
  connect(Button4_, &QPushButton::clicked, this, &TFrmSoftwarePara::reject);
}

TFrmSoftwarePara::~TFrmSoftwarePara() = default;

void TFrmSoftwarePara::setVisible(bool visible) {
  const bool opening = visible && !isVisible();
  if (opening) FormShow();
  QDialog::setVisible(visible);
  // Centred on the screen, not on the main window.
  if (opening)
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

void TFrmSoftwarePara::FormShow() {
  Settings& settings = host_.Ctx().settings;
  TPortInfo& info = settings.PortInfo;
  const uint8_t language = settings.Language;

  setWindowTitle(Tr(txt::SoftParaTitle, language));
  bsSkinLabel2_->setText(Tr(txt::SoftParaComLabel, language));
  bsSkinLabel3_->setText(Tr(txt::SoftParaBaudLabel, language));
  lbProtocol_->setText(Tr(txt::SoftParaProtocolLabel, language));
  for (int i = 0; i < 4; ++i)
    cbxcurProtocol_->setItemText(i, Tr(txt::SoftParaProtocols[i], language));
  crbAutoStartup_->setText(Tr(txt::SoftParaAutoStart, language));
  chkFastPoll_->setText(Tr(kFastPollText, language));
  SaveSetBtn_->setText(Tr(txt::SoftParaSave, language));
  Button4_->setText(Tr(txt::SoftParaCancel, language));
  cbxComName_->setAccessibleName(Tr(txt::SoftParaComLabel, language));
  cbxBaudRate_->setAccessibleName(Tr(txt::SoftParaBaudLabel, language));
  cbxcurProtocol_->setAccessibleName(Tr(txt::SoftParaProtocolLabel, language));

  // A port named by its path stays selectable even when the system does not list it (a
  // pseudo-terminal, an adapter that is unplugged just now), so that saving keeps it.
  const QString comName = QString::fromStdString(info.ComName);
  int port = cbxComName_->findData(comName);
  if (port < 0 && comName.startsWith('/')) {
    cbxComName_->insertItem(0, comName, comName);
    port = 0;
  }
  cbxComName_->setCurrentIndex(port >= 0 ? port : cbxComName_->findData(QStringLiteral("COM1")));

  cbxBaudRate_->setCurrentText(info.BaudRate == 4800   ? QStringLiteral("4800")
                               : info.BaudRate == 9600 ? QStringLiteral("9600")
                                                       : QStringLiteral("2400"));
  crbAutoStartup_->setChecked(info.AutoStart);
  chkFastPoll_->setChecked(info.FastPoll);
  if (info.Protocol > 3) {
    host_.CatchUp();
    info.Protocol = 0;
    host_.Rearm();
  }
  cbxcurProtocol_->setCurrentIndex(info.Protocol);

  if (!start_) {
    start_ = StartState{info.ComName,      info.BaudRate, info.Protocol,
                        info.AutoStart,    info.FastPoll, ReadAutostartEntry(autostartFolder_),
                        host_.PortIsOpen()};
  }
}

void TFrmSoftwarePara::SaveSetBtnClick() {
  TPortInfo& info = host_.Ctx().settings.PortInfo;
  host_.CatchUp();
  changed_ = true;
  info.ComName = cbxComName_->currentData().toString().toStdString();
  bool isNumber = false;
  const int baud = cbxBaudRate_->currentText().toInt(&isNumber);
  info.BaudRate = isNumber ? baud : 2400;
  const int protocol = cbxcurProtocol_->currentIndex();
  info.Protocol = static_cast<uint8_t>(protocol >= 0 && protocol <= 3 ? protocol : 0);
  const bool wasAutoStart = info.AutoStart;
  info.AutoStart = crbAutoStartup_->isChecked();
  info.FastPoll = chkFastPoll_->isChecked();
  host_.Rearm();

  // An autostart entry that cannot be written or removed does not stop the save. The
  // setting keeps what the entry is, and the port, protocol and speed are saved (and the port
  // reopened on them) as for any save, so that memory never names one port while another is open.
  const std::string entry = AutostartEntryText(executable_, host_.Paths().Home);
  const std::string autostartError = ApplyAutostart(autostartFolder_, info.AutoStart, entry);
  if (!autostartError.empty()) info.AutoStart = wasAutoStart;
  portTouched_ = true;
  if (const std::string error = host_.OpenPort(); !error.empty()) {
    Fail(error);
    return;
  }
  if (applyProtocolLayout_) applyProtocolLayout_();
  try {
    WriteUserParaIni(host_.Paths().SettingsFile, host_.Ctx().settings);
  } catch (const SettingsWriteError& e) {
    Fail(e.what());
    return;
  }
  changed_ = false;
  if (!autostartError.empty()) {
    prompter_.Tell(this, MessageKind::Error,
                   Tr(txt::SoftParaAutoStartFailed, host_.Ctx().settings.Language)
                       .arg(QString::fromStdString(autostartError)));
  }
  accept();
}

void TFrmSoftwarePara::Fail(const std::string& message) {
  prompter_.Tell(this, MessageKind::Error, QString::fromStdString(message));
}

void TFrmSoftwarePara::reject() {
  Restore();
  QDialog::reject();
}

void TFrmSoftwarePara::Restore() {
  if (!changed_ || !start_) return;
  changed_ = false;
  TPortInfo& info = host_.Ctx().settings.PortInfo;
  host_.CatchUp();
  info.ComName = start_->ComName;
  info.BaudRate = start_->BaudRate;
  info.Protocol = start_->Protocol;
  info.AutoStart = start_->AutoStart;
  info.FastPoll = start_->FastPoll;
  host_.Rearm();

  const std::string entryError = start_->Entry
                                     ? ApplyAutostart(autostartFolder_, true, *start_->Entry)
                                     : ApplyAutostart(autostartFolder_, false, {});
  if (!entryError.empty()) Fail(entryError);
  if (portTouched_) {
    portTouched_ = false;
    if (start_->PortOpen) {
      if (const std::string error = host_.OpenPort(); !error.empty()) Fail(error);
    } else {
      host_.ClosePort();
    }
  }
  if (applyProtocolLayout_) applyProtocolLayout_();
}

}  // namespace tessel
