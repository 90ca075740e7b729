// The network UPS server's configuration: its section of the settings file and the users file in
// the format network UPS administrators already keep ("upsd.users").
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

// Section [NutServer] of UserParaIni.ini:
//   Enabled=1            0 (default) leaves the server off
//   Listen=127.0.0.1     addresses or host names to listen on, separated by blanks or commas
//                        ("127.0.0.1 ::1", "localhost"); default: this machine only, IPv4
//   Port=3493            TCP port (0 picks a free one, for tests)
//   UsersFile=upsd.users users file; a relative path is taken from the program folder
//   MaxClients=32        connections beyond this are closed at once
//   IdleSeconds=300      a connection silent this long is closed
//   ModelCode=           the units' model code, as the settings password gives it; without it
//                        (and without one entered in the windows) parameters cannot be written
struct NutServerConfig {
  bool Enabled = false;
  std::string Listen = "127.0.0.1";  // as written; SplitNutListen gives the entries
  int Port = 3493;
  std::string UsersFile;  // full path
  int MaxClients = 32;
  int IdleSeconds = 300;
  std::string ModelCode;
};

constexpr const char* kNutSection = "NutServer";

// Reads the section (defaults for what is missing or malformed; a port outside 0..65535 or a
// limit below 1 falls back to the default).
NutServerConfig ReadNutServerConfig(const std::string& iniPath, const std::string& home);

// The entries of a Listen value: separated by blanks, tabs or commas.
std::vector<std::string> SplitNutListen(const std::string& listen);

// Splits a line into words the way the protocol and the users file quote them: blanks separate
// words, double quotes keep blanks inside one, a backslash takes the next character as it is.
// With equalsSeparates, an unquoted "=" is a word of its own ("password=x" -> password, =, x).
// False for an unterminated quote or a trailing backslash.
bool SplitNutWords(std::string_view line, std::vector<std::string>& words,
                   bool equalsSeparates = false);
// A value quoted for a reply: in double quotes, with '"' and '\' escaped by a backslash and
// control characters (a line break would end the reply line) replaced by blanks.
std::string QuoteNutValue(std::string_view value);

// One user of the users file.
struct NutUser {
  enum class Upsmon : uint8_t { None, Primary, Secondary };
  std::string Name;
  std::string Password;
  bool MaySet = false;   // actions = SET
  bool MayFsd = false;   // actions = FSD, or upsmon primary
  bool AllCmds = false;  // instcmds = ALL
  std::set<std::string> Cmds;
  Upsmon Role = Upsmon::None;

  bool MayLogin() const { return Role != Upsmon::None; }
  bool MayRunCmd(const std::string& cmd) const { return AllCmds || Cmds.count(cmd) > 0; }
};

struct NutUsers {
  std::vector<NutUser> Users;
  std::vector<std::string> Problems;  // "line N: ..." for what was ignored

  // The user of that name (exact, as the server compares names), or nullptr.
  const NutUser* Find(const std::string& name) const;
};

// Parses a users file:
//   [name]
//     password = "secret"
//     actions = SET FSD
//     instcmds = test.battery.start load.off     (or ALL; repeatable)
//     upsmon primary                              (or master, secondary, slave)
// "#" starts a comment outside quotes. A user without a password can never authenticate.
NutUsers ParseNutUsers(const std::string& text);
// Reads and parses the file; a missing or unreadable file gives no users and one problem. A file
// that others may read or write is a problem too: the passwords are in it.
NutUsers LoadNutUsers(const std::string& path);

}  // namespace tessel
