// The texts of the windows, each in Chinese and English. Windows look their texts up here at the
// moment they apply the language; nothing else in the windows spells a text that a user reads.
#pragma once

#include <QString>
#include <cstdint>

#include "model/settings.h"

namespace tessel {

struct UiText {
  const char* zh;
  const char* en;
};

inline QString Tr(const UiText& t, uint8_t language) {
  return QString::fromUtf8(IsChinese(language) ? t.zh : t.en);
}

namespace txt {

// ---- main window: port and start-up -----------------------------------------------------------
// The port-open error and the open port's status text belong to the start-up sequence, which the
// headless monitor prints too: PortOpenErrorText and PortStatusText in app/monitor.h.
inline constexpr UiText MainTitle{"Tessel监控", "Tessel Monitor"};
inline constexpr UiText PortOpenCaption{"开启串口", "Open COM"};
inline constexpr UiText PortCloseCaption{"关闭串口", "Close COM"};
inline constexpr UiText PortClosedStatus{"串口已关闭", "COM is closed"};
inline constexpr UiText ExitQuestion{"您确定要退出系统吗?", "Exit Program ?"};
inline constexpr UiText DeviceNotCommunicating{"该设备未联机!", "The device is not communication!"};
inline constexpr UiText VersionPrefix{"Version ", "Version "};

// ---- tray icon and its notifications (%1 the unit's name in the device tree) -------------------
inline constexpr UiText TrayShowWindow{"显示窗口", "Show Window"};
inline constexpr UiText TrayExit{"退出", "Exit"};
inline constexpr UiText TrayOnBattery{"%1 电池供电", "%1 is on battery"};
inline constexpr UiText TrayFault{"%1 故障", "%1 has a fault"};
inline constexpr UiText TrayLost{"%1 通讯中断", "%1 is not answering"};
inline constexpr UiText TrayBack{"%1 已恢复正常", "%1 is back to normal"};

// ---- main window: what became of the last write to a unit (second status-bar panel) -----------
// %1 the unit's address, %2 "register=value", %3 one of the states below.
inline constexpr UiText WriteLine{"设备%1: %2 %3", "Unit %1: %2 %3"};
inline constexpr UiText WriteSent{"已发送", "sent"};
inline constexpr UiText WriteAccepted{"已接受", "accepted"};
inline constexpr UiText WriteRefused{"被拒绝(异常%1)", "refused (exception %1)"};
inline constexpr UiText WriteNoAnswer{"无应答", "no answer"};
inline constexpr UiText WriteSwitchOn{"开机", "Switch on"};
inline constexpr UiText WriteSwitchOff{"关机", "Switch off"};
inline constexpr UiText WriteSelfTest{"电池自检", "Battery self-test"};
inline constexpr UiText WriteUnlock{"参数写入许可", "Parameter write enable"};
inline constexpr UiText ModbusIllegalFunction{"非法功能码", "Illegal function"};
inline constexpr UiText ModbusIllegalAddress{"非法数据地址", "Illegal data address"};
inline constexpr UiText ModbusIllegalValue{"非法数据值", "Illegal data value"};
inline constexpr UiText ModbusDeviceFailure{"设备故障", "Device failure"};
inline constexpr UiText ModbusDeviceBusy{"设备忙", "Device busy"};

// ---- main window: supply texts (used by the device page) ---------------------------------------
inline constexpr UiText SupplyNone{"均不供电", "No Supply"};
inline constexpr UiText InputSupplyMains{"市电供电", "Mains Supply"};
inline constexpr UiText InputSupplyBattery{"电池供电", "Battery Supply"};
inline constexpr UiText UpsSupplyInverter{"逆变供电", "Inverter Supply"};
inline constexpr UiText UpsSupplyBypass{"旁路供电", "Bypass Supply"};
inline constexpr UiText UpsSupplyEco{"ECO", "ECO"};

// ---- device tree -------------------------------------------------------------------------------
inline constexpr UiText SubNodeRealTime{"实时信息", "Real-time Info"};
inline constexpr UiText SubNodeGraph{"曲线图", "Graph"};

inline constexpr UiText NewEquipTitle{"添加要监控的设备", "Append Equipment"};
inline constexpr UiText PropertyTitle{"设备属性", "Equipment Property"};
inline constexpr UiText EquipNameLabel{"设备名:", "Equipment Name:"};
inline constexpr UiText EquipAddrLabel{"设备地址:", "Equipment Address:"};
inline constexpr UiText AppendButton{"添加", "Append"};
inline constexpr UiText OkButton{"确定", "OK"};
inline constexpr UiText CancelButton{"取消", "Cancel"};
// The add dialog and the property dialog spell "name" differently in English.
inline constexpr UiText NewEquipNameEmpty{"设备名不能为空", "Equipment Name is empty !"};
inline constexpr UiText PropertyNameEmpty{"设备名不能为空", "Equipment name is empty !"};
inline constexpr UiText EquipAddrEmpty{"设备地址不能为空", "Equipment Address is empty !"};
inline constexpr UiText EquipNameTooLong{"设备名过长", "Equipment name is too long !"};
inline constexpr UiText EquipNameNotGbk{"设备名含有无法保存的字符: %1",
                                        "Equipment name has characters that cannot be stored: %1"};
inline constexpr UiText DeviceListSaveFailed{"无法保存设备列表: %1",
                                             "Unable to save the device list: %1"};
inline constexpr UiText DeviceListUnreadable{
    "无法读取设备列表 %1。\n设备树为空;在您确认之前不会覆盖该文件。",
    "The device list %1 cannot be read.\nThe device tree is empty; the file will not be "
    "overwritten without your word."};
inline constexpr UiText DeviceListDamaged{
    "设备列表 %1 中有 %2 条记录无法使用,已跳过:\n%3",
    "%2 records of the device list %1 cannot be used and were skipped:\n%3"};
inline constexpr UiText DeviceListOverwrite{
    "设备列表文件中有未能载入的记录。保存将丢弃这些记录(原文件另存为 %1)。是否继续?",
    "The device list file holds records that could not be loaded. Saving drops them (the "
    "file is first copied to %1). Save anyway?"};

// ---- About window ------------------------------------------------------------------------------
inline constexpr UiText AboutTitle{"关于", "About"};
inline constexpr UiText ProductText{"PC监控软件", "PC Monitor Software"};
inline constexpr UiText AboutPurpose{"UPS 与逆变器串口监控",
                                     "Monitors UPS and inverter units on a serial port"};
inline constexpr UiText AboutBus{"RS-232 单机或 RS-485 总线(地址 1 至 252)",
                                 "RS-232, or an RS-485 bus with addresses 1 to 252"};

// ---- grid export -------------------------------------------------------------------------------
inline constexpr UiText ExportRunning{"正在汇出......", "Remitting......"};
// %1 file, %2 the system's reason
inline constexpr UiText ExportCannotCreate{"无法创建文件 %1：%2", "Cannot create the file %1: %2"};
// %1 file, %2 rows written, %3 rows in all, %4 the system's reason
inline constexpr UiText ExportWriteFailed{
    "写入文件 %1 失败（已写入 %2 / %3 行）：%4\n文件中只保留失败前写完的整行。",
    "Writing %1 failed after %2 of %3 rows: %4\nThe file holds only the whole lines written "
    "before the failure."};
// %1 file, %2 rows written, %3 rows in all
inline constexpr UiText ExportCancelled{
    "汇出已取消（已写入 %2 / %3 行）：%1\n文件中只有已写完的整行。",
    "Export cancelled after %2 of %3 rows: %1\nThe file holds "
    "only the whole lines written."};

// ---- event log viewer --------------------------------------------------------------------------
inline constexpr UiText EventLogTitle{"事件日志", "Event Log"};
inline constexpr UiText EventViewModeCaption{"查询时间范围", "Search Type"};
inline constexpr UiText EventViewAll{"全部", "All"};
inline constexpr UiText EventViewYear{"按年", "Year"};
inline constexpr UiText EventViewMonth{"按月", "Month"};
inline constexpr UiText EventViewDate{"按日", "Date"};
inline constexpr UiText EventByAddress{"指定设备地址:", "Specify Equipment Address:"};
inline constexpr UiText YearLabel{"年", "Year"};
inline constexpr UiText MonthLabel{"月", "Month"};
inline constexpr UiText DateLabel{"日", "Date"};
inline constexpr UiText EventSearch{"查询", "Search"};
inline constexpr UiText EventRefresh{"刷新", "Refresh"};
inline constexpr UiText EventExport{"汇出", "Export"};
inline constexpr UiText EventClear{"清空数据库", "Clear Database"};
inline constexpr UiText EventClearQuestion{"是否清除掉所有的事件记录？",
                                           "Are you sure Delete all records ? "};
inline constexpr UiText EventClearCaption{"请确定", "Confirm"};
// Accessible names of the controls that show no text of their own.
inline constexpr UiText EventBusy{"正在查询", "Searching"};
inline constexpr UiText DebugLine{"调试信息", "Debug information"};

// ---- device search -----------------------------------------------------------------------------
inline constexpr UiText SearchTitle{"设备搜索", "Search Equipment"};
inline constexpr UiText SearchNetwork{"搜索网络上的设备", "Search Equipment on network"};
inline constexpr UiText SearchRange{"搜索地址范围", "Range of Searched Address "};
inline constexpr UiText SearchFrom{"从", "From"};
inline constexpr UiText SearchTo{"到", "To"};
inline constexpr UiText SearchStart{"搜索", "Search"};
inline constexpr UiText SearchStop{"停止", "Stop"};
inline constexpr UiText SearchFinished{"搜索完毕!", "Search Completed !"};
inline constexpr UiText SearchFound{"已搜索到", "Searched:"};
inline constexpr UiText SearchExisting{"已有地址", "Existed"};
inline constexpr UiText SearchPickOneHint{"只选择被选中项", "Select the selected address only"};
inline constexpr UiText SearchPickAllHint{"全部选择", "Select all"};
inline constexpr UiText SearchNameEdit{"编辑新设备名称", "Name Edit"};
inline constexpr UiText SearchClear{"清除", "Clear"};
inline constexpr UiText SearchAppend{"添加", "Append"};
inline constexpr UiText SearchAddrColumn{"地址", "Addr"};
inline constexpr UiText SearchNameColumn{"设备名", "Name"};
inline constexpr UiText SearchProgress{"搜索进度", "Search progress"};
inline constexpr UiText SearchGrid{"新设备列表", "New equipment list"};
inline constexpr UiText SearchStopFirst{"请先停止搜索再关闭窗口!",
                                        "Please stop search before close this forms !"};
inline constexpr UiText SearchAlreadyListed{"系统已有该地址!", "This address is already exists !"};
inline constexpr UiText SearchAlreadyInGrid{
    "该地址你已添加到列表,无需再添加!",
    "You had appended this address to the list,not to append again"};
inline constexpr UiText SearchEmptyName{
    "请填写设备名后再添加",
    "Please set Equipment name for every Equipment in the list before append !"};
inline constexpr UiText SearchNoDevice{"列表中没有可以添加的设备!",
                                       "There are no equipment that can be appended"};
// %1 row of the list (1 for the first device), %2 the address cell as typed
inline constexpr UiText SearchBadAddr{
    "第%1行的地址\"%2\"无效:地址应为1到252之间的整数!",
    "The address \"%2\" in row %1 is not valid: it must be a whole number from 1 to 252 !"};
inline constexpr UiText SearchRowListed{"第%1行的地址%2系统已有!",
                                        "The address %2 in row %1 is already in the device list !"};
inline constexpr UiText SearchRowRepeated{
    "第%1行的地址%2在列表中重复!", "The address %2 in row %1 appears more than once in the list !"};

// ---- software parameter dialog -----------------------------------------------------------------
inline constexpr UiText SoftParaTitle{"软件参数设定", "Software Parameter Setting"};
inline constexpr UiText SoftParaComLabel{"通讯串口", "COM"};
inline constexpr UiText SoftParaBaudLabel{"波特率", "Baud Rate"};
inline constexpr UiText SoftParaProtocolLabel{"通讯协议:", "Protocol:"};
inline constexpr UiText SoftParaProtocols[4] = {
    {"多模块UPS", "Multimode UPS"},
    {"三相工频UPS", "Industrial Frequency UPS"},
    {"Modbus", "Modbus "},
    {"ZEV", "ZEV"},
};
inline constexpr UiText SoftParaAutoStart{"开机自启动", "Automatic Run Program At Windows Startup"};
inline constexpr UiText SoftParaSave{"保存设置", "Save Setting"};
inline constexpr UiText SoftParaCancel{"取消", "Cancel"};
// %1: the system's account of what could not be written or removed.
inline constexpr UiText SoftParaAutoStartFailed{
    "开机自启动未能设置,其余设置已保存。\n%1",
    "The automatic start could not be set; the other settings are saved.\n%1"};

}  // namespace txt

// Where a text goes on a control.
enum class TextSlot {
  Text,     // caption of a label, button, action, menu, group box or window; title of a chart
  ToolTip,  // hint
  Tab,      // caption of a tab; the object is the tab page
  Name,     // accessible name of a control that shows no text of its own
};

struct ControlText {
  const char* object;  // objectName of the control
  TextSlot slot;
  UiText text;
};

// Every caption and hint the main window sets when the language changes.
inline constexpr ControlText kMainWindowTexts[] = {
    {"TFrmMain", TextSlot::Text, txt::MainTitle},
    {"mni100", TextSlot::Text, {"系统", "System"}},
    {"mni101", TextSlot::Text, {"用户设置", "User Set"}},
    {"mni102", TextSlot::Text, {"软件参数设定", "Software Parameter Setting"}},
    {"mni103", TextSlot::Text, {"退出", "Exit"}},
    {"mni200", TextSlot::Text, {"日志", "Log"}},
    {"mni201", TextSlot::Text, {"事件日志", "Event Log"}},
    {"mni202", TextSlot::Text, {"数据日志", "Data Log"}},
    {"mni203", TextSlot::Text, {"日志设定", "Log Setting"}},
    {"mni300", TextSlot::Text, {"控制", "Control"}},
    {"mni301", TextSlot::Text, {"电池自检", "Battery Test"}},
    {"mni401", TextSlot::Text, {"中文", "Chinese"}},
    {"mni402", TextSlot::Text, {"English", "English"}},
    {"mni500", TextSlot::Text, {"帮助", "Help"}},
    {"mni501", TextSlot::Text, {"关于", "About"}},
    {"mniTurnOn", TextSlot::Text, {"开关机", "Turn On/Off"}},
    {"ToolButton1", TextSlot::ToolTip, {"软件参数设定", "Software Parameter Setting"}},
    {"ToolButton2", TextSlot::ToolTip, {"中文简体", "Chinese"}},
    {"ToolButton3", TextSlot::ToolTip, {"English", "English"}},
    {"ToolButton4", TextSlot::ToolTip, {"事件日志", "Event Log"}},
    {"ToolButton5", TextSlot::ToolTip, {"数据日志", "Data Log"}},
    {"ToolButton8", TextSlot::ToolTip, {"日志设定", "Log Setting"}},
    {"ToolButton6", TextSlot::ToolTip, {"帮助", "About"}},
    {"ToolButton7", TextSlot::ToolTip, {"退出", "Exit"}},
    {"btnSearch", TextSlot::Text, {"搜索", "Search"}},
    {"btnNew", TextSlot::Text, {"添加", "Append"}},
    {"btnDelete", TextSlot::Text, {"删除", "Delete"}},
    {"btnProperty", TextSlot::Text, {"属性", "Property"}},
    {"btnSearch",
     TextSlot::ToolTip,
     {"搜索RS485网络上的逆变器", "Search inverters on RS485 network"}},
    {"btnNew",
     TextSlot::ToolTip,
     {"在设备树中添加要被监控的逆变器", "Append inverter of need to be Monitored "}},
    {"btnDelete",
     TextSlot::ToolTip,
     {"从设备树中删除不需要再监控的逆变器", "Delete inverter of need not to be used"}},
    {"btnProperty",
     TextSlot::ToolTip,
     {"查看设备树中指定的逆变器属性", "View property of inverter"}},
    {"tabData", TextSlot::Tab, {"数据", "Data"}},
    {"tabSketch", TextSlot::Tab, {"示意图", "Sketch Map"}},
    {"lblInputV_A", TextSlot::Text, {"输入A相电压", "Input A Phase V"}},
    {"lblInputV_B", TextSlot::Text, {"输入B相电压", "Input B Phase V"}},
    {"lblInputV_C", TextSlot::Text, {"输入C相电压", "Input C Phase V"}},
    {"lblOutputV_A", TextSlot::Text, {"输出A相电压", "Output A Phase V"}},
    {"lblOutputV_B", TextSlot::Text, {"输出B相电压", "Output B Phase V"}},
    {"lblOutputV_C", TextSlot::Text, {"输出C相电压", "Output C Phase V"}},
    {"lblLoadTitle", TextSlot::Text, {"UPS负载率", "Load percent"}},
    {"lblLoad_A", TextSlot::Text, {"A相", "A phase"}},
    {"lblLoad_B", TextSlot::Text, {"B相", "B phase"}},
    {"lblLoad_C", TextSlot::Text, {"C相", "C phase"}},
    {"lblDCInputV", TextSlot::Text, {"直流输入电压", "DC Input Voltage"}},
    {"lblBattLivingTime", TextSlot::Text, {"电池后备时间", "Support Time Of Battery"}},
    {"lblBattCapa", TextSlot::Text, {"电池容量率", "Capability of Battery"}},
    {"lblOutputFreq", TextSlot::Text, {"输出频率", "Output Frequence"}},
    {"Chart1", TextSlot::Text, {"输入电压(V)", "Input Voltage(V)"}},
    {"Chart2", TextSlot::Text, {"输出电压(V)", "Output Voltage(V)"}},
    {"grpSwitch", TextSlot::Text, {"开关状态", "Switch Status"}},
    {"grpSwitch",
     TextSlot::ToolTip,
     {"ON为闭合,OFF为断开", "ON express switch is closed,OFF express switch is open"}},
    {"grpAlarm", TextSlot::Text, {"告警", "Alarm"}},
    {"lblInputPowerSupply", TextSlot::Text, {"输入供电状态:", "Input Supply Power Status:"}},
    {"lblUpsPowerSupply", TextSlot::Text, {"UPS供电状态:", "UPS Supply Power Status:"}},
    {"TreeView1", TextSlot::Name, {"设备树", "Device tree"}},
    {"MemoAlarm", TextSlot::Name, {"告警", "Alarm"}},
    {"iLedTx", TextSlot::Name, {"发送指示灯", "Transmit lamp"}},
    {"iLedRx", TextSlot::Name, {"接收指示灯", "Receive lamp"}},
    {"iAGInPutV_A", TextSlot::Name, {"A相输入电压表", "Input A phase voltage gauge"}},
    {"iAGInPutV_B", TextSlot::Name, {"B相输入电压表", "Input B phase voltage gauge"}},
    {"iAGInPutV_C", TextSlot::Name, {"C相输入电压表", "Input C phase voltage gauge"}},
    {"iAGOutPutV_A", TextSlot::Name, {"A相输出电压表", "Output A phase voltage gauge"}},
    {"iAGOutPutV_B", TextSlot::Name, {"B相输出电压表", "Output B phase voltage gauge"}},
    {"iAGOutPutV_C", TextSlot::Name, {"C相输出电压表", "Output C phase voltage gauge"}},
    {"iLedBarA", TextSlot::Name, {"A相负载", "A phase load bar"}},
    {"iLedBarB", TextSlot::Name, {"B相负载", "B phase load bar"}},
    {"iLedBarC", TextSlot::Name, {"C相负载", "C phase load bar"}},
    {"pnlPicture", TextSlot::Name, {"运行模式示意图", "Operating mode diagram"}},
    {"PipCharge", TextSlot::Name, {"电池充放电指示", "Battery charge flow"}},
};

}  // namespace tessel
