// The device table (one record per bus address) and the monitored-device list.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tessel {

constexpr int kMaxAddr = 252;           // highest bus address
constexpr int kTableSize = 253;         // records for addresses 0..252
constexpr int kMaxDevices = 252;        // entries of EquipList
constexpr int kMaxAlarms = 80;          // entries of AlarmCodes
constexpr int kStatusBlockSize = 26;    // CmmState1 .. the five reserved bytes
constexpr int kMeasureBlockSize = 112;  // InputV_A .. BattCurr2 as stored in the data log
constexpr int kNameSize = 40;           // TEquipRec.Name
constexpr int kEquipRecSize = 42;       // one record of TreeNode.dat

// Setting values of one unit, one field per Modbus holding register (truncated to the field width).
struct TUpsParams {
  uint8_t SysID = 0;        // 40002
  uint8_t Reg40003 = 0;     // 40003
  int32_t SetMode = 0;      // 40004
  uint8_t VoltLevel = 0;    // 40005
  uint8_t FreqLevel = 0;    // 40006
  uint8_t ParaNum = 0;      // 40007
  uint8_t RedunNum = 0;     // 40008
  uint8_t Reg40009 = 0;     // 40009
  uint8_t BpsFreq = 0;      // 40011
  uint8_t BpsVMax = 0;      // 40012
  int16_t BpsVMin = 0;      // 40013
  int16_t OutputVFine = 0;  // 40014
  uint16_t BattNum = 0;     // 40015
  uint16_t Reg40016 = 0;    // 40016
  uint16_t BattGroup = 0;   // 40017
  uint16_t BattBoostV = 0;  // 40018
  uint16_t BattFloat = 0;   // 40019
  uint16_t EodV = 0;        // 40020
  uint16_t BattCap = 0;     // 40021
  uint16_t PreAlarm = 0;    // 40022
  uint16_t MaxChgCurr = 0;  // 40023
  uint16_t BoostLast = 0;   // 40025
  uint16_t StatusCtrl = 0;  // 40027
  uint16_t Reg40028 = 0;    // 40028
  uint8_t OptMode = 0;      // 40029
};

// Stores a holding register value into the field of that register (truncated to its width).
// Returns false for a register that has no field (40001, 40010, 40024, 40026, others).
bool SetParamByRegister(TUpsParams& p, int reg, uint16_t value);
// The field of a holding register widened to 16 bits (as it would be written); false if none.
bool GetParamByRegister(const TUpsParams& p, int reg, uint16_t& value);

// CommState of a device record.
constexpr uint8_t kCommOk = 0;     // communicating
constexpr uint8_t kCommError = 1;  // a few transmissions unanswered
constexpr uint8_t kCommLost = 2;   // lost; polled with one request kind only

// RunState: the operating state derived from the status words, the index of StateText.
enum RunStateCode : int32_t {
  kRunUnknown = -1,  // no answer decoded yet
  kRunStandby = 1,
  kRunNoOutput = 2,
  kRunBypass = 3,
  kRunOnline = 4,
  kRunBattery = 5,
  kRunSelfTest = 6,
  kRunSoftStart = 7,
  kRunEco = 8,
  kRunEpo = 9,
  kRunMaintBypass = 10,
  kRunFault = 11,
  kStateLost = 18,  // StateText index shown for a lost device
};

struct TUpsInfo {
  uint8_t Addr = 0;
  uint8_t CommState = 0;  // kCommOk, kCommError, kCommLost
  int32_t FailCnt = 0;
  int32_t PollCnt = 0;
  int32_t RecvCnt = 0;
  int32_t OkCnt = 0;
  int32_t OkRate = 0;
  double InputV_A = 0, InputV_B = 0, InputV_C = 0;
  double OutputV_A = 0, OutputV_B = 0, OutputV_C = 0;
  double LoadPer_A = 0, LoadPer_B = 0, LoadPer_C = 0;
  double OutputFreq = 0;
  double DCInputV = 0;
  uint32_t BattCapa = 0;
  uint16_t BattLivingTime = 0;
  double BattCurr1 = 0;
  double BattCurr2 = 0;
  uint8_t InputSwitch = 0;
  uint8_t OutputSwitch = 0;
  uint8_t BypassSwitch = 0;
  uint8_t MaintSwitch = 0;
  uint8_t BattTest = 0;
  uint8_t InputSupply = 0;
  uint8_t UpsSupply = 0;
  int32_t RunState = 0;
  int32_t PrevRunState = 0;
  std::array<int32_t, kMaxAlarms> AlarmCodes{};  // index 0 holds the list's entry 1
  uint8_t AlarmCount = 0;
  std::array<int32_t, kMaxAlarms> PrevAlarmCodes{};
  uint8_t PrevAlarmCount = 0;
  TUpsParams Params;
  double BattVP = 0;
  double BattVN = 0;
  double BattCurr1P = 0, BattCurr1N = 0;
  double BattCurr2P = 0, BattCurr2N = 0;
  uint16_t CmmState1 = 0, CmmState2 = 0;
  uint16_t CmmAlarm1 = 0, CmmAlarm2 = 0;
  uint16_t InvState1 = 0, InvState2 = 0;
  uint16_t InvAlarm1 = 0, InvAlarm2 = 0;
  uint16_t SysState = 0;
  uint16_t SysAlarm = 0;
  uint8_t UpsState = 0;
  std::array<uint8_t, 5> Reserved{};
};

using TUpsTable = std::array<TUpsInfo, kTableSize>;

// The 26-byte status snapshot copied into device event records (little-endian words).
std::array<uint8_t, kStatusBlockSize> StatusBlock(const TUpsInfo& u);
// The 112-byte measurement block copied into data log records.
std::array<uint8_t, kMeasureBlockSize> MeasureBlock(const TUpsInfo& u);
// Reads a measurement block back into the eleven doubles, BattCapa, BattLivingTime, BattCurr1/2.
void ApplyMeasureBlock(TUpsInfo& u, const uint8_t* block);

struct TEquipRec {
  uint8_t NodeIndex = 0;
  uint8_t Addr = 0;
  std::array<uint8_t, kNameSize> Name{};  // GBK bytes, CR padded, NUL terminates when present
};

// Builds a 40-byte name field from a UTF-8 name: converted to GBK, cut to 40 bytes (never inside a
// double-byte character), padded with CR.
std::array<uint8_t, kNameSize> MakeNameField(const std::string& utf8Name);
// The UTF-8 text of a name field: up to the first NUL, trailing CR padding removed.
std::string NameFieldText(const std::array<uint8_t, kNameSize>& field);

struct TEquipList {
  std::array<TEquipRec, kMaxDevices + 1> Items{};  // 1-based: Items[1..Count]
  uint8_t Count = 0;
  uint8_t Cursor = 0;
  uint8_t CurAddr = 0;
};

// Everything the program knows about the units.
struct DeviceModel {
  TUpsTable UpsTable{};
  TEquipList EquipList{};
  std::string ModelCode;  // entered in the settings password dialog, never saved
};

// Start values of all 253 records: Addr = index, CommState 2, FailCnt 0, BattCapa 0,
// RunState -1, PrevRunState -1; everything else zero.
void InitUpsTable(TUpsTable& table);
// Advances the poll rotation (Cursor wraps to 1 past Count; 0/0 for an empty list).
void NextDevice(TEquipList& list);
// Clears the live values of a device shown as lost or while the port is closed.
void ClearLiveValues(TUpsInfo& u);
// Appends a device; ignored (false) when the list is full.
bool AppendDevice(TEquipList& list, const TEquipRec& rec);
// 1-based position of an address in the list, 0 when absent.
int FindDevice(const TEquipList& list, uint8_t addr);

}  // namespace tessel
