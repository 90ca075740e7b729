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

// ---- main window: port and start-up ------------------------------------------------------------
inline constexpr UiText MainTitle{"Tessel监控", "Tessel Monitor"};
inline constexpr UiText PortOpenCaption{"开启串口", "Open COM"};
inline constexpr UiText PortCloseCaption{"关闭串口", "Close COM"};
inline constexpr UiText PortOpenSuffix{"  已开启", " is Link"};
inline constexpr UiText PortClosedStatus{"串口已关闭", "COM is closed"};
inline constexpr UiText PortOpenError{
    "开启串口时出错,请检查串口设置!",
    "There was an error to open serial port,please check the serial port settings !"};
inline constexpr UiText ExitQuestion{"您确定要退出系统吗?", "Exit Program ?"};
inline constexpr UiText DeviceNotCommunicating{"该设备未联机!", "The device is not communication!"};
inline constexpr UiText VersionPrefix{"Version ", "Version "};

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

}  // namespace txt
}  // namespace tessel
