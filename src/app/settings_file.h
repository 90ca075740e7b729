// The settings file "UserParaIni.ini": reading and writing the operator's settings.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "model/settings.h"

namespace tessel {

// Raised when the settings file cannot be written: "Unable to write to <full path>".
class SettingsWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr const char* kSettingsFileName = "UserParaIni.ini";

// ASCII letters compared without regard to case, as the settings file and the users file name
// their sections and keys.
bool EqualNoCase(std::string_view a, std::string_view b);

// Loads all twelve values and the fast-polling switch (defaults for what is missing or malformed).
// Never touches the file.
void ReadUserParaIni(const std::string& path, Settings& s);
// Stores the twelve values (and FastPoll once it was on), keeping every other line of the file.
// Throws SettingsWriteError.
void WriteUserParaIni(const std::string& path, const Settings& s);

// For the sections other parts of the program own (the writer keeps them): one value, found with
// the same rules as the twelve (sections and keys without regard to case, quotes removed).
// Nothing when the file, the section or the key is missing.
std::optional<std::string> ReadIniValue(const std::string& path, std::string_view section,
                                        std::string_view key);
// An integer as the settings file writes them (decimal, "0x" or "$" hexadecimal); nothing if not.
std::optional<int32_t> ParseIniInteger(std::string_view text);

}  // namespace tessel
