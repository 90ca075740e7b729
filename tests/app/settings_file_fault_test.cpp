// The settings file under a full disk, a vanished program folder and damaged content.
#include <gtest/gtest.h>

#include <string>

#include "app/settings_file.h"
#include "fault_support.h"

namespace tessel {
namespace {

using fault::TempDir;

Settings Changed() {
  Settings s;
  s.PortInfo = {"COM7", 4800, 2, true, 2, 300, 20, 3, 6, 12};
  s.Language = 1;
  s.RecInterval = 1200;
  return s;
}

TEST(SettingsFault, FullDiskReportsTheFailureAndKeepsTheFileAsItWas) {
  TempDir dir;
  const std::string path = dir / kSettingsFileName;
  const std::string before =
      "; kept by hand\r\n[CommPort]\r\nComName=COM2\r\nBaudRate=2400\r\n[Other]\r\nX=1\r\n";
  fault::WriteAll(path, before);

  // Room for far less than the file; the write must fail as a whole.
  const int rc = fault::RunWithFileSizeLimit(32, [&] {
    try {
      WriteUserParaIni(path, Changed());
    } catch (const SettingsWriteError& e) {
      return std::string(e.what()).rfind("Unable to write to ", 0) == 0 ? 1 : 3;
    }
    return 0;
  });
  EXPECT_EQ(rc, 1) << "0: reported success, 3: wrong message, 124: other exception, 2xx: signal";
  EXPECT_EQ(fault::ReadAll(path), before);
  EXPECT_EQ(fault::Entries(dir.Path()), std::vector<std::string>{kSettingsFileName})
      << "no half-written temporary file may stay behind";

  Settings s;
  ReadUserParaIni(path, s);
  EXPECT_EQ(s.PortInfo.ComName, "COM2");
  EXPECT_EQ(s.PortInfo.BaudRate, 2400);
}

TEST(SettingsFault, ProgramFolderReplacedByAFile) {
  TempDir dir;
  const std::string folder = dir / "program";
  fault::WriteAll(folder, "not a folder");
  const std::string path = folder + "/" + kSettingsFileName;

  Settings s = Changed();
  ReadUserParaIni(path, s);
  EXPECT_EQ(s.PortInfo.ComName, "COM1");
  EXPECT_EQ(s.RecInterval, 600);

  try {
    WriteUserParaIni(path, Changed());
    ADD_FAILURE() << "writing into a file as if it were a folder succeeded";
  } catch (const SettingsWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
  EXPECT_EQ(fault::ReadAll(folder), "not a folder");
}

TEST(SettingsFault, BinaryGarbageYieldsDefaultsExceptForTheReadableLines) {
  TempDir dir;
  const std::string path = dir / kSettingsFileName;
  std::string garbage;
  for (int i = 0; i < 3000; ++i) garbage.push_back(static_cast<char>((i * 151 + 7) % 256));
  // A NUL and a lone CR inside the garbage, then one readable section.
  garbage += std::string("\0\r", 2) + "\n[DataLog]\nRecInterval=900\n";
  garbage += std::string("\xFF\xFE[CommPort\x00]\nBaudRate=1\n", 24);
  fault::WriteAll(path, garbage);

  Settings s;
  ReadUserParaIni(path, s);
  EXPECT_EQ(s.RecInterval, 900);
  EXPECT_EQ(s.PortInfo.ComName, "COM1");
  EXPECT_EQ(s.PortInfo.BaudRate, 9600);
  EXPECT_EQ(s.PortInfo.MaxReSend, 2);

  // Writing keeps the garbage (it is other content of the file) and stores every value.
  WriteUserParaIni(path, Changed());
  const std::string after = fault::ReadAll(path);
  EXPECT_EQ(after.compare(0, 3000, garbage, 0, 3000), 0);
  Settings back;
  ReadUserParaIni(path, back);
  EXPECT_EQ(back.PortInfo.ComName, "COM7");
  EXPECT_EQ(back.PortInfo.BaudRate, 4800);
  EXPECT_EQ(back.RecInterval, 1200);
  EXPECT_EQ(back.Language, 1);
}

// Found by the settings fuzz target: a text the reader trims or unquotes was written bare and
// came back changed after one save.
TEST(SettingsFault, TextValuesReadBackAsTheyWereWritten) {
  TempDir dir;
  const std::string path = dir / kSettingsFileName;
  for (const std::string name : {" COM1 ", "\tCOM2", "\"COM3\"", "'x'", "\"", "a\"b", "COM4"}) {
    Settings s = Changed();
    s.PortInfo.ComName = name;
    WriteUserParaIni(path, s);
    Settings back;
    ReadUserParaIni(path, back);
    EXPECT_EQ(back.PortInfo.ComName, name) << fault::ReadAll(path);
  }
}

}  // namespace
}  // namespace tessel
