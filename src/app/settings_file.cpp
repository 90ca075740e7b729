#include "app/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

namespace tessel {

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxTextLength = 2047;

// One physical line of the file: its text and the line end that followed it ("\r\n", "\n", "\r" or
// "" for a last line without one). Keeping both lets a write reproduce untouched lines exactly.
struct Line {
  std::string text;
  std::string end;
};

std::vector<Line> SplitLines(const std::string& content) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t stop = content.find_first_of("\r\n", pos);
    if (stop == std::string::npos) {
      lines.push_back({content.substr(pos), ""});
      break;
    }
    size_t endLen =
        (content[stop] == '\r' && stop + 1 < content.size() && content[stop + 1] == '\n') ? 2 : 1;
    lines.push_back({content.substr(pos, stop - pos), content.substr(stop, endLen)});
    pos = stop + endLen;
  }
  return lines;
}

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

// A file saved by some editors starts with a UTF-8 byte order mark; it must not hide the first
// section header.
std::string_view LineBody(const std::vector<Line>& lines, size_t i) {
  std::string_view t = lines[i].text;
  if (i == 0 && t.substr(0, 3) == "\xEF\xBB\xBF") t.remove_prefix(3);
  return t;
}

bool IsComment(std::string_view body) {
  std::string_view t = Trim(body);
  return !t.empty() && (t[0] == ';' || t[0] == '#');
}

// The name of a section header line, or nothing.
std::optional<std::string_view> SectionName(std::string_view body) {
  std::string_view t = Trim(body);
  if (t.size() < 2 || t[0] != '[') return std::nullopt;
  size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

// The key of a "key=value" line, or nothing.
std::optional<std::string_view> KeyName(std::string_view body) {
  if (IsComment(body) || SectionName(body)) return std::nullopt;
  size_t eq = body.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string_view key = Trim(body.substr(0, eq));
  if (key.empty()) return std::nullopt;
  return key;
}

// Lines [first, last) belonging to a section (after its header), found without regard to case.
// The first section of that name counts, as does the first key of a name within it.
struct SectionRange {
  size_t header = 0, first = 0, last = 0;
};

std::optional<SectionRange> FindSection(const std::vector<Line>& lines, std::string_view name) {
  for (size_t i = 0; i < lines.size(); ++i) {
    auto s = SectionName(LineBody(lines, i));
    if (!s || !EqualNoCase(*s, name)) continue;
    SectionRange r{i, i + 1, lines.size()};
    for (size_t j = i + 1; j < lines.size(); ++j) {
      if (SectionName(LineBody(lines, j))) {
        r.last = j;
        break;
      }
    }
    return r;
  }
  return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<Line>& lines, const SectionRange& r,
                              std::string_view key) {
  for (size_t i = r.first; i < r.last; ++i) {
    auto k = KeyName(LineBody(lines, i));
    if (k && EqualNoCase(*k, key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> ReadValue(const std::vector<Line>& lines, std::string_view section,
                                     std::string_view key) {
  auto r = FindSection(lines, section);
  if (!r) return std::nullopt;
  auto i = FindKey(lines, *r, key);
  if (!i) return std::nullopt;
  std::string_view body = LineBody(lines, *i);
  std::string_view v = Trim(body.substr(body.find('=') + 1));
  // A value may be quoted to keep surrounding blanks.
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decimal with an optional sign, or "0x"/"0X"/"$" hexadecimal (up to 32 bits, taken as the
// two's-complement pattern). Anything else, or a value outside 32 bits, is no integer.
std::optional<int32_t> ParseInteger(std::string_view s) {
  if (s.empty()) return std::nullopt;
  size_t digits = 0;
  if (s[0] == '$')
    digits = 1;
  else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
    digits = 2;
  if (digits > 0) {
    if (digits == s.size()) return std::nullopt;
    uint64_t v = 0;
    for (size_t i = digits; i < s.size(); ++i) {
      int d = HexDigit(s[i]);
      if (d < 0) return std::nullopt;
      v = v * 16 + static_cast<uint64_t>(d);
      if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(v));
  }
  size_t i = 0;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    i = 1;
  }
  if (i == s.size()) return std::nullopt;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    v = v * 10 + (s[i] - '0');
    if (v > 2147483648LL) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(v);
}

struct IniFile {
  std::vector<Line> lines;

  int32_t Int(std::string_view section, std::string_view key, int32_t def) const {
    auto v = ReadValue(lines, section, key);
    if (!v) return def;
    return ParseInteger(*v).value_or(def);
  }
  uint8_t Byte(std::string_view section, std::string_view key, int32_t def) const {
    return static_cast<uint8_t>(Int(section, key, def) & 0xFF);
  }
  std::string Text(std::string_view section, std::string_view key, const std::string& def) const {
    auto v = ReadValue(lines, section, key);
    if (!v) return def;
    if (v->size() > kMaxTextLength) v->resize(kMaxTextLength);
    return *v;
  }

  // The line end used for lines the write adds: the file's own, else the platform's.
  std::string NewLineEnd() const {
    for (const Line& l : lines)
      if (!l.end.empty()) return l.end;
    return "\n";
  }

  void Set(std::string_view section, std::string_view key, const std::string& value) {
    const std::string eol = NewLineEnd();
    auto r = FindSection(lines, section);
    if (!r) {
      if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
      lines.push_back({"[" + std::string(section) + "]", eol});
      lines.push_back({std::string(key) + "=" + value, eol});
      return;
    }
    if (auto i = FindKey(lines, *r, key)) {
      // Keep the key as spelled in the file and the blanks around '='; replace only the value.
      std::string& text = lines[*i].text;
      size_t valueStart = text.find('=') + 1;
      while (valueStart < text.size() && (text[valueStart] == ' ' || text[valueStart] == '\t'))
        ++valueStart;
      text = text.substr(0, valueStart) + value;
      return;
    }
    // A new key goes after the section's last key (or right after its header), so that comments
    // and blank lines that introduce the next section stay with it.
    size_t after = r->header;
    for (size_t i = r->first; i < r->last; ++i)
      if (KeyName(LineBody(lines, i))) after = i;
    if (lines[after].end.empty()) lines[after].end = eol;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after) + 1,
                 Line{std::string(key) + "=" + value, eol});
  }

  std::string Join() const {
    std::string out;
    for (const Line& l : lines) out += l.text + l.end;
    return out;
  }
};

// Reads the whole file. A missing file (or anything that is not a readable regular file) yields
// nothing.
std::optional<std::string> ReadFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string FullPath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  if (ec) return path;
  return p.lexically_normal().string();
}

// A value that contains a line break would split its line and inject further keys. One that the
// reader would change (surrounding blanks are trimmed, one pair of surrounding quotes is removed)
// is written quoted, so that it reads back as it was.
std::string OneLine(const std::string& s) {
  std::string v = s.substr(0, s.find_first_of("\r\n"));
  if (v.empty()) return v;
  const bool blanks = v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t';
  const bool quoted =
      v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
  return blanks || quoted ? '"' + v + '"' : v;
}

// Writes content to a temporary file beside target and renames it over target, so that a failed
// write never leaves a truncated settings file behind.
bool ReplaceFile(const fs::path& target, const std::string& content) {
  std::string tmpl = target.string() + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return false;
  const std::string tmpName(name.data());

  struct stat st {};
  mode_t mode = 0644;
  if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 07777;
  bool ok = fchmod(fd, mode) == 0;

  size_t done = 0;
  while (ok && done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (ok && std::rename(tmpName.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) unlink(tmpName.c_str());
  return ok;
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::optional<std::string> ReadIniValue(const std::string& path, std::string_view section,
                                        std::string_view key) {
  auto content = ReadFile(path);
  if (!content) return std::nullopt;
  auto v = ReadValue(SplitLines(*content), section, key);
  if (v && v->size() > kMaxTextLength) v->resize(kMaxTextLength);
  return v;
}

std::optional<int32_t> ParseIniInteger(std::string_view text) {
  return ParseInteger(text);
}

void ReadUserParaIni(const std::string& path, Settings& s) {
  IniFile ini;
  if (auto content = ReadFile(path)) ini.lines = SplitLines(*content);

  TPortInfo& p = s.PortInfo;
  p.ComName = ini.Text("CommPort", "ComName", "COM1");
  p.BaudRate = ini.Int("CommPort", "BaudRate", 9600);
  p.StopBits = ini.Byte("CommPort", "StopBits", 1);
  p.ReadIntervalTimeout = ini.Int("CommPort", "ReadIntervalTimeout", 200);
  p.AutoStart = ini.Int("CommPort", "AutoStart", 0) != 0;
  p.Protocol = ini.Byte("CommPort", "Protocol", 0);
  p.FastPoll = ini.Int("CommPort", "FastPoll", 0) != 0;
  p.WaitTimer = ini.Byte("CommMast", "WaitTimer", 15);
  p.MaxReSend = ini.Byte("CommMast", "MaxReSend", 2);
  p.CommErrCnt = ini.Byte("CommMast", "CommErrCnt", 5);
  p.CommLostCnt = ini.Byte("CommMast", "CommLostCnt", 10);
  s.Language = ini.Byte("Language", "Language", 0);
  s.RecInterval = ini.Int("DataLog", "RecInterval", 600);
  // 0 is how logging switched off is stored; it must stay off after a restart. Anything else
  // below the shortest interval becomes the shortest interval.
  if (s.RecInterval != 0 && s.RecInterval < 50) s.RecInterval = 50;
}

void WriteUserParaIni(const std::string& path, const Settings& s) {
  const std::string fullPath = FullPath(path);
  const std::string error = "Unable to write to " + fullPath;

  // Write through a symbolic link to the file it names rather than replacing the link.
  std::error_code ec;
  fs::path target = fullPath;
  if (fs::is_symlink(target, ec)) {
    fs::path resolved = fs::weakly_canonical(target, ec);
    if (ec) throw SettingsWriteError(error);
    target = resolved;
  }

  IniFile ini;
  if (fs::exists(target, ec)) {
    auto content = ReadFile(target);
    // An existing file we cannot read must not be replaced by one that lacks its other content.
    if (!content) throw SettingsWriteError(error);
    ini.lines = SplitLines(*content);
  }

  const TPortInfo& p = s.PortInfo;
  ini.Set("CommPort", "ComName", OneLine(p.ComName));
  ini.Set("CommPort", "BaudRate", std::to_string(p.BaudRate));
  ini.Set("CommPort", "StopBits", std::to_string(p.StopBits));
  ini.Set("CommPort", "ReadIntervalTimeout", std::to_string(p.ReadIntervalTimeout));
  ini.Set("CommPort", "AutoStart", p.AutoStart ? "1" : "0");
  ini.Set("CommPort", "Protocol", std::to_string(p.Protocol));
  // Written once it is switched on, so that the files of those who never use it stay as they were.
  if (p.FastPoll || ReadValue(ini.lines, "CommPort", "FastPoll"))
    ini.Set("CommPort", "FastPoll", p.FastPoll ? "1" : "0");
  ini.Set("CommMast", "WaitTimer", std::to_string(p.WaitTimer));
  ini.Set("CommMast", "MaxReSend", std::to_string(p.MaxReSend));
  ini.Set("CommMast", "CommErrCnt", std::to_string(p.CommErrCnt));
  ini.Set("CommMast", "CommLostCnt", std::to_string(p.CommLostCnt));
  ini.Set("Language", "Language", std::to_string(s.Language));
  ini.Set("DataLog", "RecInterval", std::to_string(s.RecInterval));

  if (!ReplaceFile(target, ini.Join())) throw SettingsWriteError(error);
}

}  // namespace tessel
