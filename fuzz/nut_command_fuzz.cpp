// The network UPS command parser and dispatcher on arbitrary client input, line by line, with a
// users file, a primary and a plain user, and units that answer, are lost, or run another protocol
// choice. Every reply must be whole lines in the protocol's shapes, every audit line one line, and
// no request may ever reach address 0 or leave a command slot with a unit outside the list.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "nut/nut_protocol.h"

using namespace tessel;

namespace {

bool ReplyIsWellFormed(const std::string& reply) {
  if (reply.empty()) return true;
  if (reply.back() != '\n') return false;
  size_t pos = 0;
  while (pos < reply.size()) {
    const size_t nl = reply.find('\n', pos);
    const std::string_view line(reply.data() + pos, nl - pos);
    if (line.empty()) return false;
    // Every line is one the protocol knows: nothing a unit's name or a client sent can pass for
    // a line of its own.
    static const char* const kStarts[] = {
        "OK",         "ERR ",     "BEGIN LIST ", "END LIST ", "UPS ",    "VAR ",
        "RW ",        "CMD ",     "ENUM ",       "RANGE ",    "CLIENT ", "TYPE ",
        "DESC ",      "UPSDESC ", "NUMLOGINS ",  "CMDDESC ",  "Tessel ", "1.3",
        "Commands: ", "ON",       "OFF",         "PENDING",   "SUCCESS"};
    bool known = false;
    for (const char* start : kStarts) known = known || line.rfind(start, 0) == 0;
    if (!known) return false;
    pos = nl + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const NutUsers users = ParseNutUsers(
      "[mon]\n password = pw\n upsmon primary\n"
      "[op]\n password = \"o p\"\n actions = SET\n instcmds = ALL\n");
  Context ctx;
  InitUpsTable(ctx.model.UpsTable);
  // The first byte picks the protocol choice, so every branch of the variables is reached.
  ctx.settings.PortInfo.Protocol = size > 0 ? data[0] % 4 : 2;
  for (uint8_t addr : {1, 2, 7}) {
    TEquipRec rec;
    rec.Addr = addr;
    rec.Name = MakeNameField("unit \"" + std::to_string(addr) + "\"\nVAR ups1 x \"y\"");
    AppendDevice(ctx.model.EquipList, rec);
  }
  for (uint8_t addr : {1, 7}) {
    ctx.model.UpsTable[addr].CommState = kCommOk;
    ctx.model.UpsTable[addr].RunState = kRunBattery;
  }
  ctx.model.UpsTable[7].AlarmCount = 2;
  ctx.model.UpsTable[7].AlarmCodes[0] = 23;
  ctx.model.UpsTable[7].AlarmCodes[1] = 51;

  NutProtocol nut(ctx, users);
  // An audit line is one line of the journal whatever a client sent, and of bounded length.
  nut.OnAudit = [](const std::string& line) {
    if (line.size() > 1024) __builtin_trap();
    for (char c : line)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) __builtin_trap();
  };
  if (size > 0 && (data[0] & 4)) nut.SetConfiguredModel("ZEV305LB");
  NutSession sessions[2];
  sessions[0].Peer = "127.0.0.1";
  sessions[1].Peer = "::1";
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t pos = size > 0 ? 1 : 0;
  int which = 0;
  while (pos < input.size()) {
    size_t nl = input.find('\n', pos);
    if (nl == std::string::npos) nl = input.size();
    NutSession& s = sessions[which];
    const std::string reply = nut.Handle(s, std::string_view(input).substr(pos, nl - pos));
    if (!ReplyIsWellFormed(reply)) __builtin_trap();
    // A line too long for the server ends the connection.
    if (nl - pos > kNutMaxLine && !s.Close) __builtin_trap();
    if (s.Close) {
      nut.Forget(s);
      s = NutSession{};
      s.Peer = "127.0.0.1";
      which ^= 1;
    }
    pos = nl + 1;
  }
  for (const TCmdRequest& slot : ctx.cmd.CmdSlots)
    if (slot.Pending && slot.Addr != 1 && slot.Addr != 7) __builtin_trap();
  for (int addr = 1; addr < kTableSize; ++addr)
    if (nut.NumLogins(addr) != 0 && addr != 1 && addr != 2 && addr != 7) __builtin_trap();
  return 0;
}
