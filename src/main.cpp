// tessel: the UPS and inverter monitor.
#include <fenv.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/program_folder.h"
#include "host/host.h"
#include "host/qt_loop.h"
#include "service/daemon.h"
#include "service/instance_guard.h"
#include "ui/common/app_icon.h"
#include "ui/common/prompter.h"
#include "ui/control/self_test_dialog.h"
#include "ui/control/software_para_dialog.h"
#include "ui/control/turn_on_dialog.h"
#include "ui/control/user_set_window.h"
#include "ui/logs/data_log_set_dialog.h"
#include "ui/logs/data_log_window.h"
#include "ui/logs/event_log_window.h"
#include "ui/main/device_tree.h"
#include "ui/main/main_window.h"
#include "ui/main/tray_icon.h"
#include "ui/search/search_dialog.h"
#include "ui/trace/trace_window.h"

namespace {

bool HasOption(int argc, char* argv[], std::initializer_list<const char*> options) {
  for (int i = 1; i < argc; ++i)
    for (const char* option : options)
      if (std::strcmp(argv[i], option) == 0) return true;
  return false;
}

// The windowed program: the main window over the host, the host's start-up, the event loop.
int RunWindows(const tessel::ProgramPaths& paths, tessel::InstanceGuard& guard) {
  tessel::Host host(paths);
  tessel::MessageBoxPrompter prompter;
  // The Trace window exists from start-up on, hidden until the About window opens it.
  tessel::TFrmCom trace(host);
  tessel::TFrmMain window(host, prompter);
  tessel::WindowSeams seams;
  seams.Trace = &trace;
  seams.EventLog = [&] { tessel::TFrmEventLog::Open(host, prompter, &window); };
  // Created anew at each opening, modal, centred on the main window.
  seams.DataLog = [&] {
    tessel::TFrmDataLog viewer(host, prompter, &window);
    viewer.exec();
  };
  seams.LogSetting = [&] {
    tessel::TFrmDataLogSet dialog(host, &window);
    dialog.exec();
  };
  seams.Search = [&] {
    tessel::TFrmEquipSearch dialog(host, window.Tree(), prompter, &window);
    dialog.exec();
  };
  seams.SoftwareParameters = [&] {
    tessel::TFrmSoftwarePara dialog(
        host, prompter, [&window] { window.ApplyProtocolLayout(); }, &window);
    dialog.exec();
  };
  auto selected = [&window] { return window.GetSelDevAddr(); };
  seams.BatteryTest = [&] {
    tessel::TFrmTest dialog(host, prompter, selected, &window);
    dialog.exec();
  };
  seams.TurnOnOff = [&] {
    tessel::TfrmTrunOn dialog(host, prompter, selected, &window);
    dialog.exec();
  };
  // The user data window lives from start-up to shutdown; the menu only shows it.
  tessel::TFrmUserSet userSet(host, prompter, selected, &window);
  seams.UserSet = [&userSet] {
    userSet.show();
    userSet.raise();
    userSet.activateWindow();
  };
  window.SetSeams(seams);
  QApplication::setDesktopFileName("tessel");  // the desktop entry the window belongs to
  QApplication::setWindowIcon(tessel::AppIcon());
  tessel::TrayIcon tray(
      host, [&window] { window.BringToFront(); }, [&window] { window.close(); });
  guard.OnActivate = [&window] { window.BringToFront(); };
  // What the network UPS server listens on, or why it cannot, for whoever started the program.
  QObject::connect(&host, &tessel::Host::nutServerReported, [](const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
  });
  // SIGINT or SIGTERM: an orderly stop without the exit question (the program-stop event is
  // written, the settings are left as they are on disk).
  QObject::connect(&host, &tessel::Host::stopRequested, &window, [&host] {
    host.Stop();
    QApplication::quit();
  });
  host.CatchStopSignals();
  host.Start();
  window.show();
  const int code = QApplication::exec();
  host.Stop();  // the program-stop event, when the window did not write it already
  return code;
}

}  // namespace

int main(int argc, char* argv[]) {
  // A division by zero anywhere gives an infinity or a NaN, never a trap.
  fedisableexcept(FE_ALL_EXCEPT);

  // Without windows it is the service, which needs neither a display nor Qt's event loop.
  if (HasOption(argc, argv, {"--headless"})) return tessel::RunDaemon(argc, argv);

  // The answers to --help and --version need no display either.
  std::unique_ptr<QCoreApplication> app;
  if (!HasOption(argc, argv, {"--help", "-h", "--help-all", "--version", "-v"}))
    app = std::make_unique<QApplication>(argc, argv);
  else
    app = std::make_unique<QCoreApplication>(argc, argv);
  QCoreApplication::setApplicationName("Tessel");
  QCoreApplication::setApplicationVersion(TESSEL_VERSION);

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Tessel monitors UPS and inverter units on one serial port (RS-232, or RS-485 with up to\n"
      "252 addressed units). The program folder holds UserParaIni.ini, Record/ and Backup/.");
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption headless("headless",
                              "Run without windows: print each event as it is logged, until "
                              "SIGINT or SIGTERM.");
  QCommandLineOption home("home",
                          "Use DIR as the program folder (default: $TESSEL_HOME, else the "
                          "executable's folder, else $XDG_DATA_HOME/tessel).",
                          "DIR");
  parser.addOption(headless);
  parser.addOption(home);
  parser.process(*app);

  const tessel::ProgramPaths paths = tessel::MakeProgramPaths(tessel::ResolveProgramFolder(
      tessel::FolderChoiceOfThisProcess(parser.value(home).toStdString())));

  tessel::QtLoop loop;
  tessel::InstanceGuard guard(paths.Home);
  if (!guard.Claim(loop)) {
    std::fprintf(stderr, "%s\n", tessel::AlreadyRunningText(paths.Home, guard.Reached()).c_str());
    return 0;
  }

  return RunWindows(paths, guard);
}
