// The settings file "UserParaIni.ini": reading and writing the operator's settings.
#pragma once

#include <stdexcept>
#include <string>

#include "model/settings.h"

namespace tessel {

// Raised when the settings file cannot be written: "Unable to write to <full path>".
class SettingsWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr const char* kSettingsFileName = "UserParaIni.ini";

// Loads all twelve values (defaults for what is missing or malformed). Never touches the file.
void ReadUserParaIni(const std::string& path, Settings& s);
// Stores the twelve values, keeping every other line of the file. Throws SettingsWriteError.
void WriteUserParaIni(const std::string& path, const Settings& s);

}  // namespace tessel
