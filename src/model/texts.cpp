#include "model/texts.h"

#include <string_view>

namespace tessel {

namespace {

struct TextRow {
  int code;
  std::string_view chinese;
  std::string_view english;
};

constexpr TextRow kStates[] = {
    {1, "待机状态", "Standby Status"},
    {2, "无输出状态", "Non-Output"},
    {3, "旁路状态", "Bypass Status"},
    {4, "市电状态", "Online"},
    {5, "电池状态", "Battery Status"},
    {6, "电池自检状态", "Battery Self-Test"},
    {7, "逆变启动中", "Inverter In Soft Starting"},
    {8, "经济模式", "ECO Status"},
    {9, "EPO状态", "EPO Status"},
    {10, "维护旁路模式", "Maintain Bypass Status"},
    {11, "故障模式", "Fault Status"},
    {18, "通讯中断", "Communication lost"},
};
constexpr TextRow kCommEvents[] = {
    {18, "通讯中断", "Communication lost"},
    {19, "通讯异常", "Communication Error"},
    {20, "监控软件开启", "Monitor software is open"},
    {21, "监控软件关闭", "Monitor software is closed"},
    {22, "通讯建立", "Communication upbuilt"},
    {23, "通讯恢复", "Communication recovered"},
    {30, "网络客户端请求开机", "Network client: load on"},
    {31, "网络客户端请求关机", "Network client: load off"},
    {32, "网络客户端请求电池自检", "Network client: battery test"},
    {33, "网络客户端请求停止电池自检", "Network client: battery test stopped"},
    {34, "网络客户端请求设置参数", "Network client: parameter set"},
};
constexpr TextRow kAlarms[] = {
    {0, "整流器故障", "Rectifier fault"},
    {1, "整流模块过温", "Rectifier over temperature"},
    {2, "逆变模块过温", "Inverter over temperature"},
    {3, "整流过流故障", "Rectifier over current"},
    {4, "辅助电源1故障", "Auxiliary power 1 fault"},
    {5, "辅助电源2故障", "Auxiliary power 2 fault"},
    {6, "输入晶闸管故障", "Input Thyristor fault"},
    {7, "电池放电晶闸管故障", "Discharge Thyristor fault"},
    {8, "电池充电晶闸管故障", "Charge Thyristor fault"},
    {9, "风扇故障", "Fan fault"},
    {10, "风扇电源故障", "Fan Power fault"},
    {11, "母线电压过压", "DC Bus over voltage"},
    {12, "母线电压欠压", "DC Bus below voltage"},
    {13, "正负母线压差大", "DC bus unbalance"},
    {14, "输入电压相序反", "Mains Site Wiring Fault"},
    {15, "软启动失败", "Soft start failed"},
    {16, "输入缺零", "Input Neutral line missing"},
    {17, "电池反", "Battery reverse"},
    {18, "电池无", "No battery"},
    {19, "正组电池充电器故障", "P-Battery Charger fault"},
    {20, "负组电池充电器故障", "N-battery charger fault"},
    {21, "电池电压低", "Battery under voltage"},
    {22, "电池电压高", "Battery over voltage"},
    {23, "电池电压预告警", "Low battery alarm"},
    {24, "市电频率异常", "Mains freq. abnormal"},
    {25, "市电电压异常", "Mains volt. abnormal"},
    {32, "逆变器故障", "Inverter fault"},
    {33, "逆变桥臂直通", "Inv. IGBT bridge shorted"},
    {34, "逆变晶闸管短路故障", "Inverter Thyristor short"},
    {35, "逆变晶闸管断路故障", "Inverter Thyristor broken"},
    {36, "旁路晶闸管短路故障", "Bypass Thyristor short"},
    {37, "旁路晶闸管断路故障", "Bypass Thyristor broken"},
    {38, "CAN通信故障", "CAN comm. Fault"},
    {39, "并机均流故障", "Parallel load sharing fault"},
    {40, "旁路反序", "Bypass Site Wiring Fault"},
    {41, "不同步", "No synchronization"},
    {42, "旁路超跟踪", "Bypass unable to trace"},
    {43, "旁路超保护", "Bypass Not Available"},
    {44, "IGBT过流", "IGBT over current"},
    {45, "熔丝断", "Fuse broken"},
    {46, "并机连线故障", "Cable connection error"},
    {47, "并机继电器故障", "Parallel relay fault"},
    {48, "LBS超跟踪", "LBS Not SYNC"},
    {49, "上电初始化故障", "Initializtion fault"},
    {50, "开机无效", "Inverter on invalid"},
    {51, "过载", "Overload"},
    {52, "并机过载", "Parallel Overload"},
    {53, "逆变直流分量过大", "DC component over limit"},
    {54, "旁路过流", "Bypass over current"},
    {55, "回馈保护", "Feedback protection"},
    {56, "BUS电压异常", "DC BUS volt. abnormal"},
    {64, "电池损坏", "Battery Fault"},
    {65, "电池过温", "Battery temperature over"},
    {66, "电池电压高", "Battery over voltage"},
    {67, "电池电压低", "Battery under voltage"},
    {68, "火灾报警", "Fire Alarm"},
    {69, "烟雾报警", "Fog Alarm"},
    // English texts of our own for 70 and 71, so that the English alarm list shows them too.
    {70, "机型错误", "Model error"},
    {71, "预防性维护时间到", "Preventive maintenance due"},
    {100, "主路频率异常", "Main frequency abnormal"},
    {101, "主路熔丝断", "Main fuse broken"},
    {102, "主路相序反", "Main phase sequence not OK"},
    {103, "主路缺相故障", "Main open-phase"},
    {104, "辅助电源1掉电", "Auxiliary power supply 1 power down"},
    {105, "辅助电源2掉电", "Auxiliary power supply 2 power down"},
    {106, "整流器限流", "limited rectifier current"},
    {107, "软启动失败", "Soft-start failure"},
    {108, "整流器过温", "Rectifier over-temperature"},
    {109, "输入滤波器故障", "Input filter failure"},
    {110, "滤波器过流", "Filter over-current"},
    {111, "滤波器接触器故障", "Filter contactor failure"},
    {112, "整流器驱动电缆故障", "Rectifier drive cable fault"},
    {113, "整流通讯故障", "Rectifier communication fault"},
    {114, "逆变器过温", "Inverter over-temperature"},
    {115, "风扇故障", "Fan fault"},
    {116, "逆变晶闸管故障", "Inverter thyristor fault"},
    {117, "旁路晶闸管故障", "Bypass thyristor fault"},
    {118, "用户操作错误", "User operation error"},
    {119, "单机输出过载", "Single output overload"},
    {120, "并机系统过载", "Parallel system overload"},
    {121, "单机过载超时", "Single overload overtime"},
    {122, "旁路异常关机", "Bypass abnormal,shutdown"},
    {123, "交流输出过压", "AC output over-voltage"},
    {124, "逆变器过流", "Inverter over-current"},
    {125, "旁路相序反", "Bypass phase sequence is not OK"},
    {126, "负载冲击转旁路", "Transient overload, transfer to bypass"},
    {127, "旁路切换次数限制", "Limit transfer times to bypass"},
    {128, "并机均流故障", "Current unbalanced in parallel system"},
    {129, "母线异常关机", "Bus abnormal, shutdown"},
    {130, "邻机请求转旁路", "Neighbor request to transfer to bypass"},
    {131, "并机板故障", "Parallel board fault"},
    {132, "并机线连线故障", "Parallel cable connection fault"},
    {133, "并机通讯故障", "Parallel communication fault"},
    {134, "旁路过流故障", "Bypass over-current"},
    {135, "LBS故障", "LBS fault"},
    {136, "旁路电感过温", "Bypass inductor over-temperature"},
    {137, "静态开关过温", "Static switch over-temperature"},
    {138, "旁路反灌故障", "Return to mains via the bypass"},
    {139, "逆变器驱动电缆故障", "Inverter drive cable fault"},
    {140, "逆变通讯故障", "Inverter communication fault"},
    {141, "并机系统电池预告警故障", "Battery pre-alarm fault in parallel system"},
    {142, "紧急关机", "Emergency power off"},
    {143, "环境温度过高", "High ambient temperature"},
    {144, "蓄电池需维护或电池寿命终结", "Battery needs maintenance or its life end"},
    {145, "电池温度过高", "Battery temperature is too high"},
    {146, "电池接地故障", "Battery ground fault"},
    {147, "电池熔丝断", "Battery fuse broken"},
    {148, "BCB未接入", "BCB disconnected"},
    {150, "母线电容过压", "Over-voltage on BUS capacitor"},
    {151, "母线过压", "Over-voltage on BUS"},
    {153, "输入电流不均", "Input current unbalanced"},
    {154, "输出电容需维护", "Output capacitor needs maintenance"},
    {155, "滤波器切换次数到", "Transfer times to filter is out of range"},
    {160, "BCB断开", "BCB Break"},
    {201, "逆变器不同步", "Inverter not sync"},
    {202, "主路电压异常", "Mains Volt. abnormity"},
    {203, "整流器封锁", "Rectifier block"},
    {204, "逆变输出电压异常", "Inverter Volt. abnormity"},
    {205, "旁路异常", "Bypass Not Available"},
    {206, "电池电压低", "Battery Under Voltage"},
    {207, "电池电压高", "Battery Over Voltage"},
    {208, "电池无", "No Battery"},
    {209, "电池欠压", "Battery Low Pre-warning"},
    {210, "电池接反", "Battery Reverse"},
};

template <size_t N>
std::string Lookup(const TextRow (&rows)[N], int code, uint8_t language) {
  for (const TextRow& r : rows)
    if (r.code == code) return std::string(language == 1 ? r.chinese : r.english);
  return {};
}

}  // namespace

std::string StateText(int index, uint8_t language) {
  return Lookup(kStates, index, language);
}

std::string CommEventText(int code, uint8_t language) {
  return Lookup(kCommEvents, code, language);
}

std::string AlarmText(int code, uint8_t language) {
  return Lookup(kAlarms, code, language);
}

}  // namespace tessel
