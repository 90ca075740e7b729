#include "app/settings_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

namespace tessel {
namespace {

namespace fs = std::filesystem;

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "tessel_settings_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    path_ = (dir_ / kSettingsFileName).string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Put(const std::string& content) const { std::ofstream(path_, std::ios::binary) << content; }
  std::string Get() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path dir_;
  std::string path_;
};

Settings Defaults() {
  Settings s;
  s.PortInfo = {"COM1", 9600, 1, false, 0, 200, 15, 2, 5, 10};
  s.Language = 0;
  s.RecInterval = 600;
  return s;
}

void ExpectSame(const Settings& got, const Settings& want, const std::string& where) {
  const TPortInfo& g = got.PortInfo;
  const TPortInfo& w = want.PortInfo;
  EXPECT_EQ(g.ComName, w.ComName) << where;
  EXPECT_EQ(g.BaudRate, w.BaudRate) << where;
  EXPECT_EQ(g.StopBits, w.StopBits) << where;
  EXPECT_EQ(g.AutoStart, w.AutoStart) << where;
  EXPECT_EQ(g.Protocol, w.Protocol) << where;
  EXPECT_EQ(g.ReadIntervalTimeout, w.ReadIntervalTimeout) << where;
  EXPECT_EQ(g.WaitTimer, w.WaitTimer) << where;
  EXPECT_EQ(g.MaxReSend, w.MaxReSend) << where;
  EXPECT_EQ(g.CommErrCnt, w.CommErrCnt) << where;
  EXPECT_EQ(g.CommLostCnt, w.CommLostCnt) << where;
  EXPECT_EQ(g.FastPoll, w.FastPoll) << where;
  EXPECT_EQ(got.Language, want.Language) << where;
  EXPECT_EQ(got.RecInterval, want.RecInterval) << where;
}

// Each row: the file content (none = no file) and how the expected values differ from the
// defaults; every one of the twelve values is compared.
struct ReadCase {
  const char* name;
  std::optional<std::string> content;
  std::function<void(Settings&)> change;
};

TEST_F(SettingsFile, ReadsValuesAndAppliesDefaultsAndRules) {
  const std::string longName(3000, 'X');
  const ReadCase cases[] = {
      {"no file gives every default", std::nullopt, [](Settings&) {}},
      {"empty file gives every default", "", [](Settings&) {}},
      {"all twelve values",
       "[CommPort]\nComName=COM7\nBaudRate=4800\nStopBits=2\nReadIntervalTimeout=350\n"
       "AutoStart=1\nProtocol=3\n[CommMast]\nWaitTimer=20\nMaxReSend=4\nCommErrCnt=6\n"
       "CommLostCnt=12\n[Language]\nLanguage=1\n[DataLog]\nRecInterval=1200\n",
       [](Settings& s) {
         s.PortInfo = {"COM7", 4800, 2, true, 3, 350, 20, 4, 6, 12};
         s.Language = 1;
         s.RecInterval = 1200;
       }},
      {"RecInterval 0 (logging off) stays off", "[DataLog]\nRecInterval=0\n",
       [](Settings& s) { s.RecInterval = 0; }},
      {"RecInterval 1 reads as 50", "[DataLog]\nRecInterval=1\n",
       [](Settings& s) { s.RecInterval = 50; }},
      {"RecInterval 49 reads as 50", "[DataLog]\nRecInterval=49\n",
       [](Settings& s) { s.RecInterval = 50; }},
      {"RecInterval 50 stays", "[DataLog]\nRecInterval=50\n",
       [](Settings& s) { s.RecInterval = 50; }},
      {"negative RecInterval reads as 50", "[DataLog]\nRecInterval=-600\n",
       [](Settings& s) { s.RecInterval = 50; }},
      {"Protocol 260 keeps its low 8 bits", "[CommPort]\nProtocol=260\n",
       [](Settings& s) { s.PortInfo.Protocol = 4; }},
      {"MaxReSend 1 is used unchanged", "[CommMast]\nMaxReSend=1\n",
       [](Settings& s) { s.PortInfo.MaxReSend = 1; }},
      {"MaxReSend 0 is used unchanged", "[CommMast]\nMaxReSend=0\n",
       [](Settings& s) { s.PortInfo.MaxReSend = 0; }},
      {"StopBits 3 reads as 3", "[CommPort]\nStopBits=3\n",
       [](Settings& s) { s.PortInfo.StopBits = 3; }},
      {"StopBits -1 keeps its low 8 bits", "[CommPort]\nStopBits=-1\n",
       [](Settings& s) { s.PortInfo.StopBits = 255; }},
      {"BaudRate abc is no integer", "[CommPort]\nBaudRate=abc\n", [](Settings&) {}},
      {"BaudRate 0x2580 is hexadecimal", "[CommPort]\nBaudRate=0x2580\n",
       [](Settings& s) { s.PortInfo.BaudRate = 9600; }},
      {"0X and $ are hexadecimal too", "[CommPort]\nBaudRate=0X12C0\nReadIntervalTimeout=$64\n",
       [](Settings& s) {
         s.PortInfo.BaudRate = 4800;
         s.PortInfo.ReadIntervalTimeout = 100;
       }},
      {"32-bit hexadecimal pattern is two's complement", "[DataLog]\nRecInterval=$FFFFFFFF\n",
       [](Settings& s) { s.RecInterval = 50; }},
      {"explicit plus sign", "[CommPort]\nBaudRate=+2400\n",
       [](Settings& s) { s.PortInfo.BaudRate = 2400; }},
      {"malformed integers give defaults",
       "[CommPort]\nBaudRate=12ab\nStopBits=\nReadIntervalTimeout=-\nProtocol=0x\n"
       "[CommMast]\nWaitTimer=$\nMaxReSend=1.5\nCommErrCnt=99999999999\nCommLostCnt=0x1FFFFFFFF\n",
       [](Settings&) {}},
      {"AutoStart 2 reads as true", "[CommPort]\nAutoStart=2\n",
       [](Settings& s) { s.PortInfo.AutoStart = true; }},
      {"sections and keys ignore letter case, blanks around '=' are dropped",
       "[commport]\ncomname = COM2\nBAUDRATE=2400\n[LANGUAGE]\nlanguage=1\n",
       [](Settings& s) {
         s.PortInfo.ComName = "COM2";
         s.PortInfo.BaudRate = 2400;
         s.Language = 1;
       }},
      {"CRLF line ends", "[CommPort]\r\nComName=COM4\r\nBaudRate=4800\r\n",
       [](Settings& s) {
         s.PortInfo.ComName = "COM4";
         s.PortInfo.BaudRate = 4800;
       }},
      {"a key in another section does not count",
       "[CommMast]\nBaudRate=4800\n[CommPort]\nLanguage=1\n", [](Settings&) {}},
      {"the first of repeated sections and keys counts",
       "[CommPort]\nBaudRate=4800\nBaudRate=2400\n[CommPort]\nBaudRate=1200\n",
       [](Settings& s) { s.PortInfo.BaudRate = 4800; }},
      {"comments are not keys", "[CommPort]\n;BaudRate=4800\n#Protocol=2\n", [](Settings&) {}},
      {"empty ComName stays empty", "[CommPort]\nComName=\n",
       [](Settings& s) { s.PortInfo.ComName = ""; }},
      {"text is read up to 2047 characters", "[CommPort]\nComName=" + longName + "\n",
       [&](Settings& s) { s.PortInfo.ComName = longName.substr(0, 2047); }},
      {"byte order mark before the first section", "\xEF\xBB\xBF[CommPort]\nBaudRate=2400",
       [](Settings& s) { s.PortInfo.BaudRate = 2400; }},
  };
  for (const ReadCase& c : cases) {
    fs::remove(path_);
    if (c.content) Put(*c.content);
    Settings got;
    got.PortInfo.ComName = "stale";
    got.RecInterval = 7;
    ReadUserParaIni(path_, got);
    Settings want = Defaults();
    c.change(want);
    ExpectSame(got, want, c.name);
    if (!c.content) {
      EXPECT_FALSE(fs::exists(path_)) << "reading must not create the file";
    }
  }
}

Settings Sample() {
  Settings s;
  s.PortInfo = {"COM3", 4800, 2, true, 2, 300, 15, 3, 5, 10};
  s.Language = 1;
  s.RecInterval = 0;
  return s;
}

TEST_F(SettingsFile, WriteCreatesTheFileInTableOrder) {
  WriteUserParaIni(path_, Sample());
  EXPECT_EQ(Get(),
            "[CommPort]\nComName=COM3\nBaudRate=4800\nStopBits=2\nReadIntervalTimeout=300\n"
            "AutoStart=1\nProtocol=2\n[CommMast]\nWaitTimer=15\nMaxReSend=3\nCommErrCnt=5\n"
            "CommLostCnt=10\n[Language]\nLanguage=1\n[DataLog]\nRecInterval=0\n");
  Settings back;
  ReadUserParaIni(path_, back);
  Settings want = Sample();
  // want.RecInterval stays 0: logging switched off stays off after a restart
  ExpectSame(back, want, "round trip");
}

TEST_F(SettingsFile, WriteChangesOnlyTheTwelveValues) {
  // CRLF, comments, foreign sections and keys, odd spelling and no line end on the last line.
  const std::string before =
      "; operator settings\r\n"
      "[commport]\r\n"
      "COMNAME = COM1\r\n"
      "Extra=keep me\r\n"
      "baudrate=9600\r\n"
      "StopBits=1\r\n"
      "ReadIntervalTimeout=200\r\n"
      "AutoStart=2\r\n"
      "Protocol=0\r\n"
      "\r\n"
      "[Other]\r\n"
      "Protocol=9\r\n"
      "[CommMast]\r\n"
      "WaitTimer=$0F\r\n"
      "MaxReSend=2\r\n"
      "CommErrCnt=5\r\n"
      "CommLostCnt=10\r\n"
      "[Language]\r\n"
      "Language=0\r\n"
      "[DataLog]\r\n"
      "RecInterval=600";
  Put(before);
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  Settings s;
  ReadUserParaIni(path_, s);
  EXPECT_TRUE(s.PortInfo.AutoStart);
  s.PortInfo.BaudRate = 4800;
  s.Language = 1;
  WriteUserParaIni(path_, s);
  EXPECT_EQ(Get(),
            "; operator settings\r\n"
            "[commport]\r\n"
            "COMNAME = COM1\r\n"
            "Extra=keep me\r\n"
            "baudrate=4800\r\n"
            "StopBits=1\r\n"
            "ReadIntervalTimeout=200\r\n"
            "AutoStart=1\r\n"
            "Protocol=0\r\n"
            "\r\n"
            "[Other]\r\n"
            "Protocol=9\r\n"
            "[CommMast]\r\n"
            "WaitTimer=15\r\n"
            "MaxReSend=2\r\n"
            "CommErrCnt=5\r\n"
            "CommLostCnt=10\r\n"
            "[Language]\r\n"
            "Language=1\r\n"
            "[DataLog]\r\n"
            "RecInterval=600");
  EXPECT_EQ(fs::status(path_).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(SettingsFile, WriteGoesThroughASymbolicLink) {
  const fs::path real = dir_ / "real.ini";
  std::ofstream(real, std::ios::binary) << "[Mine]\nx=1\n";
  fs::create_symlink(real, path_);
  WriteUserParaIni(path_, Defaults());
  EXPECT_TRUE(fs::is_symlink(path_));
  Settings back;
  back.Language = 9;
  ReadUserParaIni(real.string(), back);
  ExpectSame(back, Defaults(), "through the link");
}

TEST_F(SettingsFile, WriteCreatesMissingSectionsAndKeys) {
  Put("[CommPort]\n"
      "ComName=COM2\n"
      "\n"
      "; the next section belongs to another tool\n"
      "[Tool]\n"
      "a=1\n"
      "[CommMast]\n"
      "[DataLog]\n"
      "RecInterval=600");
  Settings s = Defaults();
  s.PortInfo.ComName = "COM2";
  WriteUserParaIni(path_, s);
  EXPECT_EQ(Get(),
            "[CommPort]\n"
            "ComName=COM2\n"
            "BaudRate=9600\n"
            "StopBits=1\n"
            "ReadIntervalTimeout=200\n"
            "AutoStart=0\n"
            "Protocol=0\n"
            "\n"
            "; the next section belongs to another tool\n"
            "[Tool]\n"
            "a=1\n"
            "[CommMast]\n"
            "WaitTimer=15\n"
            "MaxReSend=2\n"
            "CommErrCnt=5\n"
            "CommLostCnt=10\n"
            "[DataLog]\n"
            "RecInterval=600\n"
            "[Language]\n"
            "Language=0\n");
}

// Fast polling is read from [CommPort] FastPoll; the key is written once it was switched on, so
// the files of those who never use it do not change.
TEST_F(SettingsFile, FastPollKeyIsWrittenOnceSwitchedOn) {
  Put("[CommPort]\nfastpoll = 2\n");
  Settings s;
  ReadUserParaIni(path_, s);
  EXPECT_TRUE(s.PortInfo.FastPoll);

  fs::remove(path_);
  Settings off = Defaults();
  WriteUserParaIni(path_, off);
  EXPECT_EQ(Get().find("FastPoll"), std::string::npos);

  Settings on = Defaults();
  on.PortInfo.FastPoll = true;
  WriteUserParaIni(path_, on);
  EXPECT_NE(Get().find("[CommPort]\nComName=COM1\nBaudRate=9600\nStopBits=1\n"
                       "ReadIntervalTimeout=200\nAutoStart=0\nProtocol=0\nFastPoll=1\n"),
            std::string::npos)
      << Get();
  Settings back;
  ReadUserParaIni(path_, back);
  ExpectSame(back, on, "switched on");

  WriteUserParaIni(path_, off);
  EXPECT_NE(Get().find("FastPoll=0\n"), std::string::npos) << Get();
  ReadUserParaIni(path_, back);
  ExpectSame(back, off, "switched off again");
}

TEST_F(SettingsFile, LineBreaksInTheNameCannotInjectKeys) {
  Settings s = Defaults();
  s.PortInfo.ComName = "COM5\n[DataLog]\nRecInterval=1";
  WriteUserParaIni(path_, s);
  Settings back;
  ReadUserParaIni(path_, back);
  EXPECT_EQ(back.PortInfo.ComName, "COM5");
  EXPECT_EQ(back.RecInterval, 600);
}

TEST_F(SettingsFile, FailedWriteNamesTheFullPathAndDamagesNothing) {
  const fs::path missing = dir_ / "no_such_folder" / kSettingsFileName;
  try {
    WriteUserParaIni(missing.string(), Defaults());
    FAIL() << "no error for a folder that does not exist";
  } catch (const SettingsWriteError& e) {
    EXPECT_STREQ(e.what(), ("Unable to write to " + missing.string()).c_str());
  }

  // A relative path is reported in full.
  const std::string relative = "tessel_no_such_folder/UserParaIni.ini";
  try {
    WriteUserParaIni(relative, Defaults());
    FAIL() << "no error for a relative path into a missing folder";
  } catch (const SettingsWriteError& e) {
    EXPECT_STREQ(e.what(),
                 ("Unable to write to " + (fs::current_path() / relative).string()).c_str());
  }

  // The settings path is taken by a folder: it stays as it was and no temporary file is left.
  fs::create_directory(path_);
  std::ofstream(fs::path(path_) / "inside.txt") << "x";
  EXPECT_THROW(WriteUserParaIni(path_, Defaults()), SettingsWriteError);
  EXPECT_TRUE(fs::is_directory(path_));
  EXPECT_TRUE(fs::exists(fs::path(path_) / "inside.txt"));
  int entries = 0;
  for (const auto& e : fs::directory_iterator(dir_)) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace tessel
