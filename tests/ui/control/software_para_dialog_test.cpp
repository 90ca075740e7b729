// The software parameter dialog over a real host: settings and device list in a temporary program
// folder, a pseudo-terminal as the port that opens, the autostart entry in a temporary
// XDG_CONFIG_HOME.
#include "ui/control/software_para_dialog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/autostart.h"
#include "app/device_list_file.h"
#include "app/settings_file.h"
#include "host/host.h"
#include "log/temp_folder.h"
#include "ui/fake_prompter.h"
#include "ui/run_until.h"

namespace fs = std::filesystem;

namespace tessel {
namespace {

using testing::ReadBytes;
using testing::TempFolder;

// A pseudo-terminal whose far end the test reads: a port that opens.
class Line {
 public:
  Line() {
    char name[256];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) name_ = name;
    if (master_ >= 0) fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~Line() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  const std::string& Name() const { return name_; }
  std::vector<uint8_t> Read() {
    std::vector<uint8_t> out;
    uint8_t buf[512];
    for (ssize_t n; (n = read(master_, buf, sizeof buf)) > 0;) out.insert(out.end(), buf, buf + n);
    return out;
  }

 private:
  int master_ = -1, slave_ = -1;
  std::string name_;
};

struct Start {
  std::string ComName;
  int BaudRate = 9600;
  int Protocol = 0;
  int Language = 0;
  bool AutoStart = false;
};

class SoftwareParaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    if (old) oldConfig_ = old;
    setenv("XDG_CONFIG_HOME", cfg_.Path().c_str(), 1);
  }
  void TearDown() override {
    dialog_.reset();
    if (host_) host_->Stop();
    host_.reset();
    if (oldConfig_)
      setenv("XDG_CONFIG_HOME", oldConfig_->c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }

  // A host started on these settings with device 1 in the list, and the dialog shown over it.
  void Open(const Start& s) {
    dialog_.reset();
    if (host_) host_->Stop();
    host_.reset();
    std::ofstream(home_ / "UserParaIni.ini")
        << "[CommPort]\nComName=" << s.ComName << "\nBaudRate=" << s.BaudRate
        << "\nProtocol=" << s.Protocol << "\nAutoStart=" << (s.AutoStart ? 1 : 0)
        << "\n[Language]\nLanguage=" << s.Language << "\n";
    fs::create_directories(home_ / "Record");
    TEquipList list;
    TEquipRec rec;
    rec.Addr = 1;
    rec.Name = MakeNameField("UPS-1");
    AppendDevice(list, rec);
    ASSERT_TRUE(SaveDeviceList((home_ / "Record" / "TreeNode.dat").string(), list));
    host_ = std::make_unique<Host>(MakeProgramPaths(home_.Path().string()));
    host_->Start();
    ShowDialog();
  }
  // A new dialog over the running host, as each opening makes one.
  void ShowDialog() {
    dialog_ = std::make_unique<TFrmSoftwarePara>(*host_, prompter_, [this] { ++layouts_; });
    dialog_->SetExecutable("/opt/tessel/bin/tessel");
    dialog_->show();
  }
  template <class T>
  T* Find(const char* name) const {
    T* found = dialog_->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QComboBox* Combo(const char* name) const { return Find<QComboBox>(name); }
  void SelectPort(const QString& name) {
    const int i = Combo("cbxComName")->findData(name);
    ASSERT_GE(i, 0) << name.toStdString();
    Combo("cbxComName")->setCurrentIndex(i);
  }
  void Save() { Find<QPushButton>("SaveSetBtn")->click(); }
  void Cancel() { Find<QPushButton>("Button4")->click(); }
  TPortInfo& Info() { return host_->Ctx().settings.PortInfo; }
  Settings FileSettings() const {
    Settings s;
    ReadUserParaIni((home_ / "UserParaIni.ini").string(), s);
    return s;
  }
  std::string AutostartDir() const { return (cfg_ / "autostart").string(); }

  TempFolder home_;
  TempFolder cfg_;
  Line line_;
  FakePrompter prompter_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<TFrmSoftwarePara> dialog_;
  int layouts_ = 0;
  std::optional<std::string> oldConfig_;
};

TEST_F(SoftwareParaTest, ShowsTheSettingsItStartsFrom) {
  struct Case {
    Start start;
    QString port;  // the selected entry's stored name
    QString baud;
    int protocol;
  };
  const Case cases[] = {
      {{"COM25", 4800, 1}, "COM25", "4800", 1},
      {{"COM0", 9600, 2}, "COM1", "9600", 2},  // no such entry: the first COM port
      {{"COM300", 2400, 3}, "COM1", "2400", 3},
      {{"/dev/ttyUSB7", 19200, 0}, "/dev/ttyUSB7", "2400", 0},  // a path stays selectable
      {{line_.Name(), 9600, 7}, QString::fromStdString(line_.Name()), "9600", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start.ComName);
    Open(c.start);
    EXPECT_EQ(Combo("cbxComName")->currentData().toString(), c.port);
    EXPECT_EQ(Combo("cbxBaudRate")->currentText(), c.baud);
    EXPECT_EQ(Combo("cbxcurProtocol")->currentIndex(), c.protocol);
    // A protocol beyond the list is 0 as soon as the dialog shows, even when it is cancelled.
    Cancel();
    EXPECT_EQ(Info().Protocol, c.protocol);
    EXPECT_FALSE(dialog_->isVisible());
  }
  // Cancel without Save stores nothing: the file still holds 7.
  EXPECT_EQ(FileSettings().PortInfo.Protocol, 7);

  // The list holds COM1 .. COM256 in order, and the ports this computer has.
  Open({"COM1"});
  QComboBox* ports = Combo("cbxComName");
  const int com1 = ports->findData("COM1");
  ASSERT_GE(com1, 0);
  for (int n = 1; n <= 256; ++n)
    ASSERT_EQ(ports->itemData(com1 + n - 1).toString(), "COM" + QString::number(n));
  EXPECT_EQ(ports->count() - 256, com1);  // only system ports come before
}

TEST_F(SoftwareParaTest, TextsInBothLanguagesAndKeyboardReach) {
  struct Case {
    int language;
    QString title, com, protocol, autostart, save, cancel;
    QStringList protocols;
  };
  const Case cases[] = {
      {1,
       "软件参数设定",
       "通讯串口",
       "通讯协议:",
       "开机自启动",
       "保存设置",
       "取消",
       {"多模块UPS", "三相工频UPS", "Modbus", "ZEV"}},
      {0,
       "Software Parameter Setting",
       "COM",
       "Protocol:",
       "Automatic Run Program At Windows Startup",
       "Save Setting",
       "Cancel",
       {"Multimode UPS", "Industrial Frequency UPS", "Modbus ", "ZEV"}},
  };
  for (const Case& c : cases) {
    Open({"COM0", 9600, 0, c.language});
    EXPECT_EQ(dialog_->windowTitle(), c.title);
    EXPECT_EQ(Find<QLabel>("bsSkinLabel2")->text(), c.com);
    EXPECT_EQ(Find<QLabel>("lbProtocol")->text(), c.protocol);
    EXPECT_EQ(Find<QCheckBox>("crbAutoStartup")->text(), c.autostart);
    EXPECT_EQ(Find<QPushButton>("SaveSetBtn")->text(), c.save);
    EXPECT_EQ(Find<QPushButton>("Button4")->text(), c.cancel);
    QStringList shown;
    for (int i = 0; i < Combo("cbxcurProtocol")->count(); ++i)
      shown << Combo("cbxcurProtocol")->itemText(i);
    EXPECT_EQ(shown, c.protocols);
    for (const char* label : {"bsSkinLabel2", "bsSkinLabel3", "lbProtocol"}) {
      QWidget* buddy = Find<QLabel>(label)->buddy();
      ASSERT_NE(buddy, nullptr) << label;
      EXPECT_EQ(buddy->accessibleName(), Find<QLabel>(label)->text()) << label;
      EXPECT_EQ(buddy->focusPolicy() & Qt::TabFocus, Qt::TabFocus) << label;
    }
  }
  EXPECT_EQ(dialog_->minimumSize(), dialog_->maximumSize());  // fixed size
  EXPECT_TRUE(Find<QPushButton>("SaveSetBtn")->isDefault());
}

TEST_F(SoftwareParaTest, SaveReopensThePortWithTheNewProtocolAndWritesTheFile) {
  ASSERT_FALSE(line_.Name().empty());
  // A speed the list does not hold shows as 2400, and saving without touching it stores 2400.
  Open({line_.Name(), 19200, 0});
  ASSERT_TRUE(host_->PortIsOpen());
  Combo("cbxcurProtocol")->setCurrentIndex(2);
  Find<QCheckBox>("crbAutoStartup")->setChecked(true);
  line_.Read();  // what the ASCII protocol sent so far
  Save();

  EXPECT_TRUE(prompter_.Told.empty()) << prompter_.LastTold().toStdString();
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_TRUE(host_->PortIsOpen());
  EXPECT_EQ(layouts_, 1);
  const Settings file = FileSettings();
  EXPECT_EQ(file.PortInfo.ComName, line_.Name());
  EXPECT_EQ(file.PortInfo.BaudRate, 2400);
  EXPECT_EQ(file.PortInfo.Protocol, 2);
  EXPECT_TRUE(file.PortInfo.AutoStart);
  EXPECT_EQ(ReadAutostartEntry(AutostartDir()),
            AutostartEntryText("/opt/tessel/bin/tessel", home_.Path().string()));

  // The next frame on the line is a binary Modbus read request, not an ASCII frame ('~').
  std::vector<uint8_t> sent;
  ASSERT_TRUE(RunUntil([&] {
    const auto more = line_.Read();
    sent.insert(sent.end(), more.begin(), more.end());
    // An ASCII frame the port's thread was still writing when Save ran may arrive first.
    while (!sent.empty() && sent[0] == '~') {
      const auto cr = std::find(sent.begin(), sent.end(), '\r');
      if (cr == sent.end()) return false;
      sent.erase(sent.begin(), cr + 1);
    }
    return sent.size() >= 8;
  }));
  std::string bytes;
  for (uint8_t b : sent) bytes += std::to_string(b) + " ";
  EXPECT_NE(sent[0], '~') << bytes;
  EXPECT_TRUE(sent[1] == 3 || sent[1] == 4) << bytes;
}

TEST_F(SoftwareParaTest, FailedSaveStaysOpenAndCancelPutsEverythingBack) {
  // Autostart on with an entry of the operator's own making.
  const std::string ownEntry = "[Desktop Entry]\nType=Application\nExec=/usr/local/bin/mine\n";
  fs::create_directories(AutostartDir());
  std::ofstream(fs::path(AutostartDir()) / kAutostartFileName) << ownEntry;
  Open({line_.Name(), 4800, 0, 0, true});
  ASSERT_TRUE(host_->PortIsOpen());
  const auto fileBefore = ReadBytes(home_ / "UserParaIni.ini");

  SelectPort("COM256");  // /dev/ttyS255: no such device here
  Combo("cbxcurProtocol")->setCurrentIndex(2);
  Find<QCheckBox>("crbAutoStartup")->setChecked(false);
  Save();

  // The port's fixed text, then the device and why, then the ports that do exist.
  ASSERT_EQ(prompter_.Told.size(), 1u);
  const QString error = prompter_.LastTold();
  EXPECT_TRUE(error.startsWith("Error opening serial port\n/dev/ttyS255: ")) << error.toStdString();
  EXPECT_TRUE(error.contains("Serial ports on this computer:") ||
              error.contains("No serial ports were found"))
      << error.toStdString();
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_FALSE(host_->PortIsOpen());
  EXPECT_EQ(layouts_, 0);
  EXPECT_EQ(Info().ComName, "COM256");
  EXPECT_EQ(ReadAutostartEntry(AutostartDir()), std::nullopt);
  EXPECT_EQ(ReadBytes(home_ / "UserParaIni.ini"), fileBefore);

  Cancel();
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(Info().ComName, line_.Name());
  EXPECT_EQ(Info().BaudRate, 4800);
  EXPECT_EQ(Info().Protocol, 0);
  EXPECT_TRUE(Info().AutoStart);
  EXPECT_EQ(ReadAutostartEntry(AutostartDir()), ownEntry);
  EXPECT_TRUE(host_->PortIsOpen());
  EXPECT_EQ(ReadBytes(home_ / "UserParaIni.ini"), fileBefore);
  EXPECT_EQ(prompter_.Told.size(), 1u);
}

TEST_F(SoftwareParaTest, AutostartEntryFollowsTheCheckBox) {
  const fs::path entry = fs::path(AutostartDir()) / kAutostartFileName;
  const std::string ours = AutostartEntryText("/opt/tessel/bin/tessel", home_.Path().string());

  // Ticked: written; an entry for another program folder is rewritten.
  fs::create_directories(AutostartDir());
  std::ofstream(entry) << AutostartEntryText("/opt/tessel/bin/tessel", "/elsewhere");
  Open({line_.Name()});
  Find<QCheckBox>("crbAutoStartup")->setChecked(true);
  Save();
  EXPECT_EQ(ReadAutostartEntry(AutostartDir()), ours);

  // Shown again, ticked from the settings; unticked and saved: removed.
  ShowDialog();
  EXPECT_TRUE(Find<QCheckBox>("crbAutoStartup")->isChecked());
  Find<QCheckBox>("crbAutoStartup")->setChecked(false);
  Save();
  EXPECT_FALSE(fs::exists(entry));
  EXPECT_FALSE(FileSettings().PortInfo.AutoStart);
  EXPECT_TRUE(prompter_.Told.empty()) << prompter_.LastTold().toStdString();

  // The autostart folder cannot be made: said so, and the rest is saved.
  fs::remove_all(cfg_ / "autostart");
  std::ofstream(cfg_ / "autostart") << "a file where the folder belongs";
  ShowDialog();
  Find<QCheckBox>("crbAutoStartup")->setChecked(true);
  Combo("cbxcurProtocol")->setCurrentIndex(3);
  Save();
  ASSERT_EQ(prompter_.Told.size(), 1u);
  EXPECT_TRUE(
      prompter_.LastTold().startsWith("The automatic start could not be set; the other "
                                      "settings are saved.\nUnable to write to " +
                                      QString::fromStdString(entry.string())))
      << prompter_.LastTold().toStdString();
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(FileSettings().PortInfo.Protocol, 3);
  EXPECT_FALSE(FileSettings().PortInfo.AutoStart);  // what the entry is: none
  EXPECT_FALSE(Info().AutoStart);
  EXPECT_TRUE(host_->PortIsOpen());
}

// The same failure in Chinese, with another port chosen: the message is in the window's
// language, and the new port is saved and open, so that memory never names a port other than
// the open one.
TEST_F(SoftwareParaTest, AutostartFailureIsSaidInTheLanguageAndTheNewPortIsTheOpenOne) {
  Line other;
  ASSERT_FALSE(other.Name().empty());
  std::ofstream(cfg_ / "autostart") << "a file where the folder belongs";
  Open({line_.Name(), 9600, 2, 1});
  ASSERT_TRUE(host_->PortIsOpen());
  Combo("cbxComName")
      ->insertItem(0, QString::fromStdString(other.Name()), QString::fromStdString(other.Name()));
  SelectPort(QString::fromStdString(other.Name()));
  Find<QCheckBox>("crbAutoStartup")->setChecked(true);
  Save();
  ASSERT_EQ(prompter_.Told.size(), 1u);
  EXPECT_TRUE(prompter_.LastTold().startsWith("开机自启动未能设置,其余设置已保存。\n"))
      << prompter_.LastTold().toStdString();
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(Info().ComName, other.Name());
  EXPECT_TRUE(host_->PortIsOpen());
  EXPECT_EQ(host_->Core().Master().PortSettings().DeviceName, other.Name());
  EXPECT_EQ(FileSettings().PortInfo.ComName, other.Name());
}

// The window system showing the dialog again (a desktop switch re-maps it) is no new opening:
// what the operator chose and has not saved stays. Opening it again starts from the settings.
TEST_F(SoftwareParaTest, ShownAgainByTheWindowSystemKeepsTheUnsavedChoices) {
  Open({line_.Name(), 9600, 0});
  Combo("cbxcurProtocol")->setCurrentIndex(2);
  Combo("cbxBaudRate")->setCurrentText("4800");
  Find<QCheckBox>("crbAutoStartup")->setChecked(true);
  QShowEvent spontaneous;
  QCoreApplication::sendEvent(dialog_.get(), &spontaneous);
  QHideEvent hidden;
  QCoreApplication::sendEvent(dialog_.get(), &hidden);
  QCoreApplication::sendEvent(dialog_.get(), &spontaneous);
  EXPECT_EQ(Combo("cbxcurProtocol")->currentIndex(), 2);
  EXPECT_EQ(Combo("cbxBaudRate")->currentText(), "4800");
  EXPECT_TRUE(Find<QCheckBox>("crbAutoStartup")->isChecked());
  // Closed and opened again: the settings as they are.
  dialog_->hide();
  dialog_->show();
  EXPECT_EQ(Combo("cbxcurProtocol")->currentIndex(), 0);
  EXPECT_EQ(Combo("cbxBaudRate")->currentText(), "9600");
  EXPECT_FALSE(Find<QCheckBox>("crbAutoStartup")->isChecked());
}

TEST_F(SoftwareParaTest, UnwritableSettingsFileStaysOpenAndCancelPutsThePortBack) {
  // The port is closed when the dialog opens (the operator closed it).
  Open({line_.Name()});
  host_->ClosePort();
  ShowDialog();
  // The settings file's place is taken by a folder.
  fs::remove(home_ / "UserParaIni.ini");
  fs::create_directories(home_ / "UserParaIni.ini");
  Combo("cbxcurProtocol")->setCurrentIndex(1);
  Save();
  ASSERT_EQ(prompter_.Told.size(), 1u);
  EXPECT_TRUE(prompter_.LastTold().startsWith("Unable to write to "))
      << prompter_.LastTold().toStdString();
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_TRUE(host_->PortIsOpen());  // reopened with the new choice before the write
  EXPECT_EQ(layouts_, 1);
  Cancel();
  EXPECT_EQ(Info().Protocol, 0);
  EXPECT_FALSE(host_->PortIsOpen());  // closed, as it was
  EXPECT_EQ(layouts_, 2);             // the panels follow the protocol back
}

}  // namespace
}  // namespace tessel
