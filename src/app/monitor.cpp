#include "app/monitor.h"

#include <algorithm>
#include <cerrno>

#include "app/device_list_file.h"
#include "app/port_error.h"
#include "app/settings_file.h"
#include "log/event_log_query.h"
#include "protocol/epower_driver.h"
#include "protocol/modbus_driver.h"
#include "protocol/ydt_v31_driver.h"

namespace tessel {

std::string PortOpenErrorText(uint8_t language) {
  return IsChinese(language)
             ? "开启串口时出错,请检查串口设置!"
             : "There was an error to open serial port,please check the serial port settings !";
}

std::string PortStatusText(const Settings& s) {
  return s.PortInfo.ComName + (IsChinese(s.Language) ? "  已开启" : " is Link");
}

std::string EventLine(const TEventRec& rec, uint8_t language) {
  std::string line = FormatDateTime(rec.Time) + "  ";
  line += rec.Address == 0 ? std::string("   ") : std::to_string(rec.Address);
  line.resize(std::max<size_t>(line.size(), 24), ' ');
  std::string text = EventText(rec, language);
  if (text.empty())
    text = "(kind " + std::to_string(rec.Kind) + ", code " + std::to_string(rec.Code) + ")";
  return line + "  " + text;
}

Monitor::Monitor(ProgramPaths paths, SerialPort& port, const Clock& clock)
    : paths_(std::move(paths)), port_(port), clock_(clock) {}

Monitor::~Monitor() = default;

void Monitor::StartUp(StartupHooks& hooks) {
  CreateProgramFolders(paths_);
  ReadUserParaIni(paths_.SettingsFile, ctx_.settings);
  hooks.AfterSettingsRead();

  eventLog_ = std::make_unique<TEventLog>(paths_.RecordDir, paths_.BackupDir, paths_.EventLogName,
                                          ctx_.model.UpsTable, clock_);
  dataLog_ = std::make_unique<TDataLog>(paths_.RecordDir);
  hooks.AfterLogStores();

  const DeviceListLoad load = LoadDeviceList(paths_.TreeFile, ctx_.model.EquipList);
  hooks.AfterDeviceList(load);
  InitUpsTable(ctx_.model.UpsTable);

  // The communication master's part: send mode "Auto", no search, Trace window hidden.
  ctx_.comm.PollState.ManualMode = kFlagOff;
  ctx_.comm.PollState.SearchMode = kFlagOff;
  ctx_.comm.TraceShown = kFlagOff;
  ydt_ = std::make_unique<TYdtV31Protocol>(ctx_);
  epower_ = std::make_unique<TEpowerProtocol>(ctx_);
  modbus_ = std::make_unique<TMModbus>(ctx_);
  master_ = std::make_unique<TCommMaster>(
      ctx_, TCommMaster::Drivers{ydt_.get(), epower_.get(), modbus_.get()}, port_, *eventLog_,
      *dataLog_, clock_);
  eventLog_->LogProgramEvent(0);
  started_ = true;
  hooks.StartPollTimer();
  hooks.AfterPortOpen(OpenPort());
}

std::string Monitor::OpenPort() {
  try {
    master_->OpenComm();
  } catch (const SerialPortError& e) {
    // Listing the ports costs a walk over the system's devices: only when the device is missing.
    const int sysError = e.SysError();
    const bool missing = sysError == ENOENT || sysError == ENODEV || sysError == ENXIO;
    return DescribePortFailure({e.what(), e.Device(), sysError}, ctx_.settings.Language,
                               missing ? port_.ListPorts() : std::vector<SerialPortListing>{},
                               DeviceGroup(e.Device()), DeviceOwner(e.Device()));
  }
  return master_->CommIsOpen() ? std::string() : PortOpenErrorText(ctx_.settings.Language);
}

int Monitor::Tick() {
  // A unit changes state only on a transmission to it, and a tick that transmits builds nothing,
  // so CurAddr names the same unit before and after.
  const uint8_t addr = ctx_.model.EquipList.CurAddr;
  if (addr >= kTableSize) {
    master_->Tick();
    return -1;
  }
  TUpsInfo& u = ctx_.model.UpsTable[addr];
  const uint8_t before = u.CommState;
  master_->Tick();
  if (u.CommState == before) return -1;
  if (u.CommState == kCommLost) ClearLiveValues(u);
  return addr;
}

void Monitor::ClearListedRecords() {
  const TEquipList& list = ctx_.model.EquipList;
  for (int k = 1; k <= list.Count; ++k) {
    const uint8_t addr = list.Items[k].Addr;
    if (addr != 0 && addr < kTableSize) ClearLiveValues(ctx_.model.UpsTable[addr]);
  }
}

void Monitor::ShutDown() {
  if (!started_) return;
  started_ = false;
  eventLog_->LogProgramEvent(1);
  master_->CloseComm();
}

}  // namespace tessel
