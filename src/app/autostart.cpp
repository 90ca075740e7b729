#include "app/autostart.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace tessel {

namespace {

// The string-value escapes of a desktop entry, applied over the Exec quoting.
std::string EscapeValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string WithReason(const std::string& message, const std::error_code& ec) {
  return ec ? message + " (" + ec.message() + ")" : message;
}

}  // namespace

std::string AutostartFolder(const std::string& xdgConfigHome, const std::string& userHome) {
  // A relative XDG_CONFIG_HOME is ignored, as desktops do.
  if (!xdgConfigHome.empty() && xdgConfigHome.front() == '/')
    return (fs::path(xdgConfigHome) / "autostart").string();
  if (!userHome.empty()) return (fs::path(userHome) / ".config" / "autostart").string();
  return {};
}

std::string QuoteExecArgument(const std::string& arg) {
  static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
  const bool quote = arg.empty() || arg.find_first_of(reserved) != std::string::npos;
  std::string out;
  if (quote) out += '"';
  for (char c : arg) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
    if (c == '%') out += '%';  // a lone % would start a field code
  }
  if (quote) out += '"';
  return out;
}

std::string AutostartEntryText(const std::string& executable, const std::string& programFolder) {
  // The program folder is kept with a trailing separator; the entry names it without one.
  std::string folder = programFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::string exec = QuoteExecArgument(executable) + " --home " + QuoteExecArgument(folder);
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Tessel\n"
         "Comment=UPS and inverter monitor\n"
         "Exec=" +
         EscapeValue(exec) +
         "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

std::optional<std::string> ReadAutostartEntry(const std::string& folder) {
  std::ifstream in(fs::path(folder) / kAutostartFileName, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ApplyAutostart(const std::string& folder, bool wanted, const std::string& content) {
  if (folder.empty()) {
    // Neither XDG_CONFIG_HOME nor HOME says where the user's entries live.
    return wanted ? std::string("Unable to write to the autostart folder: HOME is not set")
                  : std::string();
  }
  const fs::path file = fs::path(folder) / kAutostartFileName;
  std::error_code ec;
  if (!wanted) {
    if (!fs::exists(fs::symlink_status(file, ec))) return {};
    if (!fs::remove(file, ec) || ec) return WithReason("Unable to delete " + file.string(), ec);
    return {};
  }

  if (ReadAutostartEntry(folder) == content) return {};
  // Written beside it and renamed over it, so that a failed write never leaves half an entry.
  const fs::path temp = fs::path(folder) / (std::string(kAutostartFileName) + ".new");
  fs::create_directories(folder, ec);
  if (ec) return WithReason("Unable to write to " + file.string(), ec);
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << content;
    out.flush();
    if (!out) {
      out.close();
      fs::remove(temp, ec);
      return "Unable to write to " + file.string();
    }
  }
  fs::rename(temp, file, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    return WithReason("Unable to write to " + file.string(), ec);
  }
  return {};
}

}  // namespace tessel
