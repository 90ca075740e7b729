// The texts of the device settings and control windows, each in Chinese and English.
#pragma once

#include "ui/common/window_texts.h"

namespace tessel::txt {

// ---- settings password -------------------------------------------------------------------------
inline constexpr UiText PswCaption{"Input Password", "Input Password"};
inline constexpr UiText PswOk{"OK", "OK"};
inline constexpr UiText PswCancel{"Cancle", "Cancle"};
inline constexpr UiText PswInvalid{"密码无效", "Password is invalid."};

// ---- parameter setting -------------------------------------------------------------------------
inline constexpr UiText DataSetCaption{"数据设置", "Data Set"};
inline constexpr UiText DataSetName{"项目名称", "Name"};
inline constexpr UiText DataSetValue{"数值", "Value"};
inline constexpr UiText DataSetBuzzer{"蜂鸣器", "Buzzer"};
inline constexpr UiText DataSetBoost{"均充", "Boost Charge"};
inline constexpr UiText DataSetSet{"设置", "Set"};
inline constexpr UiText Enable{"Enable", "Enable"};
inline constexpr UiText Disable{"Disable", "Disable"};
inline constexpr UiText SerialPortOff{"Serial Port Off", "Serial Port Off"};

// ---- user data ---------------------------------------------------------------------------------
inline constexpr UiText UserSetCaption{"用户设置量", "User Set"};
inline constexpr UiText UserSetSet{"设置", "Set"};
inline constexpr UiText UserSetBattery{"电池设置", "Battery Set"};
inline constexpr UiText UsSysID{"并机系统ID", "Parallel ID"};
inline constexpr UiText UsSetMode{"工作模式", "Work Mode"};
inline constexpr UiText UsVoltLevel{"系统电压等级(V)", "System Voltage Level(V)"};
inline constexpr UiText UsFreqLevel{"系统频率等级(Hz)", "System Frequency Level(Hz)"};
inline constexpr UiText UsParaNum{"并机台数", "Parallel Amount"};
inline constexpr UiText UsRedunNum{"并机冗余", "Parallel Redundancy"};
inline constexpr UiText UsBpsFreq{"旁路频率跟踪范围", "Bypass Frequency Range"};
inline constexpr UiText UsBpsVMax{"旁路电压上限", "Bypass Volt Upper Limit"};
inline constexpr UiText UsBpsVMin{"旁路电压下限", "Bypass Volt lower Limit"};
inline constexpr UiText UsOutputVFine{"逆变电压微调", "Invert-Volt adjustment"};
inline constexpr UiText UsBuzzer{"蜂鸣器", "Buzzer"};
inline constexpr UiText UsOptVolt{"操作模式", "Operation Mode"};
inline constexpr UiText UsBattNum{"电池节数", "Battery Number"};
inline constexpr UiText UsBattGroup{"电池组数", "Battery Group"};
inline constexpr UiText UsBattCap{"单节电池容量(AH)", "Single Battery Capability(AH)"};
inline constexpr UiText UsBattBoostV{"均充电压上限(V/Cell)", "Boost upper limit Volt.(V/Cell)"};
inline constexpr UiText UsBattFloat{"浮充基准电压(V/Cell)", "Float base Volt.(V/Cell)"};
inline constexpr UiText UsEodV{"EOD电压(V/Cell)", "EOD Volt(V/Cell)"};
inline constexpr UiText UsMaxChgCurr{"最大充电电流(A)", "Max Charge current(A)"};
inline constexpr UiText UsBoostLast{"均充持续时间(分钟)", "Boost Last Time(min)"};
inline constexpr UiText UsBoostChg{"均充", "Boost Charge"};
inline constexpr UiText UsPreAlarm{"关机预报警时间(分钟)", "Shutdown PreAlarm Time(min)"};
inline constexpr UiText OptModeNormal{"普通模式", "Normal"};
inline constexpr UiText OptModeSleep{"休眠模式", "Sleep"};
inline constexpr UiText OptModeFreq{"变频模式", "Frequency variable"};

// ---- battery self-test and remote on/off -------------------------------------------------------
inline constexpr UiText TestCaption{"电池自检", "Battery Test"};
inline constexpr UiText TestTime{"自检时间（秒）", "Test Time(Sec)"};
inline constexpr UiText TestStart{"电池自检", "Battery Test"};
inline constexpr UiText TestCancel{"取消自检", "Cancel Test"};
inline constexpr UiText TurnOnCaption{"用户控制", "Remote Control"};
inline constexpr UiText TurnOnTitle{"遥控", "Turn  On/Off  UPS"};
inline constexpr UiText TurnOnOn{"开机", "On"};
inline constexpr UiText TurnOnOff{"关机", "Off"};
inline constexpr UiText TurnOnOk{"确定", "OK"};

// ---- why a command was not queued --------------------------------------------------------------
inline constexpr UiText CmdNoDevice{"请先在设备树中选择设备!",
                                    "Select a device in the device tree first!"};
inline constexpr UiText CmdSlotBusy{"上一条命令尚未发出,请稍后再试!",
                                    "The previous command has not been sent yet. Please try again "
                                    "in a moment."};
inline constexpr UiText CmdNeedsModbus{"此功能仅适用于Modbus协议!",
                                       "This command needs the Modbus or ZEV protocol."};
inline constexpr UiText CmdBadValue{"该数值超出此项的范围!",
                                    "The value is out of this item's range."};

}  // namespace tessel::txt
