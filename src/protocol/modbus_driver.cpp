#include "protocol/modbus_driver.h"

#include <limits>

#include "model/cmd_request.h"
#include "model/param_items.h"
#include "model/state_derivation.h"
#include "protocol/modbus_crc.h"

namespace tessel {

namespace {

struct PollStep {
  uint8_t func;
  int32_t reg;
  int32_t count;
};

// One device's cycle of reads; the fifth step exists only for the model that has register 40029.
constexpr PollStep kPollSteps[] = {
    {4, 30001, 14},  // voltages, frequency
    {4, 30021, 18},  // load, battery values
    {4, 30081, 11},  // UpsState and the ten status and alarm words
    {3, 40001, 28},  // settings 40002 .. 40028
    {3, 40029, 1},   // operation mode
};
constexpr int kStepsLost = 1;
constexpr int kStepsNormal = 4;
constexpr int kStepsWithOptMode = 5;

// Fast polling: the operating state and the alarm words in every round, the others in turn.
constexpr PollStep kFastState[] = {kPollSteps[2]};
constexpr PollStep kFastSlow[] = {kPollSteps[0], kPollSteps[1], kPollSteps[3], kPollSteps[4]};
constexpr int kFastSlowNormal = 3;
constexpr int kFastSlowWithOptMode = 4;

// A search probe is the first poll step sent to the probed address.
constexpr PollStep kSearchProbe = kPollSteps[0];

// Address, function, exception code and CRC: nothing shorter can be an answer.
constexpr int kMinAnswerLen = 5;
// Address, function and byte count ahead of the data, CRC after it.
constexpr int kReadHeaderLen = 3;
constexpr int kCrcLen = 2;

constexpr uint8_t kExceptionBit = 0x80;
constexpr uint8_t kWriteSingle = 6;

}  // namespace

void StoreRegister(TUpsInfo& u, int reg, uint16_t v) {
  const double tenth = v * 0.1;
  switch (reg) {
    case 30001:
      u.InputV_A = tenth;
      break;
    case 30002:
      u.InputV_B = tenth;
      break;
    case 30003:
      u.InputV_C = tenth;
      break;
    case 30011:
      u.OutputV_A = tenth;
      break;
    case 30012:
      u.OutputV_B = tenth;
      break;
    case 30013:
      u.OutputV_C = tenth;
      break;
    case 30014:
      u.OutputFreq = tenth;
      break;
    case 30021:
      u.LoadPer_A = v;
      break;
    case 30022:
      u.LoadPer_B = v;
      break;
    case 30023:
      u.LoadPer_C = v;
      break;
    case 30031:
      u.BattVP = tenth;
      break;
    case 30032:
      u.BattVN = tenth;
      u.DCInputV = u.BattVP + u.BattVN;
      break;
    case 30033:
      u.BattCurr1P = tenth;
      break;
    case 30034:
      u.BattCurr1N = tenth;
      u.BattCurr1 = u.BattCurr1P + u.BattCurr1N;
      break;
    case 30035:
      u.BattCurr2P = tenth;
      break;
    case 30036:
      u.BattCurr2N = tenth;
      u.BattCurr2 = u.BattCurr2P + u.BattCurr2N;
      break;
    case 30037:
      u.BattCapa = v;
      break;
    case 30038:
      u.BattLivingTime = v;
      break;
    case 30081:
      u.UpsState = static_cast<uint8_t>(v & 0xFF);
      break;
    case 30082:
      u.CmmState1 = v;
      break;
    case 30083:
      u.CmmState2 = v;
      break;
    case 30084:
      u.InvState1 = v;
      break;
    case 30085:
      u.InvState2 = v;
      break;
    case 30086:
      u.CmmAlarm1 = v;
      break;
    case 30087:
      u.CmmAlarm2 = v;
      break;
    case 30088:
      u.InvAlarm1 = v;
      break;
    case 30089:
      u.InvAlarm2 = v;
      break;
    case 30090:
      u.SysState = v;
      break;
    case 30091:
      u.SysAlarm = v;
      break;
    default:
      // Holding registers without a field (40001, 40010, ...) are simply not stored.
      if (reg >= 40002 && reg <= 40029) SetParamByRegister(u.Params, reg, v);
      break;
  }
  u.RunState = DeriveRunState(u);
}

TMModbus::TMModbus(Context& ctx) : ctx_(ctx) {}

TUpsInfo* TMModbus::TargetRecord() {
  // A list entry or command slot may carry an address above the table (the device search grid
  // appends what is typed); such a target is polled but has no record to decode into.
  const int addr = TargetAddr & 0xFF;
  if (addr > kMaxAddr) return nullptr;
  return &ctx_.model.UpsTable[addr];
}

void TMModbus::BuildRequest() {
  // The scheduler builds again only once the last request was answered or given up on.
  if (slotWrite_ && ctx_.cmd.LastWrite.Outcome == TCmdOutcome::Result::Sent)
    SetWriteOutcome(TCmdOutcome::Result::NoAnswer);
  slotWrite_ = false;
  // Nothing left over from an earlier build may be sent again.
  TxLen = 0;
  const TPollState& ps = ctx_.comm.PollState;
  if (ps.SearchMode) {
    TargetAddr = ps.SearchAddr;
    request_ = {ps.SearchAddr, kSearchProbe.func, kSearchProbe.reg, kSearchProbe.count};
    BuildFrame();
    return;
  }
  if (ps.ManualMode) return;
  if (!TakeCommandSlot()) NextPollStep();
  BuildFrame();
}

bool TMModbus::TakeCommandSlot() {
  for (TCmdRequest& slot : ctx_.cmd.CmdSlots) {
    if (slot.Pending == 0) continue;
    // Freed as soon as it is built: a request the unit refuses is not repeated.
    slot.Pending = 0;
    request_ = {slot.Addr, slot.Func, slot.Reg, slot.Count, slot.Value};
    TargetAddr = slot.Addr;
    ctx_.model.EquipList.CurAddr = slot.Addr;
    if (slot.Func == kWriteSingle) {
      slotWrite_ = true;
      TCmdOutcome& w = ctx_.cmd.LastWrite;
      w.Addr = slot.Addr;
      w.Reg = slot.Reg;
      w.Value = slot.Value;
      w.Id = slot.Id;
      SetWriteOutcome(TCmdOutcome::Result::Sent);
    }
    return true;
  }
  return false;
}

void TMModbus::NextPollStep() {
  if (ctx_.settings.PortInfo.FastPoll) {
    NextFastStep();
    return;
  }
  TPollState& ps = ctx_.comm.PollState;
  const TUpsInfo* rec = TargetRecord();
  int stepCount = kStepsNormal;
  if (rec == nullptr || rec->CommState == kCommLost)
    stepCount = kStepsLost;
  else if (ctx_.model.ModelCode == kOptModeModel)
    stepCount = kStepsWithOptMode;
  ps.StepCount = static_cast<uint8_t>(stepCount);

  // StepIndex is shared with the other drivers, so it may hold anything when we start.
  int step = ps.StepIndex + 1;
  if (step > stepCount) {
    step = 1;
    NextDevice(ctx_.model.EquipList);
    TargetAddr = ctx_.model.EquipList.CurAddr;
  }
  ps.StepIndex = static_cast<uint8_t>(step);

  const PollStep& s = kPollSteps[step - 1];
  request_ = {static_cast<uint8_t>(TargetAddr & 0xFF), s.func, s.reg, s.count};
}

void TMModbus::NextFastStep() {
  const int slowSteps =
      ctx_.model.ModelCode == kOptModeModel ? kFastSlowWithOptMode : kFastSlowNormal;
  const FastPick pick = fast_.Next(ctx_.model, 1, slowSteps);
  TargetAddr = pick.addr;
  const PollStep& s = pick.slow ? kFastSlow[pick.step] : kFastState[pick.step];
  request_ = {static_cast<uint8_t>(TargetAddr & 0xFF), s.func, s.reg, s.count};
}

void TMModbus::BuildFrame() {
  answerFlag_ = 0;
  TxLen = 0;
  uint16_t second = 0;
  switch (request_.Func) {
    case 1:
    case 2:
    case 3:
    case 4:
      second = static_cast<uint16_t>(request_.Count);
      break;
    case kWriteSingle:
      second = request_.Value;
      break;
    default:
      return;  // a function we cannot frame sends nothing
  }
  // Register numbers are one above their wire address (30001 travels as 30000).
  const auto wireReg = static_cast<uint16_t>(request_.Reg - 1);
  uint8_t* b = ctx_.comm.TxBuf.data();
  b[0] = request_.SlaveAddr;
  b[1] = request_.Func;
  b[2] = static_cast<uint8_t>(wireReg >> 8);
  b[3] = static_cast<uint8_t>(wireReg & 0xFF);
  b[4] = static_cast<uint8_t>(second >> 8);
  b[5] = static_cast<uint8_t>(second & 0xFF);
  const uint16_t crc = ModbusCrc(b, 6);
  b[6] = static_cast<uint8_t>(crc & 0xFF);
  b[7] = static_cast<uint8_t>(crc >> 8);
  TxLen = kModbusRequestLen;
}

bool TMModbus::ParseAnswer(const uint8_t* data, int n) {
  if (data == nullptr || n < kMinAnswerLen) return false;
  if (data[0] != (TargetAddr & 0xFF)) return false;
  if (ModbusCrc(data, static_cast<std::size_t>(n)) != 0) return false;
  // Read answers do not name their registers: an answer to another function (a late answer to an
  // earlier request) would be stored under the wrong ones.
  const uint8_t func = data[1];
  if ((func & ~kExceptionBit) != request_.Func) return false;

  const bool searching = ctx_.comm.PollState.SearchMode != 0;
  TUpsInfo* rec = TargetRecord();
  if (!searching && rec == nullptr) return false;

  answerFlag_ = kFlagOn;
  Bump(ctx_.comm.Debug.AckOkCnt);
  if (searching) return true;
  if (slotWrite_) NoteWriteAnswer(func, data, n);
  if ((func & kExceptionBit) != 0) return false;
  if (func != 3 && func != 4) return true;  // a write echo needs no decoding

  // The byte count must describe exactly the bytes that arrived, and the registers must be the
  // ones asked for; anything else is decoded not at all rather than in part.
  const int byteCount = data[2];
  if (kReadHeaderLen + byteCount + kCrcLen != n) return false;
  if (byteCount % 2 != 0 || byteCount / 2 != request_.Count) return false;
  for (int i = 0; i < request_.Count; ++i) {
    const uint8_t* p = data + kReadHeaderLen + 2 * i;
    StoreRegister(*rec, request_.Reg + i, static_cast<uint16_t>((p[0] << 8) | p[1]));
  }
  DeriveSwitches(*rec);
  BuildAlarmList(*rec);
  return true;
}

// The operator learns what became of a write: the unit's echo, or its exception code.
void TMModbus::NoteWriteAnswer(uint8_t func, const uint8_t* data, int n) {
  if ((func & kExceptionBit) != 0)
    SetWriteOutcome(TCmdOutcome::Result::Refused, n > 2 ? data[2] : 0);
  else
    SetWriteOutcome(TCmdOutcome::Result::Accepted);
}

void TMModbus::SetWriteOutcome(TCmdOutcome::Result result, uint8_t exception) {
  TCmdOutcome& w = ctx_.cmd.LastWrite;
  // A re-sent write answered the same way again is no news.
  if (w.Outcome == result && w.Exception == exception && result != TCmdOutcome::Result::Sent)
    return;
  w.Outcome = result;
  w.Exception = exception;
  ++w.Seq;
  if (ctx_.cmd.OnWriteOutcome) ctx_.cmd.OnWriteOutcome(w);
}

}  // namespace tessel
