// The software parameter dialog, and the message a port that will not open brings.
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <cerrno>

#include "app/port_error.h"
#include "host/host.h"
#include "shots.h"
#include "ui/common/prompter.h"
#include "ui/common/window_texts.h"
#include "ui/control/software_para_dialog.h"

namespace tessel::shots {

namespace {

// Keeps what the dialog would have said in a message box.
class KeepingPrompter : public Prompter {
 public:
  void Tell(QWidget*, MessageKind, const QString& text) override { Said = text; }
  bool Ask(QWidget*, const QString&) override { return false; }
  QString Said;
};

void ErrorBox(const QString& text, const QString& name) {
  QMessageBox box(QMessageBox::Critical, "Tessel", text, QMessageBox::Ok);
  Save(&box, name);
}

}  // namespace

void RenderSoftwarePara(int language, const std::string& port) {
  const QString lang = language == 1 ? "zh" : "en";
  QTemporaryDir dir;
  const std::string home = dir.path().toStdString();
  PrepareHome(home, port, language, 2);
  Host host(MakeProgramPaths(home));
  host.Start();
  KeepingPrompter prompter;
  {
    TFrmSoftwarePara dialog(host, prompter, [] {});
    // Never the real user's autostart entry.
    dialog.SetAutostartFolder(home + "/autostart");
    Save(&dialog, "softpara_" + lang);

    // A port that does not exist: the dialog stays open with the port's error.
    QComboBox* ports = dialog.findChild<QComboBox*>("cbxComName");
    ports->setCurrentIndex(ports->findData(QStringLiteral("COM256")));
    dialog.findChild<QPushButton*>("SaveSetBtn")->click();
    if (!prompter.Said.isEmpty()) ErrorBox(prompter.Said, "softpara_port_missing_" + lang);
    dialog.reject();
  }
  // A port the user may not use.
  ErrorBox(QString::fromStdString(
               DescribePortFailure({"Error opening serial port", "/dev/ttyUSB0", EACCES},
                                   static_cast<uint8_t>(language), {}, "dialout")),
           "softpara_port_denied_" + lang);
  // A device of the group root: no advice to join root, a udev rule instead.
  ErrorBox(QString::fromStdString(
               DescribePortFailure({"Error opening serial port", "/dev/ttyACM0", EACCES},
                                   static_cast<uint8_t>(language), {}, "root", "root")),
           "softpara_port_root_" + lang);
  // The autostart entry could not be written: said in the window's language, the rest saved.
  ErrorBox(
      Tr(txt::SoftParaAutoStartFailed, static_cast<uint8_t>(language))
          .arg("Unable to write to /home/op/.config/autostart/tessel.desktop: Not a directory"),
      "softpara_autostart_failed_" + lang);
  host.Stop();
}

}  // namespace tessel::shots
