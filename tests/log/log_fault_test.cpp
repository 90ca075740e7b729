// Both log stores while the monitor runs and the disk or the folders fail under them: every
// failure is reported, nothing crashes, and no record already written is lost.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/device_list_file.h"
#include "fault_support.h"
#include "log/data_log.h"
#include "log/data_log_query.h"
#include "log/event_log.h"
#include "log/event_log_query.h"
#include "model/clock.h"
#include "model/ups_info.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using fault::TempDir;

const double kMarch = EncodeDateTime(2024, 3, 5, 10, 0, 0);

class LogFault : public ::testing::Test {
 public:  // the file changes of the cases below reach the paths
  LogFault() {
    InitUpsTable(table);
    clock.Set(kMarch);
  }

  std::string Record() const { return dir / "Record"; }
  std::string Backup() const { return dir / "Backup"; }
  std::string EventFile() const { return Record() + "/EventLog.dat"; }
  std::string MonthFile() const { return Record() + "/" + DataLogFileName(kMarch); }

  // Event i carries code i, sample i address i % 252 + 1 and i as its first measurement.
  static TEventRec Event(int i) {
    TEventRec r;
    r.Time = kMarch;
    r.Kind = 1;
    r.Code = i;
    return r;
  }
  static TDataRec Sample(int i) {
    TDataRec r;
    r.Time = kMarch + i / 86400.0 / 10;
    r.Address = static_cast<uint8_t>(i % 252 + 1);
    r.Block[0] = static_cast<uint8_t>(i);
    r.Block[1] = static_cast<uint8_t>(i >> 8);
    return r;
  }

  // One tick of a running monitor: an event and a sample. Both results, as a two-bit mask.
  int Tick(int i) {
    return (events.Append(Event(i)) ? 1 : 0) | (samples.Append(Sample(i)) ? 2 : 0);
  }

  // The records in the files must be exactly 0 .. n-1 in order.
  void ExpectRecords(int nEvents, int nSamples) {
    std::string ev = fault::ReadAll(EventFile());
    ASSERT_GE(ev.size(), static_cast<size_t>(nEvents) * kEventRecSize);
    EXPECT_LT(ev.size(), static_cast<size_t>(nEvents + 1) * kEventRecSize);
    for (int i = 0; i < nEvents; ++i)
      ASSERT_EQ(
          DecodeEventRec(reinterpret_cast<const uint8_t*>(ev.data()) + i * kEventRecSize).Code, i);
    std::string da = fault::ReadAll(MonthFile());
    ASSERT_GE(da.size(), static_cast<size_t>(nSamples) * kDataRecSize);
    EXPECT_LT(da.size(), static_cast<size_t>(nSamples + 1) * kDataRecSize);
    for (int i = 0; i < nSamples; ++i) {
      TDataRec r = DecodeDataRec(reinterpret_cast<const uint8_t*>(da.data()) + i * kDataRecSize);
      ASSERT_EQ(r.Address, Sample(i).Address) << "sample " << i;
      ASSERT_EQ(r.Block, Sample(i).Block) << "sample " << i;
    }
  }

  TempDir dir;
  TUpsTable table{};
  ManualClock clock;
  TEventLog events{Record(), Backup(), "EventLog.dat", table, clock};
  TDataLog samples{Record()};
};

TEST_F(LogFault, DiskFillsWhileRunning) {
  for (int i = 0; i < 20; ++i) ASSERT_EQ(Tick(i), 3);

  // The month file (the larger) can take 5 more samples and part of a sixth; the event file has
  // room for many more events. Each append past the limit must fail alone, without a crash.
  const rlim_t limit = 25 * kDataRecSize + 40;
  const int rc = fault::RunWithFileSizeLimit(limit, [&] {
    int sampled = 0;
    for (int i = 20; i < 30; ++i) {
      events.Changed = 0;
      const int r = Tick(i);
      if (!(r & 1) || events.Changed != 255) return 100;  // events still fit
      if (r & 2) ++sampled;
    }
    return sampled;
  });
  ASSERT_EQ(rc, 5) << "samples appended under the limit (>= 100: an event append failed, "
                      "124: exception, 2xx: signal)";
  // The child's work is on disk: 30 events, 25 whole samples and maybe part of one more.
  ExpectRecords(30, 25);

  // Room again: the partial sample is overwritten and nothing before it is touched.
  for (int i = 25; i < 30; ++i) ASSERT_TRUE(samples.Append(Sample(i)));
  ExpectRecords(30, 30);
}

TEST_F(LogFault, FullDiskLeavesEventLogIntactAtEveryLimit) {
  for (int i = 0; i < 7; ++i) ASSERT_TRUE(events.Append(Event(i)));
  // A limit on a record boundary and limits inside a record.
  for (rlim_t extra : {0, 1, 47}) {
    const std::string before = fault::ReadAll(EventFile());
    const int rc = fault::RunWithFileSizeLimit(7 * kEventRecSize + extra, [&] {
      events.Changed = 0;
      return events.Append(Event(7)) ? 1 : (events.Changed == 0 ? 0 : 2);
    });
    EXPECT_EQ(rc, 0) << "extra " << extra;
    EXPECT_EQ(fault::ReadAll(EventFile()).substr(0, before.size()), before);
    EXPECT_EQ(events.RecordCount(), 7);
  }
}

TEST_F(LogFault, RecordFolderRemovedWhileRunningIsMadeAgain) {
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Tick(i), 3);
  fs::remove_all(Record());
  EXPECT_EQ(Tick(0), 3);
  EXPECT_EQ(Tick(1), 3);
  ExpectRecords(2, 2);
}

TEST_F(LogFault, RecordFolderReplacedByAFileReportsAndRecovers) {
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Tick(i), 3);
  const std::string keep = dir / "kept";
  fs::rename(Record(), keep);
  fault::WriteAll(Record(), "someone else's file");

  TEquipList devices;
  TEquipRec unit;
  unit.Addr = 7;
  AppendDevice(devices, unit);
  const std::string deviceFile = Record() + "/" + kDeviceListFileName;

  events.Changed = 0;
  EXPECT_EQ(Tick(3), 0);
  EXPECT_FALSE(SaveDeviceList(deviceFile, devices));
  EXPECT_EQ(events.RecordCount(), 0);
  EXPECT_EQ(events.Changed, 0);
  EXPECT_EQ(fault::ReadAll(Record()), "someone else's file");

  // The folder comes back with its files; the monitor carries on where they end.
  fs::remove(Record());
  fs::rename(keep, Record());
  EXPECT_EQ(Tick(3), 3);
  ExpectRecords(4, 4);
  ASSERT_TRUE(SaveDeviceList(deviceFile, devices));
  TEquipList loaded;
  ASSERT_TRUE(LoadDeviceList(deviceFile, loaded));
  EXPECT_EQ(loaded.Count, 1);
}

TEST_F(LogFault, LiveFilesReplacedByFoldersReportFailure) {
  for (int i = 0; i < 2; ++i) ASSERT_EQ(Tick(i), 3);
  fs::remove(EventFile());
  fs::remove(MonthFile());
  fs::create_directory(EventFile());
  fs::create_directory(MonthFile());
  EXPECT_EQ(Tick(2), 0);
  EXPECT_TRUE(fs::is_directory(EventFile()));

  // Another month is not affected.
  TDataRec april = Sample(0);
  april.Time = EncodeDateTime(2024, 4, 1);
  EXPECT_TRUE(samples.Append(april));
}

TEST_F(LogFault, BackupFolderReplacedByAFileAtRotationKeepsEveryRecord) {
  for (int i = 0; i <= kEventLogMaxRecords; ++i) ASSERT_TRUE(events.Append(Event(i)));
  fault::WriteAll(Backup(), "blocker");
  // No archive can be made, so the live file keeps growing rather than being emptied.
  ASSERT_TRUE(events.Append(Event(kEventLogMaxRecords + 1)));
  EXPECT_EQ(events.RecordCount(), kEventLogMaxRecords + 2);

  fs::remove(Backup());
  ASSERT_TRUE(events.Append(Event(kEventLogMaxRecords + 2)));
  std::string archive = fault::ReadAll(Backup() + "/EventLog_000.dat");
  ASSERT_EQ(archive.size(), static_cast<size_t>(kEventLogMaxRecords + 2) * kEventRecSize);
  EXPECT_EQ(DecodeEventRec(reinterpret_cast<const uint8_t*>(archive.data()) +
                           (kEventLogMaxRecords + 1) * kEventRecSize)
                .Code,
            kEventLogMaxRecords + 1);
  EXPECT_EQ(events.RecordCount(), 1);
}

TEST_F(LogFault, QueriesSeeEachRecordAsSoonAsItIsAppended) {
  const EventLogFilter all = MakeEventLogFilter(EventViewMode::All, 0, 0, 0, false, 0);
  const TRecFilter march = MakeDataLogFilter(Record(), false, 2024, 3, 0, false, 0);
  for (int i = 1; i <= 3; ++i) {
    events.LogProgramEvent(0);
    ASSERT_TRUE(samples.Append(Sample(i)));
    EXPECT_EQ(QueryEventLog(EventFile(), all, 1).size(), static_cast<size_t>(i));
    int seen = 0;
    ASSERT_TRUE(ForEachDataLogMatch(march, [&](const TDataRec&) { ++seen; }));
    EXPECT_EQ(seen, i);
  }
}

int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST_F(LogFault, EachStoreHoldsOneFileAtMostAndLetsGoWhenIdleOrFailing) {
  const int before = OpenDescriptors();
  TDataRec april = Sample(0);
  april.Time = EncodeDateTime(2024, 4, 1);
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(Tick(i), 3);
    ASSERT_TRUE(samples.Append(april));  // the month file changes twice a tick
    if (i % 5 == 2) fs::remove_all(Record());
  }
  EXPECT_EQ(OpenDescriptors(), before + 2);

  // A sampling tick without a communicating unit lets go of the month file, so that deleting it
  // frees its space while sampling is idle.
  DeviceModel idle;
  InitUpsTable(idle.UpsTable);
  SampleDataLog(idle, samples, clock);
  EXPECT_EQ(OpenDescriptors(), before + 1);

  // A failed append holds nothing either.
  fs::remove(EventFile());
  fs::create_directory(EventFile());
  EXPECT_FALSE(events.Append(Event(0)));
  EXPECT_EQ(OpenDescriptors(), before);
}

// The stores keep their files open between appends. Whatever the operator, a restore or the
// month delete does to the files or the folder meanwhile, the next record must land in the file
// the path names now, behind the whole records found there, and never in the file held before.
struct FileChange {
  const char* name;
  std::function<void(LogFault&)> change;
  int kept;  // records (of 0, 1, 2) at the path when the next append comes
};

void PrintTo(const FileChange& c, std::ostream* os) {
  *os << c.name;
}

constexpr const char* kMoved = "moved";

class LogFileChanged : public LogFault, public ::testing::WithParamInterface<FileChange> {};

TEST_P(LogFileChanged, NextAppendLandsInTheFileAtThePath) {
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Tick(i), 3);
  GetParam().change(*this);
  const int kept = GetParam().kept;
  ASSERT_EQ(Tick(kept), 3);
  ExpectRecords(kept + 1, kept + 1);
  ASSERT_EQ(Tick(kept + 1), 3);
  ExpectRecords(kept + 2, kept + 2);
  // A folder moved away keeps what it had: nothing was written through the file held before.
  const fs::path moved = dir / kMoved;
  if (fs::exists(moved)) {
    EXPECT_EQ(fs::file_size(moved / "EventLog.dat"), 3u * kEventRecSize);
    EXPECT_EQ(fs::file_size(moved / DataLogFileName(kMarch)), 3u * kDataRecSize);
  }
}

// Puts a new file with the first n records of the old one over the path (a new inode).
void Restore(const std::string& path, int n, int recSize) {
  const std::string part = fault::ReadAll(path).substr(0, static_cast<size_t>(n) * recSize);
  fault::WriteAll(path + ".new", part);
  fs::rename(path + ".new", path);
}

INSTANTIATE_TEST_SUITE_P(
    LogFault, LogFileChanged,
    ::testing::Values(FileChange{"FilesDeleted",
                                 [](LogFault& t) {
                                   fs::remove(t.EventFile());
                                   fs::remove(t.MonthFile());
                                 },
                                 0},
                      FileChange{"FolderDeleted", [](LogFault& t) { fs::remove_all(t.Record()); },
                                 0},
                      FileChange{"FolderMovedAndAnEmptyOneMade",
                                 [](LogFault& t) {
                                   fs::rename(t.Record(), t.dir / kMoved);
                                   fs::create_directory(t.Record());
                                 },
                                 0},
                      FileChange{"FilesReplacedByShorterCopies",
                                 [](LogFault& t) {
                                   Restore(t.EventFile(), 1, kEventRecSize);
                                   Restore(t.MonthFile(), 1, kDataRecSize);
                                 },
                                 1},
                      FileChange{"FilesCutInPlace",
                                 [](LogFault& t) {
                                   fs::resize_file(t.EventFile(), 2 * kEventRecSize + 5);
                                   fs::resize_file(t.MonthFile(), 2 * kDataRecSize + 5);
                                 },
                                 2}),
    [](const ::testing::TestParamInfo<FileChange>& info) { return info.param.name; });

}  // namespace
}  // namespace tessel
