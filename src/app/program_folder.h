// Where the program keeps its files: the settings file, Record/ and Backup/.
#pragma once

#include <string>

namespace tessel {

struct ProgramPaths {
  std::string Home;          // the program folder
  std::string SettingsFile;  // Home/UserParaIni.ini
  std::string RecordDir;     // Home/Record/
  std::string BackupDir;     // Home/Backup/
  std::string EventLogName;  // "EventLog.dat", kept in RecordDir
  std::string TreeFile;      // RecordDir/TreeNode.dat
};

// What decides the program folder, in order of precedence.
struct FolderChoice {
  std::string HomeOption;   // --home DIR
  std::string HomeEnv;      // TESSEL_HOME
  std::string ExeDir;       // the executable's folder
  std::string XdgDataHome;  // XDG_DATA_HOME
  std::string UserHome;     // HOME, for the XDG default ~/.local/share
};

// --home, then TESSEL_HOME, then the executable's folder when it is writable and not a folder of
// installed programs (/usr/bin and the like), else the user's data folder ($XDG_DATA_HOME/tessel
// or ~/.local/share/tessel). Returned as an absolute path.
std::string ResolveProgramFolder(const FolderChoice& choice);

// The choice of this process: homeOption (--home), the environment, and the folder of the
// executable (/proc/self/exe).
FolderChoice FolderChoiceOfThisProcess(const std::string& homeOption);

ProgramPaths MakeProgramPaths(const std::string& home);

// Creates Record/ and Backup/ with missing parents. A folder that cannot be made is not an error
// here: the log stores meet it when they write.
void CreateProgramFolders(const ProgramPaths& paths);

}  // namespace tessel
