// Starting the program when the user logs in: the user's autostart entry, a desktop entry file
// in $XDG_CONFIG_HOME/autostart (default ~/.config/autostart) that starts this program with its
// program folder.
#pragma once

#include <optional>
#include <string>

namespace tessel {

inline constexpr const char* kAutostartFileName = "tessel.desktop";

// $XDG_CONFIG_HOME/autostart when XDG_CONFIG_HOME is an absolute path, else ~/.config/autostart;
// "" when neither is known.
std::string AutostartFolder(const std::string& xdgConfigHome, const std::string& userHome);

// One argument of an Exec line: quoted when it holds a reserved character, with '%' doubled.
std::string QuoteExecArgument(const std::string& arg);

// The desktop entry that starts executable with --home programFolder (both absolute).
std::string AutostartEntryText(const std::string& executable, const std::string& programFolder);

// The entry's current content, or nothing when there is no entry (or it cannot be read).
std::optional<std::string> ReadAutostartEntry(const std::string& folder);

// Brings the entry in folder into the wanted state: written (or rewritten when its content
// differs from content) when wanted, removed when not. Empty on success, else the error for
// the operator ("Unable to write to <path>" / "Unable to delete <path>", with the reason).
std::string ApplyAutostart(const std::string& folder, bool wanted, const std::string& content);

}  // namespace tessel
