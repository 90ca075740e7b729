// tessel: the UPS and inverter monitor.
#include <fenv.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

#include "app/headless_qt.h"
#include "app/program_folder.h"
#include "app/single_instance_qt.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

int main(int argc, char* argv[]) {
  // A division by zero anywhere gives an infinity or a NaN, never a trap.
  fedisableexcept(FE_ALL_EXCEPT);

  QCoreApplication app(argc, argv);
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
  parser.process(app);

  tessel::FolderChoice choice;
  choice.HomeOption = parser.value(home).toStdString();
  choice.HomeEnv = Env("TESSEL_HOME");
  choice.ExeDir = QCoreApplication::applicationDirPath().toStdString();
  choice.XdgDataHome = Env("XDG_DATA_HOME");
  choice.UserHome = Env("HOME");
  const tessel::ProgramPaths paths = tessel::MakeProgramPaths(tessel::ResolveProgramFolder(choice));

  tessel::SingleInstance guard(QString::fromStdString(paths.Home));
  if (!guard.Claim()) {
    std::fprintf(stderr, "Tessel is already running for %s; asked it to come to the front.\n",
                 paths.Home.c_str());
    return 0;
  }

  if (!parser.isSet(headless)) {
    std::fprintf(stderr, "This build of Tessel has no windows yet; start it with --headless.\n");
    return 2;
  }

  tessel::HeadlessMonitor monitor(paths, stdout);
  guard.OnActivate = [] {
    std::printf("Another copy asked this monitor to come to the front.\n");
    std::fflush(stdout);
  };
  return monitor.Run();
}
