#include "log/data_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "log/temp_folder.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

std::vector<TDataRec> ReadRecords(const fs::path& p) {
  return testing::ReadRecordFile(p, kDataRecSize, DecodeDataRec);
}

double F64At(const uint8_t* p) {
  double d;
  std::memcpy(&d, p, 8);  // little-endian host
  return d;
}

TDataRec Sample(double time, uint8_t addr) {
  TDataRec r;
  r.Time = time;
  r.Address = addr;
  r.Block[0] = addr;  // tells records apart
  return r;
}

// Each reading is one second later than the one before, so every record shows its own reading.
class SteppingClock : public Clock {
 public:
  explicit SteppingClock(double t) : t_(t) {}
  double Now() const override {
    double t = t_;
    t_ += 1.0 / 86400;
    return t;
  }

 private:
  mutable double t_;
};

TEST(DataRecLayout, TimeAddressAndMeasurementBlockAtTheirOffsets) {
  TUpsInfo u;
  u.InputV_A = 220.5;
  u.OutputV_C = 230.25;
  u.LoadPer_B = 47;
  u.DCInputV = 384.5;
  u.BattCapa = 0x01020304;
  u.BattLivingTime = 0xA1B2;
  u.BattCurr2 = -3.5;
  TDataRec r;
  r.Time = 45356.5;
  r.Address = 201;
  r.Block = MeasureBlock(u);
  auto b = EncodeDataRec(r);

  EXPECT_EQ(F64At(&b[0]), 45356.5);
  EXPECT_EQ(b[8], 201);
  for (int i = 9; i < 16; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(F64At(&b[16]), 220.5);
  EXPECT_EQ(F64At(&b[56]), 230.25);
  EXPECT_EQ(F64At(&b[72]), 47);
  EXPECT_EQ(F64At(&b[96]), 384.5);
  EXPECT_EQ((std::vector<uint8_t>(&b[104], &b[110])),
            (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01, 0xB2, 0xA1}));
  EXPECT_EQ(F64At(&b[120]), -3.5);

  TDataRec back = DecodeDataRec(b.data());
  EXPECT_EQ(back.Time, r.Time);
  EXPECT_EQ(back.Address, r.Address);
  EXPECT_EQ(back.Block, r.Block);
}

TEST(DataLog, MonthFileFollowsEachRecordsOwnTimeStamp) {
  TempFolder folder;
  TDataLog log((folder / "Record").string() + "/");
  const double lastOfMarch = EncodeDateTime(2024, 3, 31, 23, 59, 59);
  const double firstOfApril = EncodeDateTime(2024, 4, 1, 0, 0, 1);
  EXPECT_EQ(DataLogFileName(lastOfMarch), "DataLog2024_03.dat");
  EXPECT_EQ(DataLogFileName(EncodeDateTime(2008, 12, 1)), "DataLog2008_12.dat");

  ASSERT_TRUE(log.Append(Sample(lastOfMarch, 1)));  // also recreates the missing folder
  EXPECT_FALSE(fs::exists(folder / "Record" / "DataLog2024_04.dat"));
  ASSERT_TRUE(log.Append(Sample(firstOfApril, 2)));
  ASSERT_TRUE(log.Append(Sample(lastOfMarch, 3)));

  auto march = ReadRecords(folder / "Record" / "DataLog2024_03.dat");
  auto april = ReadRecords(folder / "Record" / "DataLog2024_04.dat");
  ASSERT_EQ(march.size(), 2u);
  ASSERT_EQ(april.size(), 1u);
  EXPECT_EQ(march[0].Address, 1);
  EXPECT_EQ(march[1].Address, 3);
  EXPECT_EQ(april[0].Address, 2);
  EXPECT_EQ(april[0].Time, firstOfApril);
}

TEST(DataLog, CountAndAppendIgnoreTrailingPartialRecord) {
  TempFolder folder;
  TDataLog log(folder.Path().string());
  const double t = EncodeDateTime(2024, 5, 6, 7, 8, 9);
  auto path = folder / DataLogFileName(t);
  EXPECT_EQ(log.RecordCount(path.string()), 0);  // creates the file
  EXPECT_TRUE(fs::exists(path));

  ASSERT_TRUE(log.Append(Sample(t, 1)));
  ASSERT_TRUE(log.Append(Sample(t, 2)));
  auto before = ReadBytes(path);
  auto damaged = before;
  damaged.insert(damaged.end(), 50, 0xEE);
  WriteBytes(path, damaged);
  EXPECT_EQ(log.RecordCount(path.string()), 2);

  ASSERT_TRUE(log.Append(Sample(t, 3)));
  auto after = ReadBytes(path);
  ASSERT_EQ(after.size(), 3u * kDataRecSize);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
  EXPECT_EQ(ReadRecords(path)[2].Address, 3);
}

TEST(DataLog, AppendReportsFailure) {
  TempFolder folder;
  WriteBytes(folder / "blocker", {1});
  TDataLog blocked((folder / "blocker" / "Record").string());
  EXPECT_FALSE(blocked.Append(Sample(EncodeDateTime(2024, 1, 1), 1)));

  TDataLog full(folder.Path().string());
  const double t = EncodeDateTime(2024, 2, 1);
  fs::create_symlink("/dev/full", folder / DataLogFileName(t));
  EXPECT_FALSE(full.Append(Sample(t, 1)));
}

TEST(DataLog, SampleTakesCommunicatingDevicesInListOrderEachWithItsOwnTime) {
  TempFolder folder;
  DeviceModel model;
  InitUpsTable(model.UpsTable);
  for (uint8_t addr : {30, 4, 17}) {
    TEquipRec e;
    e.Addr = addr;
    AppendDevice(model.EquipList, e);
  }
  model.UpsTable[30].CommState = 0;
  model.UpsTable[30].InputV_A = 221.5;
  model.UpsTable[4].CommState = 2;  // lost: no sample
  model.UpsTable[17].CommState = 0;
  model.UpsTable[17].BattLivingTime = 75;
  model.UpsTable[9].CommState = 0;  // communicating but not in the list

  const double start = EncodeDateTime(2024, 6, 1, 12, 0, 0);
  SteppingClock clock(start);
  TDataLog log((folder / "Record").string());
  SampleDataLog(model, log, clock);

  auto recs = ReadRecords(folder / "Record" / "DataLog2024_06.dat");
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].Address, 30);
  EXPECT_EQ(recs[0].Block, MeasureBlock(model.UpsTable[30]));
  EXPECT_EQ(recs[1].Address, 17);
  EXPECT_EQ(recs[1].Block, MeasureBlock(model.UpsTable[17]));
  EXPECT_DOUBLE_EQ(recs[0].Time, start);
  EXPECT_DOUBLE_EQ(recs[1].Time, start + 1.0 / 86400);
}

}  // namespace
}  // namespace tessel
