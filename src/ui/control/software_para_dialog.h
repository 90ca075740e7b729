// The software parameter dialog: serial port, line speed, protocol, fast polling and start at
// login. Saving
// reopens the port, adapts the main window to the protocol and writes the settings file; an
// error keeps the dialog open, and Cancel then puts back what the dialog started from. An
// autostart entry that cannot be written is said in the window's language and the rest is saved.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace tessel {

class Host;
class Prompter;

class TFrmSoftwarePara : public QDialog {
 public:
  // applyProtocolLayout adapts the main window's panels to the saved protocol.
  TFrmSoftwarePara(Host& host, Prompter& prompter, std::function<void()> applyProtocolLayout,
                   QWidget* parent = nullptr);
  ~TFrmSoftwarePara() override;

  // The folder of the user's autostart entries (default from XDG_CONFIG_HOME and HOME) and the
  // program the entry starts (default: this executable).
  void SetAutostartFolder(const std::string& folder) { autostartFolder_ = folder; }
  void SetExecutable(const std::string& path) { executable_ = path; }

  // Cancel: closes; after a Save that failed, first puts back the settings in memory, the
  // autostart entry and the port as they were when the dialog was shown.
  void reject() override;

 protected:
  // The dialog starts from the settings when it is opened (show, exec), not when the window
  // system maps it again (a desktop switch, un-minimising): the operator's unsaved choices stay.
  void setVisible(bool visible) override;

 private:
  struct StartState {
    std::string ComName;
    int32_t BaudRate = 0;
    uint8_t Protocol = 0;
    bool AutoStart = false;
    bool FastPoll = false;
    std::optional<std::string> Entry;  // the autostart entry's content, none when absent
    bool PortOpen = false;
  };

  void FormShow();
  void SaveSetBtnClick();
  void Restore();
  void Fail(const std::string& message);

  Host& host_;
  Prompter& prompter_;
  std::function<void()> applyProtocolLayout_;
  std::string autostartFolder_;
  std::string executable_;
  std::optional<StartState> start_;
  bool changed_ = false;      // a Save changed something before it failed
  bool portTouched_ = false;  // ... and closed or reopened the port

  QLabel* bsSkinLabel2_;
  QComboBox* cbxComName_;
  QLabel* bsSkinLabel3_;
  QComboBox* cbxBaudRate_;
  QLabel* lbProtocol_;
  QComboBox* cbxcurProtocol_;
  QCheckBox* crbAutoStartup_;
  QCheckBox* chkFastPoll_;
  QPushButton* SaveSetBtn_;
  QPushButton* Button4_;
};

}  // namespace tessel
