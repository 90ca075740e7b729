// The network UPS protocol spoken by upsmon, upsc, upscmd, upsrw and their kin: one request line
// in, the reply out. Plain C++ over the Context, so that the whole dialogue can be tested by
// calling Handle; the sockets live in the service (service/nut_listener).
//
// Units are named "ups<address>" (ups1 .. ups252), which stays the same when the tree name
// changes; the tree name is the unit's description. Whoever calls Handle catches the poll timer
// up first and rearms it after, as for any other change of the command requests.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/context.h"
#include "nut/nut_config.h"

namespace tessel {

// One client connection's state.
struct NutSession {
  std::string Peer;  // the client's address, as LIST CLIENT shows it
  std::string Username;
  std::string Password;
  int LoginAddr = 0;  // the unit LOGIN named, 0 none
  bool Primary = false;
  bool Tracking = false;    // SET TRACKING ON: INSTCMD and SET VAR answer with an id
  bool Close = false;       // the reply is the last: close after sending it
  bool AuthFailed = false;  // the last request named a user its password does not prove
};

using NutVars = std::vector<std::pair<std::string, std::string>>;

// The unit's name in the protocol and back; 0 when the name is no unit of the list.
std::string NutUpsName(int addr);
int NutUpsAddr(const std::string& name, const TEquipList& list);

// The status words of ups.status for a unit that answers ("OL", "OB LB", "OL BYPASS", ...).
std::string NutStatus(const TUpsInfo& u, bool fsd);
// The readable variables of a unit that answers, in listing order; model is the model code that
// chooses the parameters' lists.
NutVars NutVariables(const Context& ctx, int addr, bool fsd, const std::string& model);

// The instant commands and writable variables, by protocol choice.
std::vector<std::string> NutCommands(uint8_t protocol);

constexpr size_t kNutMaxLine = 512;  // longer request lines end the connection

class NutProtocol {
 public:
  NutProtocol(Context& ctx, NutUsers users);
  ~NutProtocol();
  NutProtocol(const NutProtocol&) = delete;
  NutProtocol& operator=(const NutProtocol&) = delete;

  // One line per login, failed login, INSTCMD, SET VAR, FSD and PRIMARY, and one when the unit
  // answered a write a client asked for; without a newline.
  std::function<void(const std::string&)> OnAudit;
  // A client's request was queued for the unit at addr (one of the kEventNet codes).
  std::function<void(int addr, int code)> OnUnitEvent;

  // What became of a write the driver sent (installed as the command requests' OnWriteOutcome).
  void NoteWrite(const TCmdOutcome& w);

  // One request line without its line end. The reply ends with "\n" (several lines for LIST).
  std::string Handle(NutSession& s, std::string_view line);
  // A connection ended: its login no longer counts.
  void Forget(const NutSession& s);

  // The serial line is closed: every unit's data is stale.
  void SetLineOpen(bool open) { lineOpen_ = open; }
  // The model code of the units, from the server's settings, for when the operator has not
  // entered one with the settings password (the headless program never has).
  void SetConfiguredModel(const std::string& code) { configModel_ = code; }
  bool FsdSet(int addr) const { return addr > 0 && addr < kTableSize && fsd_[addr]; }
  int NumLogins(int addr) const;
  const NutUsers& Users() const { return users_; }

 private:
  struct Login {
    const NutSession* session;
    int addr;
  };
  // A write queued for a client: the slot ids it took and what the unit made of them.
  struct Track {
    enum class State : uint8_t { Pending, Success, Failed };
    std::string Id;  // the id the client was given; empty without TRACKING
    uint32_t First = 0, Last = 0;
    uint32_t Sent = 0;  // the highest of them the driver has sent
    State Result = State::Pending;
    std::string Audit;  // the audit line's beginning, for the line with the unit's answer
  };

  std::string Credential(NutSession& s, bool user, const std::string& value);
  std::string List(NutSession& s, const std::vector<std::string>& w);
  std::string Get(NutSession& s, const std::vector<std::string>& w);
  std::string Set(NutSession& s, const std::vector<std::string>& w);
  std::string InstCmd(NutSession& s, const std::vector<std::string>& w);
  std::string LoginCmd(NutSession& s, const std::vector<std::string>& w);
  std::string PrimaryCmd(NutSession& s, const std::vector<std::string>& w, bool oldName);
  std::string FsdCmd(NutSession& s, const std::vector<std::string>& w);
  std::string Tracking(NutSession& s, const std::vector<std::string>& w, bool set);
  // The reply to a queued write that took the slot ids after before; audit is the line so far.
  std::string Queued(NutSession& s, uint32_t before, std::string audit);
  void Settle(Track& t, Track::State result, const std::string& why);
  void AuditAction(const NutSession& s, const std::string& action,
                   const std::vector<std::string>& w, const std::string& reply);
  std::string AuditHead(const NutSession& s, const std::string& action,
                        const std::vector<std::string>& w) const;

  // The user the session's USERNAME and PASSWORD prove, or nullptr.
  const NutUser* Authenticated(const NutSession& s) const;
  // The same, noting in the session when a user was named whose password does not match.
  const NutUser* Authenticate(NutSession& s) const;
  bool Stale(int addr) const;
  NutVars Vars(int addr) const { return NutVariables(ctx_, addr, FsdSet(addr), Model()); }
  // The model code the operator gave with the settings password, else the configured one, else
  // none (then nothing can be written).
  std::string Model() const;

  Context& ctx_;
  NutUsers users_;
  bool lineOpen_ = true;
  std::string configModel_;
  std::array<bool, kTableSize> fsd_{};
  std::vector<Login> logins_;
  std::deque<Track> tracks_;
  std::mt19937_64 random_;
};

}  // namespace tessel
