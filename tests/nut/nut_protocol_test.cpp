// The network UPS protocol as clients meet it: what anyone may read, what needs which user, the
// units' variables and status words, and the command requests it fills.
#include "nut/nut_protocol.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/event_log.h"
#include "model/cmd_request.h"
#include "protocol/modbus_crc.h"
#include "protocol/modbus_driver.h"

namespace tessel {
namespace {

constexpr const char* kUsers = R"(# users of the test
[mon]
  password = pw
  upsmon primary
[watch]
  password = "w"
  upsmon secondary
[op]
  password = "two words # not a comment"
  instcmds = load.off
  instcmds = test.battery.start test.battery.stop
  actions = SET
[admin]
  password = adm
  instcmds = ALL
  actions = SET FSD
)";

class NutDialogue : public ::testing::Test {
 protected:
  NutDialogue() : nut_(ctx_, ParseNutUsers(kUsers)) {
    InitUpsTable(ctx_.model.UpsTable);
    ctx_.settings.PortInfo.Protocol = 2;
    Add(1, "Server room");
    Add(2, "Lab \"B\"");
    TUpsInfo& u = ctx_.model.UpsTable[1];
    u.CommState = kCommOk;
    u.RunState = kRunOnline;
    u.InputSupply = 1;
    u.BattCapa = 87;
    u.BattLivingTime = 42;
    u.DCInputV = 271.25;
    u.InputV_A = 229.5;
    u.OutputV_A = 230;
    u.OutputFreq = 50;
    u.LoadPer_A = 42;
    u.Params.VoltLevel = 220;
    u.Params.EodV = 175;
    u.Params.StatusCtrl = 0x2000;  // boost charge disabled, buzzer on
    s_.Peer = "10.0.0.5";
  }

  void Add(uint8_t addr, const std::string& name) {
    TEquipRec rec;
    rec.Addr = addr;
    rec.Name = MakeNameField(name);
    AppendDevice(ctx_.model.EquipList, rec);
  }

  std::string Say(const std::string& line) { return nut_.Handle(s_, line); }
  void LogIn(const std::string& user, const std::string& password) {
    ASSERT_EQ(Say("USERNAME " + user), "OK\n");
    ASSERT_EQ(Say("PASSWORD " + password), "OK\n");
  }
  int PendingSlots() const {
    int n = 0;
    for (const TCmdRequest& r : ctx_.cmd.CmdSlots) n += r.Pending != 0;
    return n;
  }

  Context ctx_;
  NutProtocol nut_;
  NutSession s_;
};

TEST_F(NutDialogue, AnyoneListsTheUnitsAndReadsTheirVariables) {
  EXPECT_EQ(Say("LIST UPS"),
            "BEGIN LIST UPS\nUPS ups1 \"Server room\"\nUPS ups2 \"Lab \\\"B\\\"\"\nEND LIST UPS\n");
  EXPECT_EQ(Say("GET UPSDESC ups2"), "UPSDESC ups2 \"Lab \\\"B\\\"\"\n");
  EXPECT_EQ(Say("GET VAR ups1 ups.status"), "VAR ups1 ups.status \"OL\"\n");
  EXPECT_EQ(Say("GET VAR ups1 battery.runtime"), "VAR ups1 battery.runtime \"2520\"\n");
  EXPECT_EQ(Say("GET TYPE ups1 battery.charge"), "TYPE ups1 battery.charge NUMBER\n");
  EXPECT_EQ(Say("GET TYPE ups1 ups.beeper.status"), "TYPE ups1 ups.beeper.status RW ENUM\n");

  const std::string list = Say("LIST VAR ups1");
  for (const char* line :
       {"VAR ups1 device.type \"ups\"\n", "VAR ups1 driver.name \"tessel\"\n",
        "VAR ups1 battery.charge \"87\"\n", "VAR ups1 battery.voltage \"271.2\"\n",
        "VAR ups1 input.voltage \"229.5\"\n", "VAR ups1 output.voltage \"230.0\"\n",
        "VAR ups1 output.frequency \"50.0\"\n", "VAR ups1 ups.load \"42\"\n",
        "VAR ups1 ups.tessel.voltage.level \"380V\"\n",
        "VAR ups1 ups.tessel.battery.eod.voltage \"1.75\"\n",
        "VAR ups1 ups.beeper.status \"enabled\"\n",
        "VAR ups1 ups.tessel.battery.boost \"disabled\"\n"})
    EXPECT_NE(list.find(line), std::string::npos) << line << list;
  EXPECT_EQ(list.rfind("BEGIN LIST VAR ups1\n", 0), 0u);
  EXPECT_EQ(list.find("device.model"), std::string::npos) << "no model code entered";
  EXPECT_TRUE(list.size() > 20 && list.substr(list.size() - 18) == "END LIST VAR ups1\n");

  ctx_.model.ModelCode = "ZEV702";
  EXPECT_EQ(Say("GET VAR ups1 device.model"), "VAR ups1 device.model \"ZEV702\"\n");
}

TEST_F(NutDialogue, ALostOrUnheardUnitAndAClosedLineAreStale) {
  EXPECT_EQ(Say("GET VAR ups2 ups.status"), "ERR DATA-STALE\n");  // never answered
  EXPECT_EQ(Say("LIST VAR ups2"), "ERR DATA-STALE\n");
  ctx_.model.UpsTable[1].CommState = kCommError;  // a few misses: still data
  EXPECT_EQ(Say("GET VAR ups1 ups.status"), "VAR ups1 ups.status \"OL\"\n");
  ctx_.model.UpsTable[1].CommState = kCommLost;
  EXPECT_EQ(Say("GET VAR ups1 ups.status"), "ERR DATA-STALE\n");
  ctx_.model.UpsTable[1].CommState = kCommOk;
  nut_.SetLineOpen(false);
  EXPECT_EQ(Say("LIST RW ups1"), "ERR DATA-STALE\n");
  // What a unit is and can do does not go stale.
  EXPECT_EQ(Say("GET UPSDESC ups1"), "UPSDESC ups1 \"Server room\"\n");
  EXPECT_NE(Say("LIST CMD ups1").find("CMD ups1 load.off\n"), std::string::npos);
}

TEST_F(NutDialogue, RequestsOutsideTheProtocolGetItsErrorWords) {
  struct Case {
    const char* line;
    const char* reply;
  };
  const Case cases[] = {
      {"GET VAR ups3 ups.status", "ERR UNKNOWN-UPS\n"},  // not in the list
      {"GET VAR ups01 ups.status", "ERR UNKNOWN-UPS\n"},
      {"GET VAR ups0 ups.status", "ERR UNKNOWN-UPS\n"},
      {"GET VAR ups1 no.such", "ERR VAR-NOT-SUPPORTED\n"},
      {"GET VAR ups1", "ERR INVALID-ARGUMENT\n"},
      {"GET CMDDESC ups1 shutdown.return", "ERR CMD-NOT-SUPPORTED\n"},
      {"LIST VAR", "ERR INVALID-ARGUMENT\n"},
      {"LIST SOMETHING ups1", "ERR INVALID-ARGUMENT\n"},
      {"GET VAR ups1 \"ups.status", "ERR INVALID-ARGUMENT\n"},
      {"FROB ups1", "ERR UNKNOWN-COMMAND\n"},
      {"STARTTLS", "ERR FEATURE-NOT-CONFIGURED\n"},
      {"NETVER", "1.3\n"},
      {"", ""},
      {"LIST RANGE ups1 ups.tessel.battery.groups",
       "BEGIN LIST RANGE ups1 ups.tessel.battery.groups\n"
       "END LIST RANGE ups1 ups.tessel.battery.groups\n"},
      {"LIST ENUM ups1 ups.tessel.frequency.level",
       "BEGIN LIST ENUM ups1 ups.tessel.frequency.level\n"
       "ENUM ups1 ups.tessel.frequency.level \"50Hz\"\n"
       "ENUM ups1 ups.tessel.frequency.level \"60Hz\"\n"
       "END LIST ENUM ups1 ups.tessel.frequency.level\n"},
      {"GET CMDDESC ups1 load.off", "CMDDESC ups1 load.off \"Turn off the load immediately\"\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Say(c.line), c.reply) << c.line;
  EXPECT_FALSE(s_.Close);
  EXPECT_EQ(Say(std::string(kNutMaxLine + 1, 'A')), "ERR TOO-LONG\n");
  EXPECT_TRUE(s_.Close);
}

TEST_F(NutDialogue, CommandsNeedAUserTheUsersFileAllowsAndQueueTheUnitsWrite) {
  EXPECT_EQ(Say("INSTCMD ups1 load.off"), "ERR USERNAME-REQUIRED\n");
  ASSERT_EQ(Say("USERNAME op"), "OK\n");
  EXPECT_EQ(Say("USERNAME admin"), "ERR ALREADY-SET-USERNAME\n");
  EXPECT_EQ(Say("INSTCMD ups1 load.off"), "ERR PASSWORD-REQUIRED\n");
  ASSERT_EQ(Say("PASSWORD \"two words # not a comment\""), "OK\n");
  EXPECT_EQ(Say("INSTCMD ups1 load.on"), "ERR ACCESS-DENIED\n");  // not among op's commands
  EXPECT_EQ(PendingSlots(), 0);

  EXPECT_EQ(Say("INSTCMD ups1 load.off"), "OK\n");
  EXPECT_NE(ctx_.cmd.CmdSlots[1].Pending, 0);
  EXPECT_EQ(ctx_.cmd.CmdSlots[1].Addr, 1);
  EXPECT_EQ(ctx_.cmd.CmdSlots[1].Reg, kRegSwitchOff);
  // The slot still waits for the line: refused, the waiting write stays as it was.
  EXPECT_EQ(Say("INSTCMD ups1 test.battery.stop"), "ERR INSTCMD-FAILED\n");
  EXPECT_EQ(PendingSlots(), 1);
  EXPECT_EQ(ctx_.cmd.CmdSlots[1].Reg, kRegSwitchOff);
  ctx_.cmd.CmdSlots = {};  // sent

  EXPECT_EQ(Say("INSTCMD ups1 test.battery.start 0"), "ERR INVALID-VALUE\n");
  EXPECT_EQ(Say("INSTCMD ups1 test.battery.start 70000"), "ERR INVALID-VALUE\n");
  EXPECT_EQ(Say("INSTCMD ups1 test.battery.start 30"), "OK\n");
  EXPECT_EQ(StoredValue(ctx_.cmd, kRegSelfTest), 30);
  EXPECT_EQ(Say("INSTCMD ups2 test.battery.stop"), "ERR DATA-STALE\n");
  EXPECT_EQ(Say("INSTCMD ups9 test.battery.stop"), "ERR UNKNOWN-UPS\n");
}

TEST_F(NutDialogue, UpsNamesAndCommandWordsAreCaseBlindAndTheRepliesEchoTheName) {
  struct Case {
    const char* line;
    const char* reply;
  };
  const Case cases[] = {
      {"GET VAR UPS1 ups.status", "VAR UPS1 ups.status \"OL\"\n"},
      {"get var Ups1 ups.status", "VAR Ups1 ups.status \"OL\"\n"},
      {"list ups",
       "BEGIN LIST UPS\nUPS ups1 \"Server room\"\nUPS ups2 \"Lab \\\"B\\\"\"\nEND LIST UPS\n"},
      {"list cmd UPS1",
       "BEGIN LIST CMD UPS1\nCMD UPS1 load.off\nCMD UPS1 load.on\nCMD UPS1 test.battery.start\n"
       "CMD UPS1 test.battery.stop\nEND LIST CMD UPS1\n"},
      {"Get NumLogins UPS2", "NUMLOGINS UPS2 0\n"},
      {"GET VAR UPS01 ups.status", "ERR UNKNOWN-UPS\n"},  // still one spelling of the number
      {"GET VAR UPX1 ups.status", "ERR UNKNOWN-UPS\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Say(c.line), c.reply) << c.line;
  LogIn("op", "two words # not a comment");
  EXPECT_EQ(Say("instcmd UPS1 load.off"), "OK\n");
  ctx_.cmd.CmdSlots = {};
  ctx_.model.ModelCode = "ZEV305";
  EXPECT_EQ(Say("set var UPS1 ups.beeper.status disabled"), "OK\n");
}

// The driver between the server and a unit that echoes, refuses or stays silent.
class NutTracking : public NutDialogue {
 protected:
  NutTracking() : driver_(ctx_) {
    ctx_.model.ModelCode = "ZEV305";
    nut_.OnAudit = [this](const std::string& l) { audit_.push_back(l); };
    nut_.OnUnitEvent = [this](int addr, int code) { events_.emplace_back(addr, code); };
  }
  // The driver takes the next waiting write; the unit echoes it, refuses it, or says nothing.
  enum class Unit { Echo, Refuse, Silent };
  void SendNext(Unit unit) {
    driver_.BuildRequest();
    ASSERT_EQ(driver_.Request().Func, 6);
    std::vector<uint8_t> a;
    if (unit == Unit::Echo) {
      a.assign(ctx_.comm.TxBuf.begin(), ctx_.comm.TxBuf.begin() + kModbusRequestLen);
    } else if (unit == Unit::Refuse) {
      a = {driver_.Request().SlaveAddr, 0x86, 4};
      const uint16_t crc = ModbusCrc(a.data(), a.size());
      a.push_back(static_cast<uint8_t>(crc & 0xFF));
      a.push_back(static_cast<uint8_t>(crc >> 8));
    } else {
      return;
    }
    driver_.ParseAnswer(a.data(), static_cast<int>(a.size()));
  }
  std::string Id(const std::string& reply) {
    EXPECT_EQ(reply.rfind("OK TRACKING ", 0), 0u) << reply;
    return reply.size() > 13 ? reply.substr(12, reply.size() - 13) : "";
  }

  TMModbus driver_;
  std::vector<std::string> audit_;
  std::vector<std::pair<int, int>> events_;
};

TEST_F(NutTracking, IdsFollowTheUnitsAnswerToTheWrite) {
  EXPECT_EQ(Say("GET TRACKING"), "OFF\n");
  EXPECT_EQ(Say("SET TRACKING ON"), "OK\n");
  EXPECT_EQ(Say("get tracking"), "ON\n");
  EXPECT_EQ(Say("SET TRACKING MAYBE"), "ERR INVALID-ARGUMENT\n");
  LogIn("admin", "adm");

  // Echoed: pending until the echo, then SUCCESS.
  const std::string off = Id(Say("INSTCMD ups1 load.off"));
  EXPECT_EQ(off.size(), 36u);
  EXPECT_EQ(Say("GET TRACKING " + off), "PENDING\n");
  SendNext(Unit::Silent);  // on the line, no answer yet
  EXPECT_EQ(Say("GET TRACKING " + off), "PENDING\n");
  driver_.ParseAnswer(ctx_.comm.TxBuf.data(), kModbusRequestLen);
  EXPECT_EQ(Say("GET TRACKING " + off), "SUCCESS\n");

  // Refused with an exception.
  const std::string on = Id(Say("INSTCMD ups1 load.on"));
  SendNext(Unit::Refuse);
  EXPECT_EQ(Say("GET TRACKING " + on), "ERR FAILED\n");

  // Unanswered: failed once the driver moves on; the next write's outcome is its own.
  const std::string test = Id(Say("INSTCMD ups1 test.battery.start 20"));
  SendNext(Unit::Silent);
  EXPECT_EQ(Say("GET TRACKING " + test), "PENDING\n");
  const std::string stop = Id(Say("INSTCMD ups1 test.battery.stop"));
  SendNext(Unit::Echo);
  EXPECT_EQ(Say("GET TRACKING " + test), "ERR FAILED\n");
  EXPECT_EQ(Say("GET TRACKING " + stop), "SUCCESS\n");

  // A parameter goes out behind the unlock write: its own echo decides.
  const std::string set = Id(Say("SET VAR ups1 ups.beeper.status disabled"));
  SendNext(Unit::Echo);  // the unlock write
  EXPECT_EQ(Say("GET TRACKING " + set), "PENDING\n");
  SendNext(Unit::Echo);
  EXPECT_EQ(Say("GET TRACKING " + set), "SUCCESS\n");

  // Emptied slots never send it.
  const std::string dropped = Id(Say("INSTCMD ups1 load.off"));
  ctx_.cmd.CmdSlots = {};
  EXPECT_EQ(Say("GET TRACKING " + dropped), "ERR FAILED\n");

  EXPECT_EQ(Say("GET TRACKING 00000000-0000-4000-8000-000000000000"), "ERR UNKNOWN\n");
  EXPECT_EQ(Say("SET TRACKING OFF"), "OK\n");
  EXPECT_EQ(Say("INSTCMD ups1 load.off"), "OK\n");
}

TEST_F(NutTracking, EveryActionLeavesAnAuditLineAndUnitRequestsAnEvent) {
  s_.Peer = "192.0.2.7";
  LogIn("mon", "pw");
  EXPECT_EQ(Say("LOGIN ups1"), "OK\n");
  EXPECT_EQ(Say("PRIMARY ups1"), "OK PRIMARY-GRANTED\n");
  EXPECT_FALSE(s_.AuthFailed);
  NutSession other;
  other.Peer = "198.51.100.9";
  EXPECT_EQ(nut_.Handle(other, "USERNAME admin"), "OK\n");
  EXPECT_EQ(nut_.Handle(other, "PASSWORD nope"), "OK\n");
  EXPECT_EQ(nut_.Handle(other, "INSTCMD ups1 load.off"), "ERR ACCESS-DENIED\n");
  EXPECT_TRUE(other.AuthFailed);
  NutSession op;
  op.Peer = "::1";
  for (const char* l : {"USERNAME op", "PASSWORD two words # not a comment"})
    ASSERT_EQ(nut_.Handle(op, l), "OK\n");
  EXPECT_EQ(nut_.Handle(op, "INSTCMD ups1 load.on"), "ERR ACCESS-DENIED\n");
  EXPECT_FALSE(op.AuthFailed) << "the password was right; the right is missing";
  EXPECT_EQ(nut_.Handle(op, "INSTCMD ups1 load.off"), "OK\n");
  SendNext(Unit::Refuse);
  EXPECT_EQ(nut_.Handle(op, "SET VAR ups1 ups.tessel.battery.capacity \"7 Ah\""),
            "ERR INVALID-VALUE\n");
  EXPECT_EQ(nut_.Handle(op, "SET VAR ups1 ups.beeper.status disabled"), "OK\n");
  SendNext(Unit::Echo);
  SendNext(Unit::Echo);
  EXPECT_EQ(nut_.Handle(other, "FSD ups1"), "ERR ACCESS-DENIED\n");
  EXPECT_EQ(Say("FSD ups1"), "OK FSD-SET\n");
  // Nothing tried as anyone: no line.
  NutSession anon;
  EXPECT_EQ(nut_.Handle(anon, "INSTCMD ups1 load.off"), "ERR USERNAME-REQUIRED\n");

  const std::vector<std::string> want = {
      "NUT audit: LOGIN user=mon client=192.0.2.7 ups=ups1 result=OK",
      "NUT audit: PRIMARY user=mon client=192.0.2.7 ups=ups1 result=OK PRIMARY-GRANTED",
      "NUT audit: INSTCMD user=admin client=198.51.100.9 ups=ups1 cmd=load.off "
      "result=ACCESS-DENIED (wrong user or password)",
      "NUT audit: INSTCMD user=op client=::1 ups=ups1 cmd=load.on result=ACCESS-DENIED",
      "NUT audit: INSTCMD user=op client=::1 ups=ups1 cmd=load.off result=OK",
      "NUT audit: INSTCMD user=op client=::1 ups=ups1 cmd=load.off unit=FAILED "
      "(refused, exception 4)",
      "NUT audit: SET VAR user=op client=::1 ups=ups1 var=ups.tessel.battery.capacity "
      "value=\"7 Ah\" result=INVALID-VALUE",
      "NUT audit: SET VAR user=op client=::1 ups=ups1 var=ups.beeper.status value=disabled "
      "result=OK",
      "NUT audit: SET VAR user=op client=::1 ups=ups1 var=ups.beeper.status value=disabled "
      "unit=SUCCESS",
      "NUT audit: FSD user=admin client=198.51.100.9 ups=ups1 "
      "result=ACCESS-DENIED (wrong user or password)",
      "NUT audit: FSD user=mon client=192.0.2.7 ups=ups1 result=OK FSD-SET",
  };
  ASSERT_EQ(audit_.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(audit_[i], want[i]);
  const std::vector<std::pair<int, int>> events = {{1, kEventNetLoadOff}, {1, kEventNetParamWrite}};
  EXPECT_EQ(events_, events);
}

TEST_F(NutDialogue, CredentialsAreTheRestOfTheLineAsTheClientsSendThem) {
  // upscmd and upsrw send the password unquoted, blanks and all.
  ASSERT_EQ(Say("USERNAME op"), "OK\n");
  ASSERT_EQ(Say("PASSWORD two words # not a comment  "), "OK\n");
  EXPECT_EQ(Say("INSTCMD ups1 load.off"), "OK\n");
  NutSession quoted;
  EXPECT_EQ(nut_.Handle(quoted, "PASSWORD a\"b"), "OK\n");
  EXPECT_EQ(quoted.Password, "a\"b");
  EXPECT_EQ(nut_.Handle(quoted, "  USERNAME \"two words\""), "OK\n");
  EXPECT_EQ(quoted.Username, "two words");
  NutSession bad;
  EXPECT_EQ(nut_.Handle(bad, "USERNAME"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(nut_.Handle(bad, "USERNAME \"a\" b"), "ERR INVALID-ARGUMENT\n");
  EXPECT_TRUE(bad.Username.empty());
}

TEST_F(NutDialogue, AWrongPasswordOrUnknownUserIsDeniedEverything) {
  for (const auto& [user, password] : std::vector<std::pair<std::string, std::string>>{
           {"admin", "wrong"}, {"admin", "ad"}, {"nobody", "adm"}}) {
    NutSession s;
    nut_.Handle(s, "USERNAME " + user);
    nut_.Handle(s, "PASSWORD " + password);
    EXPECT_EQ(nut_.Handle(s, "INSTCMD ups1 load.on"), "ERR ACCESS-DENIED\n") << user;
    EXPECT_EQ(nut_.Handle(s, "SET VAR ups1 ups.beeper.status disabled"), "ERR ACCESS-DENIED\n");
    EXPECT_EQ(nut_.Handle(s, "FSD ups1"), "ERR ACCESS-DENIED\n");
    EXPECT_EQ(nut_.Handle(s, "LOGIN ups1"), "ERR ACCESS-DENIED\n");
  }
  EXPECT_EQ(PendingSlots(), 0);
  EXPECT_FALSE(nut_.FsdSet(1));
}

TEST_F(NutDialogue, NoCommandsOrWritesUnderTheAsciiProtocolChoices) {
  ctx_.settings.PortInfo.Protocol = 0;
  LogIn("admin", "adm");
  EXPECT_EQ(Say("LIST CMD ups1"), "BEGIN LIST CMD ups1\nEND LIST CMD ups1\n");
  EXPECT_EQ(Say("LIST RW ups1"), "BEGIN LIST RW ups1\nEND LIST RW ups1\n");
  EXPECT_EQ(Say("INSTCMD ups1 load.off"), "ERR CMD-NOT-SUPPORTED\n");
  EXPECT_EQ(Say("SET VAR ups1 ups.beeper.status disabled"), "ERR VAR-NOT-SUPPORTED\n");
  EXPECT_EQ(PendingSlots(), 0);
}

TEST_F(NutDialogue, WritesGoThroughTheParameterChecks) {
  LogIn("op", "\"two words # not a comment\"");
  // Without a model code the lists are not known to fit the unit: nothing is written.
  EXPECT_EQ(Say("SET VAR ups1 ups.beeper.status disabled"), "ERR FEATURE-NOT-CONFIGURED\n");
  nut_.SetConfiguredModel("ZEV305X");
  EXPECT_EQ(Say("SET VAR ups1 ups.beeper.status disabled"), "ERR FEATURE-NOT-CONFIGURED\n");
  EXPECT_EQ(PendingSlots(), 0);
  nut_.SetConfiguredModel("ZEV305");
  struct Case {
    const char* line;
    const char* reply;
  };
  const Case refused[] = {
      {"SET VAR ups1 ups.status OB", "ERR READONLY\n"},
      {"SET VAR ups1 no.such 1", "ERR VAR-NOT-SUPPORTED\n"},
      {"SET VAR ups1 ups.tessel.voltage.level 999V", "ERR INVALID-VALUE\n"},
      {"SET VAR ups1 ups.tessel.battery.eod.voltage 2.5", "ERR INVALID-VALUE\n"},
      {"SET VAR ups1 ups.tessel.battery.groups 70000", "ERR INVALID-VALUE\n"},
      {"SET VAR ups1 ups.tessel.battery.groups -1", "ERR INVALID-VALUE\n"},
      {"SET VAR ups1 ups.beeper.status muted", "ERR INVALID-VALUE\n"},
      {"SET VAR ups1 ups.tessel.mode.operation Normal", "ERR VAR-NOT-SUPPORTED\n"},  // model
      {"SET VAR ups2 ups.beeper.status disabled", "ERR DATA-STALE\n"},
  };
  for (const Case& c : refused) EXPECT_EQ(Say(c.line), c.reply) << c.line;
  EXPECT_EQ(PendingSlots(), 0);

  // A list item by its text; under choice 2 the unlock write goes first.
  EXPECT_EQ(Say("SET VAR ups1 ups.tessel.voltage.level \"400v\""), "OK\n");
  EXPECT_EQ(ctx_.cmd.CmdSlots[0].Reg, kRegUnlock);
  EXPECT_EQ(ctx_.cmd.CmdSlots[1].Reg, 40005);
  EXPECT_EQ(ctx_.cmd.CmdSlots[1].Value, 230);
  EXPECT_EQ(Say("SET VAR ups1 ups.tessel.battery.groups 2"), "ERR SET-FAILED\n");  // slots busy
  ctx_.cmd.CmdSlots = {};

  // One switch of the shared register changes; the other keeps the unit's setting.
  EXPECT_EQ(Say("SET VAR ups1 ups.beeper.status disabled"), "OK\n");
  EXPECT_EQ(ctx_.cmd.CmdSlots[1].Reg, 40027);
  EXPECT_EQ(ctx_.cmd.CmdSlots[1].Value, 0x3000);
  ctx_.cmd.CmdSlots = {};

  ctx_.settings.PortInfo.Protocol = 3;  // no unlock write
  EXPECT_EQ(Say("SET VAR ups1 ups.tessel.battery.eod.voltage 1.8"), "OK\n");
  EXPECT_EQ(ctx_.cmd.CmdSlots[0].Reg, 40020);
  EXPECT_EQ(ctx_.cmd.CmdSlots[0].Value, 180);

  NutSession reader;  // no user: reading only
  EXPECT_EQ(nut_.Handle(reader, "SET VAR ups1 ups.beeper.status enabled"),
            "ERR USERNAME-REQUIRED\n");
}

TEST_F(NutDialogue, TheOperatorsModelCodeChoosesTheListsOverTheConfiguredOne) {
  LogIn("admin", "adm");
  nut_.SetConfiguredModel("ZEV305");
  ctx_.model.ModelCode = "ZEV702";  // entered with the settings password in the windows
  EXPECT_EQ(Say("GET VAR ups1 device.model"), "VAR ups1 device.model \"ZEV702\"\n");
  EXPECT_NE(Say("LIST ENUM ups1 ups.tessel.voltage.level").find("\"110V\""), std::string::npos);
  EXPECT_EQ(Say("SET VAR ups1 ups.tessel.voltage.level 380V"), "ERR INVALID-VALUE\n");
  ctx_.model.ModelCode = "wrong";  // a refused password: the configured code holds
  EXPECT_EQ(Say("GET VAR ups1 device.model"), "VAR ups1 device.model \"ZEV305\"\n");
  EXPECT_EQ(Say("SET VAR ups1 ups.tessel.voltage.level 380V"), "OK\n");
}

TEST_F(NutDialogue, UpsmonLogsInAsPrimaryAndForcesTheShutdown) {
  LogIn("mon", "pw");
  EXPECT_EQ(Say("LOGIN ups1"), "OK\n");
  EXPECT_EQ(Say("LOGIN ups1"), "ERR ALREADY-LOGGED-IN\n");
  EXPECT_EQ(Say("PRIMARY ups1"), "OK PRIMARY-GRANTED\n");
  EXPECT_EQ(Say("MASTER ups1"), "OK MASTER-GRANTED\n");
  NutSession second;
  second.Peer = "10.0.0.6";
  nut_.Handle(second, "USERNAME watch");
  nut_.Handle(second, "PASSWORD w");
  EXPECT_EQ(nut_.Handle(second, "LOGIN ups1"), "OK\n");
  EXPECT_EQ(nut_.Handle(second, "PRIMARY ups1"), "ERR ACCESS-DENIED\n");
  EXPECT_EQ(nut_.Handle(second, "FSD ups1"), "ERR ACCESS-DENIED\n");
  EXPECT_EQ(Say("GET NUMLOGINS ups1"), "NUMLOGINS ups1 2\n");
  EXPECT_EQ(Say("LIST CLIENT ups1"),
            "BEGIN LIST CLIENT ups1\nCLIENT ups1 10.0.0.5\nCLIENT ups1 10.0.0.6\n"
            "END LIST CLIENT ups1\n");
  nut_.Forget(second);
  EXPECT_EQ(Say("GET NUMLOGINS ups1"), "NUMLOGINS ups1 1\n");

  EXPECT_EQ(Say("FSD ups1"), "OK FSD-SET\n");
  EXPECT_EQ(nut_.Handle(second, "GET VAR ups1 ups.status"), "VAR ups1 ups.status \"FSD OL\"\n");
  EXPECT_EQ(Say("LOGOUT"), "OK Goodbye\n");
  EXPECT_TRUE(s_.Close);
}

TEST(NutStatus, FollowsTheOperatingStateAndTheAlarms) {
  struct Case {
    int32_t runState;
    uint8_t inputSupply;
    std::vector<int32_t> alarms;
    bool fsd;
    const char* status;
  };
  const Case cases[] = {
      {kRunOnline, 1, {}, false, "OL"},
      {kRunEco, 1, {}, false, "OL"},
      {kRunBattery, 2, {}, false, "OB"},
      {kRunBattery, 2, {25, 23}, false, "OB LB ALARM"},  // low battery pre-alarm
      {kRunBattery, 2, {21}, true, "FSD OB LB ALARM"},   // battery under voltage
      {kRunFault, 2, {206}, false, "OB LB ALARM"},       // three-phase battery low
      {kRunSelfTest, 2, {}, false, "OL CAL"},
      {kRunBypass, 1, {51}, false, "OL BYPASS OVER ALARM"},  // overload on bypass
      {kRunMaintBypass, 1, {}, false, "OL BYPASS"},
      {kRunNoOutput, 1, {}, false, "OL OFF"},
      {kRunStandby, 0, {}, false, "OFF"},
      {kRunEpo, 0, {}, false, "OFF ALARM"},
      {kRunFault, 1, {0}, false, "OL ALARM"},
      {kRunOnline, 1, {149}, false, "OL"},  // a code without a text raises nothing
  };
  for (const Case& c : cases) {
    TUpsInfo u;
    u.RunState = c.runState;
    u.InputSupply = c.inputSupply;
    for (int32_t a : c.alarms) u.AlarmCodes[u.AlarmCount++] = a;
    EXPECT_EQ(NutStatus(u, c.fsd), c.status) << c.runState;
  }
}

TEST(NutVariables, ThreePhaseUnitsReportEachPhaseAndTheirHighestLoad) {
  Context ctx;
  InitUpsTable(ctx.model.UpsTable);
  ctx.settings.PortInfo.Protocol = 1;
  TUpsInfo& u = ctx.model.UpsTable[3];
  u.RunState = kRunOnline;
  u.InputV_A = 220;
  u.InputV_B = 221;
  u.InputV_C = 219;
  u.LoadPer_A = 30;
  u.LoadPer_B = 55.5;
  u.LoadPer_C = 20;
  NutVars want = {{"ups.load", "55.5"},
                  {"input.phases", "3"},
                  {"input.L2-N.voltage", "221.0"},
                  {"output.L2.power.percent", "55.5"},
                  {"output.L3.power.percent", "20"}};
  const NutVars vars = NutVariables(ctx, 3, false, "ZEV305");
  for (const auto& w : want)
    EXPECT_NE(std::find(vars.begin(), vars.end(), w), vars.end()) << w.first;
  for (const auto& [name, value] : vars) {
    EXPECT_NE(name, "battery.charge") << "the three-phase protocol reports no capacity";
    EXPECT_EQ(name.rfind("ups.tessel.", 0), std::string::npos) << "no writes without Modbus";
  }
}

TEST(NutWords, QuotesAndBackslashesRoundTrip) {
  std::vector<std::string> w;
  ASSERT_TRUE(SplitNutWords("SET VAR ups1 x \"a \\\"b\\\" \\\\c\"  d", w));
  EXPECT_EQ(w, (std::vector<std::string>{"SET", "VAR", "ups1", "x", "a \"b\" \\c", "d"}));
  ASSERT_TRUE(SplitNutWords("GET VAR ups1 " + QuoteNutValue("q\"\\ x"), w));
  EXPECT_EQ(w.back(), "q\"\\ x");
  ASSERT_TRUE(SplitNutWords("password=\"a=b\"", w, true));
  EXPECT_EQ(w, (std::vector<std::string>{"password", "=", "a=b"}));
  EXPECT_EQ(QuoteNutValue("line\nVAR ups1 ups.status \"OL\"\r"),
            "\"line VAR ups1 ups.status \\\"OL\\\" \"");
  EXPECT_FALSE(SplitNutWords("GET \"open", w));
  EXPECT_FALSE(SplitNutWords("GET trailing\\", w));
}

TEST(NutUsersFile, RolesRightsAndWhatIsIgnored) {
  const NutUsers users = ParseNutUsers(std::string(kUsers) +
                                       "stray = 1\n[mon]\n  password = again\n"
                                       "[bad]\n  password = x\n  actions = REBOOT\n"
                                       "  upsmon boss\n  colour = red\n");
  const NutUser* mon = users.Find("mon");
  ASSERT_NE(mon, nullptr);
  EXPECT_EQ(mon->Password, "pw") << "a second [mon] changes nothing";
  EXPECT_EQ(mon->Role, NutUser::Upsmon::Primary);
  EXPECT_TRUE(mon->MayFsd);
  EXPECT_FALSE(mon->MaySet);
  EXPECT_FALSE(mon->MayRunCmd("load.off"));
  const NutUser* watch = users.Find("watch");
  ASSERT_NE(watch, nullptr);
  EXPECT_TRUE(watch->MayLogin());
  EXPECT_FALSE(watch->MayFsd);
  const NutUser* op = users.Find("op");
  ASSERT_NE(op, nullptr);
  EXPECT_EQ(op->Password, "two words # not a comment");
  EXPECT_TRUE(op->MaySet);
  EXPECT_FALSE(op->MayLogin());
  EXPECT_TRUE(op->MayRunCmd("test.battery.stop"));
  EXPECT_FALSE(op->MayRunCmd("load.on"));
  EXPECT_TRUE(users.Find("admin")->MayRunCmd("load.on"));
  EXPECT_EQ(users.Find("Admin"), nullptr);
  // stray key, second [mon] and its password, REBOOT, boss, colour
  EXPECT_EQ(users.Problems.size(), 6u);
  EXPECT_FALSE(LoadNutUsers("/nonexistent/upsd.users").Problems.empty());
}

TEST(NutUsersFile, OthersMayNotReadOrChangeIt) {
  namespace fs = std::filesystem;
  const fs::path file = fs::temp_directory_path() / ("nut-users-" + std::to_string(getpid()));
  std::ofstream(file) << "[a]\n password = b\n";
  using P = fs::perms;
  struct Case {
    P perms;
    const char* problem;  // "" for none
  };
  const Case cases[] = {
      {P::owner_read | P::owner_write, ""},
      {P::owner_read | P::group_read, ""},
      {P::owner_read | P::owner_write | P::others_read, "other users may read it"},
      {P::owner_read | P::others_write, "other users may change it"},
      {P::owner_read | P::others_read | P::others_write, "other users may read and change it"},
  };
  for (const Case& c : cases) {
    fs::permissions(file, c.perms);
    const NutUsers users = LoadNutUsers(file.string());
    EXPECT_EQ(users.Users.size(), 1u);
    if (*c.problem == 0) {
      EXPECT_TRUE(users.Problems.empty()) << users.Problems.front();
      continue;
    }
    ASSERT_EQ(users.Problems.size(), 1u);
    EXPECT_EQ(users.Problems[0].rfind(c.problem, 0), 0u) << users.Problems[0];
    EXPECT_NE(users.Problems[0].find("chmod o-rwx " + file.string()), std::string::npos);
  }
  fs::remove(file);
}

TEST(NutServerConfigSection, DefaultsOffAndReadsItsSection) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("nut-config-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string ini = (dir / "UserParaIni.ini").string();

  NutServerConfig c = ReadNutServerConfig(ini, dir.string());
  EXPECT_FALSE(c.Enabled);
  EXPECT_EQ(c.Listen, "127.0.0.1");
  EXPECT_EQ(c.Port, 3493);
  EXPECT_EQ(c.UsersFile, (dir / "upsd.users").string());

  std::ofstream(ini) << "[CommPort]\nPort=7\n[nutserver]\nenabled=1\nListen=0.0.0.0\nPort=0\n"
                        "UsersFile=/etc/x/users\nMaxClients=0\nIdleSeconds=abc\nModelCode=ZEV702\n";
  c = ReadNutServerConfig(ini, dir.string());
  EXPECT_TRUE(c.Enabled);
  EXPECT_EQ(c.Listen, "0.0.0.0");
  EXPECT_EQ(SplitNutListen(" 127.0.0.1, ::1  localhost,,::1"),
            (std::vector<std::string>{"127.0.0.1", "::1", "localhost"}));
  EXPECT_EQ(c.Port, 0);
  EXPECT_EQ(c.UsersFile, "/etc/x/users");
  EXPECT_EQ(c.MaxClients, 32);
  EXPECT_EQ(c.IdleSeconds, 300);
  EXPECT_EQ(c.ModelCode, "ZEV702");

  std::ofstream(ini) << "[NutServer]\nEnabled=1\nPort=70000\n";
  EXPECT_EQ(ReadNutServerConfig(ini, dir.string()).Port, 3493);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tessel
