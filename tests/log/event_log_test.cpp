#include "log/event_log.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <filesystem>

#include "log/temp_folder.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

std::vector<TEventRec> ReadRecords(const fs::path& p) {
  return testing::ReadRecordFile(p, kEventRecSize, DecodeEventRec);
}

TEventRec Numbered(int code) {
  TEventRec r;
  r.Time = 45000.5;
  r.Address = 7;
  r.Kind = 2;
  r.Code = code;
  r.AlarmState = 1;
  return r;
}

// A live file of n records with codes first, first + 1, ...
void WriteLiveFile(const fs::path& p, int n, int first = 0) {
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(n) * kEventRecSize);
  for (int i = 0; i < n; ++i) {
    auto rec = EncodeEventRec(Numbered(first + i));
    bytes.insert(bytes.end(), rec.begin(), rec.end());
  }
  fs::create_directories(p.parent_path());
  WriteBytes(p, bytes);
}

std::vector<int> Codes(const std::vector<TEventRec>& recs) {
  std::vector<int> codes;
  for (const auto& r : recs) codes.push_back(r.Code);
  return codes;
}

std::vector<int> Range(int first, int n) {
  std::vector<int> v(n);
  for (int i = 0; i < n; ++i) v[i] = first + i;
  return v;
}

// Lowers the process's file size limit for one test, so that writes past it fail part-way
// (the way a full disk does), and restores it afterwards.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
};

class EventLogTest : public ::testing::Test {
 protected:
  EventLogTest() { InitUpsTable(table); }

  fs::path Live() const { return folder / "Record" / "EventLog.dat"; }
  fs::path Backup(const std::string& name) const { return folder / "Backup" / name; }

  TempFolder folder;
  TUpsTable table{};
  ManualClock clock{45292.25};  // 2024-01-01 06:00
  TEventLog log{(folder / "Record/").string(), (folder / "Backup").string(), "EventLog.dat", table,
                clock};
};

TEST(EventRecLayout, EveryFieldAtItsOffset) {
  TEventRec r;
  r.Time = 45292.75;
  r.Address = 0xAB;
  r.Kind = 2;
  r.Code = -2;
  r.AlarmState = 0;
  for (int i = 0; i < kStatusBlockSize; ++i) r.StatusSnapshot[i] = static_cast<uint8_t>(0xC0 + i);
  auto b = EncodeEventRec(r);

  double t;
  std::memcpy(&t, &b[0], 8);  // little-endian host
  EXPECT_EQ(t, 45292.75);
  EXPECT_EQ(b[8], 0xAB);
  EXPECT_EQ(b[9], 2);
  EXPECT_EQ(b[10], 0);
  EXPECT_EQ(b[11], 0);
  EXPECT_EQ((std::vector<uint8_t>{b[12], b[13], b[14], b[15]}),
            (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(b[16], 0);
  for (int i = 17; i < 22; ++i) EXPECT_EQ(b[i], 0) << i;
  for (int i = 0; i < kStatusBlockSize; ++i) EXPECT_EQ(b[22 + i], 0xC0 + i) << i;

  TEventRec back = DecodeEventRec(b.data());
  EXPECT_EQ(back.Time, r.Time);
  EXPECT_EQ(back.Address, r.Address);
  EXPECT_EQ(back.Kind, r.Kind);
  EXPECT_EQ(back.Code, r.Code);
  EXPECT_EQ(back.AlarmState, r.AlarmState);
  EXPECT_EQ(back.StatusSnapshot, r.StatusSnapshot);
}

TEST_F(EventLogTest, RecordCountCreatesFolderAndEmptyFile) {
  EXPECT_FALSE(fs::exists(Live()));
  EXPECT_EQ(log.RecordCount(), 0);
  EXPECT_TRUE(fs::exists(Live()));
  EXPECT_EQ(fs::file_size(Live()), 0u);
  EXPECT_EQ(log.FilePath(), Live().string());
  EXPECT_EQ(log.Changed, 0);
}

TEST_F(EventLogTest, ProgramAndDeviceEventsByType) {
  table[9].RunState = 4;
  table[9].CmmState1 = 0x1234;
  table[9].SysAlarm = 0xBEEF;

  log.LogProgramEvent(0);
  log.LogProgramEvent(1);
  log.LogProgramEvent(2);  // nothing
  log.LogProgramEvent(-1);
  log.LogDeviceEvent(1, 9);  // nothing
  log.LogDeviceEvent(7, 9);
  for (int type : {2, 3, 4, 5, 6}) log.LogDeviceEvent(type, 9);

  auto recs = ReadRecords(Live());
  struct Want {
    int address, kind, code;
  };
  const Want want[] = {{0, 0, 20}, {0, 0, 21}, {9, 0, 22}, {9, 0, 18},
                       {9, 0, 23}, {9, 0, 19}, {9, 1, 4}};
  ASSERT_EQ(recs.size(), std::size(want));
  for (size_t i = 0; i < recs.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(recs[i].Time, clock.Now());
    EXPECT_EQ(recs[i].Address, want[i].address);
    EXPECT_EQ(recs[i].Kind, want[i].kind);
    EXPECT_EQ(recs[i].Code, want[i].code);
    EXPECT_EQ(recs[i].AlarmState, 255);
    auto snapshot = i < 2 ? std::array<uint8_t, kStatusBlockSize>{} : StatusBlock(table[9]);
    EXPECT_EQ(recs[i].StatusSnapshot, snapshot);
  }
  EXPECT_EQ(log.Changed, 255);
}

TEST_F(EventLogTest, PartialTrailingRecordIsOverwrittenAndNothingElse) {
  WriteLiveFile(Live(), 3);
  auto before = ReadBytes(Live());
  std::vector<uint8_t> withTail = before;
  withTail.insert(withTail.end(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  WriteBytes(Live(), withTail);

  EXPECT_EQ(log.RecordCount(), 3);
  ASSERT_TRUE(log.Append(Numbered(3)));
  auto after = ReadBytes(Live());
  ASSERT_EQ(after.size(), 4u * kEventRecSize);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
  EXPECT_EQ(Codes(ReadRecords(Live())), Range(0, 4));
}

TEST_F(EventLogTest, ArchivesPast5000RecordsIntoFirstFreeName) {
  WriteLiveFile(Live(), 5000);
  fs::create_directories(folder / "Backup");
  WriteBytes(Backup("EventLog_000.dat"), {42});
  WriteBytes(Backup("EventLog_002.dat"), {43});

  ASSERT_TRUE(log.Append(Numbered(5000)));  // 5001 in place
  EXPECT_EQ(log.RecordCount(), 5001);
  EXPECT_FALSE(fs::exists(Backup("EventLog_001.dat")));

  ASSERT_TRUE(log.Append(Numbered(5001)));
  EXPECT_EQ(Codes(ReadRecords(Backup("EventLog_001.dat"))), Range(0, 5001));
  EXPECT_EQ(Codes(ReadRecords(Live())), Range(5001, 1));
  EXPECT_EQ(ReadBytes(Backup("EventLog_000.dat")), std::vector<uint8_t>{42});  // untouched
  EXPECT_EQ(ReadBytes(Backup("EventLog_002.dat")), std::vector<uint8_t>{43});
}

TEST_F(EventLogTest, TwentyThousandAppendsLoseNothingAcrossRotations) {
  const int total = 20000;
  for (int i = 0; i < total; ++i) ASSERT_TRUE(log.Append(Numbered(i))) << i;

  std::vector<int> all;
  int archives = 0;
  for (int n = 0; fs::exists(Backup("EventLog_00" + std::to_string(n) + ".dat")); ++n, ++archives) {
    auto codes = Codes(ReadRecords(Backup("EventLog_00" + std::to_string(n) + ".dat")));
    EXPECT_EQ(codes.size(), 5001u);
    all.insert(all.end(), codes.begin(), codes.end());
  }
  auto live = Codes(ReadRecords(Live()));
  all.insert(all.end(), live.begin(), live.end());
  EXPECT_EQ(archives, 3);
  EXPECT_EQ(all, Range(0, total));
}

TEST_F(EventLogTest, KeepsAppendingWhileAllArchiveNamesAreTaken) {
  WriteLiveFile(Live(), 5001);
  fs::create_directories(folder / "Backup");
  for (int n = 0; n < 1000; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "EventLog_%03d.dat", n);
    WriteBytes(Backup(name), {});
  }
  ASSERT_TRUE(log.Append(Numbered(5001)));
  ASSERT_TRUE(log.Append(Numbered(5002)));
  EXPECT_EQ(Codes(ReadRecords(Live())), Range(0, 5003));

  // Once a name is free again the whole backlog goes into it.
  fs::remove(Backup("EventLog_500.dat"));
  ASSERT_TRUE(log.Append(Numbered(5003)));
  EXPECT_EQ(Codes(ReadRecords(Backup("EventLog_500.dat"))), Range(0, 5003));
  EXPECT_EQ(Codes(ReadRecords(Live())), Range(5003, 1));
}

TEST_F(EventLogTest, KeepsAppendingWhileBackupFolderCannotBeMade) {
  // A regular file where the backup folder's parent should be.
  WriteBytes(folder / "blocker", {1});
  TEventLog blocked((folder / "Record").string(), (folder / "blocker" / "Backup").string(),
                    "EventLog.dat", table, clock);
  WriteLiveFile(Live(), 5001);
  ASSERT_TRUE(blocked.Append(Numbered(5001)));
  ASSERT_TRUE(blocked.Append(Numbered(5002)));
  EXPECT_EQ(Codes(ReadRecords(Live())), Range(0, 5003));
}

TEST_F(EventLogTest, IncompleteArchiveCopyLeavesLiveFileAlone) {
  WriteLiveFile(Live(), 5001);
  {
    // The copy of 240,048 bytes cannot complete, nor can the append at the end of the live file.
    FileSizeLimit limit(100000);
    EXPECT_FALSE(log.Append(Numbered(5001)));
  }
  EXPECT_FALSE(fs::exists(Backup("EventLog_000.dat")));  // the broken copy is not left behind
  EXPECT_EQ(Codes(ReadRecords(Live())), Range(0, 5001));

  ASSERT_TRUE(log.Append(Numbered(5001)));
  EXPECT_EQ(Codes(ReadRecords(Backup("EventLog_000.dat"))), Range(0, 5001));
  EXPECT_EQ(Codes(ReadRecords(Live())), Range(5001, 1));
}

TEST_F(EventLogTest, ShortWriteReportsFalseAndKeepsEarlierRecords) {
  WriteLiveFile(Live(), 3);
  auto before = ReadBytes(Live());
  {
    FileSizeLimit limit(3 * kEventRecSize + 20);  // room for 20 bytes of the fourth record
    EXPECT_FALSE(log.Append(Numbered(3)));
  }
  EXPECT_EQ(log.Changed, 0);
  auto after = ReadBytes(Live());
  ASSERT_GE(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
  EXPECT_EQ(log.RecordCount(), 3);

  ASSERT_TRUE(log.Append(Numbered(3)));
  EXPECT_EQ(Codes(ReadRecords(Live())), Range(0, 4));
  EXPECT_EQ(fs::file_size(Live()), 4u * kEventRecSize);
}

TEST_F(EventLogTest, FailedWriteOnFullDeviceReportsFalse) {
  fs::create_directories(folder / "Record");
  fs::create_symlink("/dev/full", Live());
  EXPECT_FALSE(log.Append(Numbered(0)));
  EXPECT_EQ(log.Changed, 0);
}

TEST_F(EventLogTest, ClearArchivesIntoNextNumberAndEmptiesLiveFile) {
  log.Changed = 0;
  EXPECT_EQ(log.RecordCount(), 0);
  log.Clear();  // empty log: no archive
  EXPECT_TRUE(fs::is_empty(folder / "Backup"));

  WriteLiveFile(Live(), 3);
  WriteBytes(Backup("EventLog1.dat"), {9});
  log.Changed = 255;
  log.Clear();
  EXPECT_EQ(Codes(ReadRecords(Backup("EventLog2.dat"))), Range(0, 3));
  EXPECT_EQ(ReadBytes(Backup("EventLog1.dat")), std::vector<uint8_t>{9});
  EXPECT_EQ(fs::file_size(Live()), 0u);
  EXPECT_EQ(log.Changed, 255);  // the viewer empties its grid itself
}

}  // namespace
}  // namespace tessel
