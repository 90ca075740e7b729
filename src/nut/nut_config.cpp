#include "nut/nut_config.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "app/settings_file.h"

namespace tessel {

namespace fs = std::filesystem;

namespace {

int IntIn(const std::string& ini, const char* key, int def, int lo, int hi) {
  auto text = ReadIniValue(ini, kNutSection, key);
  if (!text) return def;
  auto v = ParseIniInteger(*text);
  return v && *v >= lo && *v <= hi ? *v : def;
}

}  // namespace

NutServerConfig ReadNutServerConfig(const std::string& iniPath, const std::string& home) {
  NutServerConfig c;
  c.Enabled = IntIn(iniPath, "Enabled", 0, INT32_MIN, INT32_MAX) != 0;
  if (auto listen = ReadIniValue(iniPath, kNutSection, "Listen"); listen && !listen->empty())
    c.Listen = *listen;
  c.Port = IntIn(iniPath, "Port", c.Port, 0, 65535);
  c.MaxClients = IntIn(iniPath, "MaxClients", c.MaxClients, 1, 1024);
  c.IdleSeconds = IntIn(iniPath, "IdleSeconds", c.IdleSeconds, 1, 86400);
  c.ModelCode = ReadIniValue(iniPath, kNutSection, "ModelCode").value_or("");
  std::string users = ReadIniValue(iniPath, kNutSection, "UsersFile").value_or("");
  if (users.empty()) users = "upsd.users";
  std::filesystem::path p(users);
  c.UsersFile = (p.is_absolute() ? p : std::filesystem::path(home) / p).string();
  return c;
}

std::vector<std::string> SplitNutListen(const std::string& listen) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : listen + " ") {
    if (c == ' ' || c == '\t' || c == ',') {
      if (!cur.empty() && std::find(out.begin(), out.end(), cur) == out.end()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  return out;
}

bool SplitNutWords(std::string_view line, std::vector<std::string>& words, bool equalsSeparates) {
  words.clear();
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    if (equalsSeparates && c == '=') {
      words.emplace_back("=");
      ++i;
      continue;
    }
    std::string word;
    bool quoted = false;
    while (i < n) {
      const char d = line[i];
      if (d == '\\') {
        if (i + 1 >= n) return false;
        word += line[i + 1];
        i += 2;
        continue;
      }
      if (d == '"') {
        quoted = !quoted;
        ++i;
        continue;
      }
      if (!quoted &&
          (d == ' ' || d == '\t' || d == '\r' || d == '\n' || (equalsSeparates && d == '=')))
        break;
      word += d;
      ++i;
    }
    if (quoted) return false;
    words.push_back(std::move(word));
  }
  return true;
}

std::string QuoteNutValue(std::string_view value) {
  std::string out = "\"";
  for (char c : value) {
    // A line break inside a value (a tree name can hold one) would end the reply line early and
    // let the rest pass for a line of its own.
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

const NutUser* NutUsers::Find(const std::string& name) const {
  for (const NutUser& u : Users)
    if (u.Name == name) return &u;
  return nullptr;
}

NutUsers ParseNutUsers(const std::string& text) {
  NutUsers out;
  NutUser* cur = nullptr;
  size_t pos = 0;
  int lineNo = 0;
  auto problem = [&](const std::string& what) {
    out.Problems.push_back("line " + std::to_string(lineNo) + ": " + what);
  };
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    // A comment starts at a "#" outside quotes.
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '\\') {
        ++i;
      } else if (line[i] == '"') {
        quoted = !quoted;
      } else if (line[i] == '#' && !quoted) {
        line.resize(i);
        break;
      }
    }
    std::vector<std::string> w;
    if (!SplitNutWords(line, w, true)) {
      problem("unterminated quote");
      continue;
    }
    if (w.empty()) continue;
    if (w.size() == 1 && w[0].size() >= 2 && w[0].front() == '[' && w[0].back() == ']') {
      const std::string name = w[0].substr(1, w[0].size() - 2);
      if (name.empty() || out.Find(name)) {
        problem(name.empty() ? "user without a name" : "user " + name + " defined twice");
        cur = nullptr;
        continue;
      }
      out.Users.push_back(NutUser{});
      cur = &out.Users.back();
      cur->Name = name;
      continue;
    }
    if (!cur) {
      problem("outside a user section");
      continue;
    }
    if (EqualNoCase(w[0], "upsmon")) {
      if (w.size() == 2 && (EqualNoCase(w[1], "primary") || EqualNoCase(w[1], "master"))) {
        cur->Role = NutUser::Upsmon::Primary;
        cur->MayFsd = true;
      } else if (w.size() == 2 && (EqualNoCase(w[1], "secondary") || EqualNoCase(w[1], "slave"))) {
        cur->Role = NutUser::Upsmon::Secondary;
      } else {
        problem("upsmon takes primary or secondary");
      }
      continue;
    }
    if (w.size() < 3 || w[1] != "=") {
      problem("expected key = value");
      continue;
    }
    if (EqualNoCase(w[0], "password")) {
      cur->Password = w[2];
    } else if (EqualNoCase(w[0], "actions")) {
      for (size_t i = 2; i < w.size(); ++i) {
        if (EqualNoCase(w[i], "SET"))
          cur->MaySet = true;
        else if (EqualNoCase(w[i], "FSD"))
          cur->MayFsd = true;
        else
          problem("unknown action " + w[i]);
      }
    } else if (EqualNoCase(w[0], "instcmds")) {
      for (size_t i = 2; i < w.size(); ++i) {
        if (EqualNoCase(w[i], "ALL"))
          cur->AllCmds = true;
        else
          cur->Cmds.insert(w[i]);
      }
    } else {
      problem("unknown key " + w[0]);
    }
  }
  return out;
}

NutUsers LoadNutUsers(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    NutUsers none;
    none.Problems.push_back("cannot read " + path);
    return none;
  }
  NutUsers users = ParseNutUsers(
      std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  std::error_code ec;
  const fs::perms p = fs::status(path, ec).permissions();
  if (!ec && (p & (fs::perms::others_read | fs::perms::others_write)) != fs::perms::none) {
    const bool write = (p & fs::perms::others_write) != fs::perms::none;
    const bool read = (p & fs::perms::others_read) != fs::perms::none;
    users.Problems.push_back(std::string("other users may ") + (read ? "read" : "") +
                             (read && write ? " and " : "") + (write ? "change" : "") +
                             " it and its passwords; fix with: chmod o-rwx " + path);
  }
  return users;
}

}  // namespace tessel
