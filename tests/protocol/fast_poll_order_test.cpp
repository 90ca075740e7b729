// The request order of fast polling, through the real drivers.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "model/cmd_request.h"
#include "model/param_items.h"
#include "protocol/epower_driver.h"
#include "protocol/modbus_driver.h"
#include "protocol/ydt_v31_driver.h"

namespace tessel {
namespace {

struct FastContext {
  explicit FastContext(std::initializer_list<int> addrs, int protocol = 2) {
    InitUpsTable(ctx.model.UpsTable);
    ctx.settings.PortInfo.FastPoll = true;
    ctx.settings.PortInfo.Protocol = static_cast<uint8_t>(protocol);
    for (int a : addrs) {
      TEquipRec rec;
      rec.Addr = static_cast<uint8_t>(a);
      AppendDevice(ctx.model.EquipList, rec);
      ctx.model.UpsTable[a].CommState = kCommOk;
    }
  }
  Context ctx;
};

// "addr/register" of the next Modbus request, as the scheduler takes it.
std::string NextModbus(Context& ctx, TMModbus& drv) {
  drv.BuildRequest();
  ctx.model.EquipList.CurAddr = static_cast<uint8_t>(drv.TargetAddr & 0xFF);
  return std::to_string(drv.Request().SlaveAddr) + "/" + std::to_string(drv.Request().Reg);
}

// "addr/kind" of the next ASCII request.
std::string NextAscii(Context& ctx, TAsciiDriver& drv) {
  drv.BuildRequest();
  ctx.model.EquipList.CurAddr = static_cast<uint8_t>(drv.TargetAddr & 0xFF);
  return std::to_string(drv.TargetAddr) + "/" + std::to_string(drv.CurCmd);
}

TEST(FastPollOrder, StateOfEveryUnitEveryRoundWithSlowRequestsBetween) {
  struct Case {
    const char* name;
    int protocol;
    const char* model;
    std::vector<std::string> expected;
  } cases[] = {
      {"Modbus: 30081 for each unit, one slower read after every four",
       2,
       "",
       {"1/30081", "2/30081", "3/30081", "1/30081", "1/30001", "2/30081", "3/30081",
        "1/30081", "2/30081", "1/30021", "3/30081", "1/30081", "2/30081", "3/30081",
        "1/40001", "1/30081", "2/30081", "3/30081", "1/30081", "2/30001"}},
      {"Modbus with the operation-mode register: a fourth slower read",
       3,
       kOptModeModel,
       {"1/30081", "2/30081", "3/30081", "1/30081", "1/30001", "2/30081", "3/30081",
        "1/30081", "2/30081", "1/30021", "3/30081", "1/30081", "2/30081", "3/30081",
        "1/40001", "1/30081", "2/30081", "3/30081", "1/30081", "1/40029"}},
      {"ASCII: status and alarms (kinds 2, 3) for each unit, kinds 1, 4, 5 between",
       0,
       "",
       {"1/2", "1/3", "2/2", "2/3", "1/1", "3/2", "3/3", "1/2", "1/3", "1/4",
        "2/2", "2/3", "3/2", "3/3", "1/5", "1/2", "1/3", "2/2", "2/3", "2/1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FastContext f({1, 2, 3}, c.protocol);
    f.ctx.model.ModelCode = c.model;
    TMModbus modbus(f.ctx);
    TYdtV31Protocol ascii(f.ctx);
    std::vector<std::string> got;
    for (size_t i = 0; i < c.expected.size(); ++i)
      got.push_back(c.protocol == 0 ? NextAscii(f.ctx, ascii) : NextModbus(f.ctx, modbus));
    EXPECT_EQ(got, c.expected);
  }
}

// On a long bus with a lost unit: every answering unit's state is re-read within one round of
// the list plus its share of slow reads, each of them gets every slower read in turn, and the lost
// unit is only probed with the state request.
TEST(FastPollOrder, NoUnitStarvesAndALostUnitIsOnlyProbed) {
  for (int protocol : {1, 2}) {
    SCOPED_TRACE("protocol " + std::to_string(protocol));
    FastContext f({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, protocol);
    f.ctx.model.UpsTable[7].CommState = kCommLost;
    TMModbus modbus(f.ctx);
    TEpowerProtocol ascii(f.ctx);
    const std::string stateKind = protocol == 1 ? "2" : "30081";
    const std::set<std::string> slowKinds = protocol == 1
                                                ? std::set<std::string>{"1", "4", "5"}
                                                : std::set<std::string>{"30001", "30021", "40001"};
    // State requests per round: two per answering unit under ASCII, one per unit under Modbus,
    // one probe for the lost unit; plus one slow request per four of them.
    const int perRound = protocol == 1 ? 31 : 16;
    const int maxGap = perRound + (perRound + kStatePerSlow - 1) / kStatePerSlow;

    std::map<int, int> lastState;
    std::map<int, std::set<std::string>> slowSeen;
    for (int i = 0; i < 600; ++i) {
      const std::string r = protocol == 1 ? NextAscii(f.ctx, ascii) : NextModbus(f.ctx, modbus);
      const int addr = std::stoi(r.substr(0, r.find('/')));
      const std::string kind = r.substr(r.find('/') + 1);
      if (slowKinds.count(kind)) {
        EXPECT_NE(addr, 7) << "slow request to the lost unit at " << i;
        slowSeen[addr].insert(kind);
      } else if (kind == stateKind) {
        if (lastState.count(addr)) EXPECT_LE(i - lastState[addr], maxGap) << r << " at " << i;
        lastState[addr] = i;
      } else {
        EXPECT_NE(addr, 7) << r;  // the alarm request of ASCII: not for the lost unit
      }
    }
    EXPECT_EQ(lastState.size(), 16u);
    for (int a = 1; a <= 16; ++a)
      if (a != 7) EXPECT_EQ(slowSeen[a], slowKinds) << "unit " << a;
  }
}

TEST(FastPollOrder, CommandRequestGoesFirstAndTheRoundCarriesOn) {
  FastContext f({1, 2, 3});
  TMModbus drv(f.ctx);
  EXPECT_EQ(NextModbus(f.ctx, drv), "1/30081");
  ASSERT_EQ(RequestSwitchOn(f.ctx.cmd, 2, 3), CmdResult::Queued);
  EXPECT_EQ(NextModbus(f.ctx, drv), "3/20001");
  EXPECT_EQ(drv.Request().Func, 6);
  EXPECT_EQ(NextModbus(f.ctx, drv), "2/30081");
  EXPECT_EQ(NextModbus(f.ctx, drv), "3/30081");
}

}  // namespace
}  // namespace tessel
