// The display refresh of the main window with a full bus: 252 devices in the tree, one selected,
// on the offscreen platform. Steady is the usual case (states unchanged since the last refresh);
// Changing rewrites every caption and icon and switches the picture on each refresh.
#include <benchmark/benchmark.h>
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "app/device_list_file.h"
#include "host/host.h"
#include "model/ups_info.h"
#include "ui/common/prompter.h"
#include "ui/main/device_page.h"
#include "ui/main/main_window.h"

namespace {

using namespace tessel;

// A program folder with a full device list, its port a pseudo-terminal held open here.
struct FullBus {
  FullBus() {
    char name[256];
    openpty(&master, &slave, name, nullptr, nullptr);
    const std::string home = dir.path().toStdString();
    std::filesystem::create_directories(home + "/Record");
    std::ofstream(home + "/UserParaIni.ini")
        << "[CommPort]\nComName=" << name << "\nProtocol=2\n[Language]\nLanguage=1\n";
    TEquipList list;
    for (int a = 1; a <= kMaxDevices; ++a) {
      TEquipRec rec;
      rec.Addr = static_cast<uint8_t>(a);
      rec.Name = MakeNameField("UPS-" + std::to_string(a) + " 机房");
      AppendDevice(list, rec);
    }
    SaveDeviceList(home + "/Record/TreeNode.dat", list);
    host = std::make_unique<Host>(MakeProgramPaths(home));
    window = std::make_unique<TFrmMain>(*host, prompter);
    host->Start();
    window->show();
    QApplication::processEvents();
  }
  ~FullBus() {
    host->Stop();
    window.reset();
    host.reset();
    close(slave);
    close(master);
  }
  void SetStates(int32_t run, uint8_t alarms) {
    TUpsTable& table = host->Ctx().model.UpsTable;
    for (int a = 1; a <= kMaxDevices; ++a) {
      TUpsInfo& u = table[a];
      u.CommState = kCommOk;
      u.FailCnt = 0;
      u.RunState = run;
      u.AlarmCount = alarms;
      u.AlarmCodes[0] = 3;
      u.InputV_A = 229.5;
      u.OutputV_A = 220.1;
      u.LoadPer_A = 46;
    }
  }

  int master = -1, slave = -1;
  QTemporaryDir dir;
  SilentPrompter prompter;
  std::unique_ptr<Host> host;
  std::unique_ptr<TFrmMain> window;
};

void Refresh(benchmark::State& state, bool changing, int tab) {
  FullBus bus;
  bus.window->findChild<QTabWidget*>("PageControl2")->setCurrentIndex(tab);
  bus.SetStates(kRunOnline, 0);
  bus.window->RefreshDisplay();
  QApplication::processEvents();
  int i = 0;
  for (auto _ : state) {
    ++i;
    if (changing) bus.SetStates(i % 2 ? kRunBattery : kRunOnline, static_cast<uint8_t>(i % 2));
    bus.window->RefreshDisplay();
    // What the refresh leaves to draw is drawn before the next one.
    QApplication::processEvents();
  }
}

void BM_RefreshSteadyData(benchmark::State& s) {
  Refresh(s, false, 0);
}
void BM_RefreshSteadySketch(benchmark::State& s) {
  Refresh(s, false, 1);
}
void BM_RefreshChangingData(benchmark::State& s) {
  Refresh(s, true, 0);
}
void BM_RefreshChangingSketch(benchmark::State& s) {
  Refresh(s, true, 1);
}
BENCHMARK(BM_RefreshSteadyData)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshSteadySketch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshChangingData)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshChangingSketch)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
