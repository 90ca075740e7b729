#include "app/device_list_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "model/gbk.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

class DeviceListFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("tessel_devlist_" + std::to_string(rd()));
    fs::create_directories(dir_);
    path_ = (dir_ / kDeviceListFileName).string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::vector<uint8_t> Record(uint8_t node, uint8_t addr, const std::string& name) {
    std::vector<uint8_t> r{node, addr};
    for (int i = 0; i < kNameSize; ++i)
      r.push_back(i < static_cast<int>(name.size()) ? static_cast<uint8_t>(name[i]) : 0x0D);
    return r;
  }
  void WriteFile(const std::vector<uint8_t>& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  std::vector<uint8_t> ReadFile() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static std::array<uint8_t, kNameSize> Padded(const std::string& bytes) {
    std::array<uint8_t, kNameSize> field;
    field.fill(0x0D);
    for (size_t i = 0; i < bytes.size() && i < field.size(); ++i)
      field[i] = static_cast<uint8_t>(bytes[i]);
    return field;
  }
  static TEquipList ListOf(std::initializer_list<std::pair<uint8_t, std::string>> devices) {
    TEquipList list;
    uint8_t node = 0;
    for (const auto& [addr, name] : devices) {
      TEquipRec rec;
      rec.NodeIndex = node;
      node = static_cast<uint8_t>(node + 3);
      rec.Addr = addr;
      rec.Name = Padded(Utf8ToGbk(name));
      AppendDevice(list, rec);
    }
    return list;
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(DeviceListFileTest, MissingFileIsCreatedEmptyAndListReset) {
  TEquipList list = ListOf({{4, "old"}});
  list.Cursor = 1;
  list.CurAddr = 4;
  ASSERT_TRUE(LoadDeviceList(path_, list));
  EXPECT_TRUE(fs::exists(path_));
  EXPECT_EQ(fs::file_size(path_), 0u);
  EXPECT_EQ(list.Count, 0);
  EXPECT_EQ(list.Cursor, 0);
  EXPECT_EQ(list.CurAddr, 0);
}

TEST_F(DeviceListFileTest, CountFollowsWholeRecords) {
  struct Case {
    const char* what;
    int wholeRecords;
    int extraBytes;
    int expected;
  } cases[] = {
      {"empty file", 0, 0, 0},
      {"one record and one stray byte", 1, 1, 1},
      {"a partial record only", 0, 41, 0},
      {"three records and a partial one", 3, 20, 3},
      {"252 records", 252, 0, 252},
      {"253 records", 253, 0, 252},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < c.wholeRecords; ++i) {
      const auto r = Record(static_cast<uint8_t>(i), static_cast<uint8_t>(i % 252 + 1), "U");
      bytes.insert(bytes.end(), r.begin(), r.end());
    }
    const auto partial = Record(9, 200, "partial");
    bytes.insert(bytes.end(), partial.begin(), partial.begin() + c.extraBytes);
    WriteFile(bytes);
    TEquipList list;
    const DeviceListLoad load = LoadDeviceList(path_, list);
    ASSERT_TRUE(load) << c.what;
    EXPECT_EQ(list.Count, c.expected) << c.what;
    // A save would write fewer bytes than the file holds exactly when something was left behind.
    const bool shorter = c.extraBytes != 0 || c.wholeRecords > kMaxDevices;
    EXPECT_EQ(load.Lossy(), shorter) << c.what;
    for (int k = 1; k <= list.Count; ++k) EXPECT_EQ(list.Items[k].Addr, k) << c.what;
  }
}

TEST_F(DeviceListFileTest, RecordFieldsAreReadByOffset) {
  std::vector<uint8_t> bytes = Record(0x57, 12, "UPS-A");
  // A full 40-byte name without terminator, then a name ended early by NUL.
  const auto full = Record(0x02, 200, std::string(40, 'N'));
  bytes.insert(bytes.end(), full.begin(), full.end());
  WriteFile(bytes);

  TEquipList list;
  ASSERT_TRUE(LoadDeviceList(path_, list));
  ASSERT_EQ(list.Count, 2);
  EXPECT_EQ(list.Items[1].NodeIndex, 0x57);
  EXPECT_EQ(list.Items[1].Addr, 12);
  EXPECT_EQ(list.Items[1].Name[0], 'U');
  EXPECT_EQ(list.Items[1].Name[4], 'A');
  EXPECT_EQ(list.Items[1].Name[5], 0x0D);
  EXPECT_EQ(list.Items[1].Name[39], 0x0D);
  EXPECT_EQ(list.Items[1].Name, Padded("UPS-A"));
  EXPECT_EQ(list.Items[2].Addr, 200);
  EXPECT_EQ(list.Items[2].Name, Padded(std::string(40, 'N')));
}

TEST_F(DeviceListFileTest, UnpollableAndRepeatedAddressesAreSkipped) {
  std::vector<uint8_t> bytes;
  for (const auto& r : {Record(0, 5, "five"), Record(3, 0, "zero"), Record(6, 253, "high"),
                        Record(9, 255, "max"), Record(12, 5, "again"), Record(15, 7, "seven")})
    bytes.insert(bytes.end(), r.begin(), r.end());
  WriteFile(bytes);

  TEquipList list;
  const DeviceListLoad load = LoadDeviceList(path_, list);
  ASSERT_TRUE(load);
  EXPECT_TRUE(load.Lossy());
  // Each left-out record is named by its place in the file, its address and its name.
  ASSERT_EQ(load.Skips.size(), 4u);
  EXPECT_EQ(load.Skips[0].Record, 2);
  EXPECT_EQ(load.Skips[0].Addr, 0);
  EXPECT_EQ(load.Skips[0].Name, "zero");
  EXPECT_EQ(load.Skips[3].Record, 5);
  EXPECT_EQ(load.Skips[3].Addr, 5);
  EXPECT_EQ(load.Skips[3].Name, "again");
  ASSERT_EQ(list.Count, 2);
  EXPECT_EQ(list.Items[1].Addr, 5);
  EXPECT_EQ(list.Items[1].Name, Padded("five"));  // the first of the twins stays
  EXPECT_EQ(list.Items[2].Addr, 7);
}

TEST_F(DeviceListFileTest, SaveWritesRecordsByteExactAndLoadsBack) {
  const TEquipList list = ListOf({{1, "主机房UPS"}, {42, "Line B"}});
  ASSERT_TRUE(SaveDeviceList(path_, list));

  const auto bytes = ReadFile();
  ASSERT_EQ(bytes.size(), 2u * kEquipRecSize);
  // "主机房" in GBK, then "UPS", then CR padding.
  const std::vector<uint8_t> name1 = {0xD6, 0xF7, 0xBB, 0xFA, 0xB7, 0xBF, 'U', 'P', 'S'};
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 1);
  EXPECT_TRUE(std::equal(name1.begin(), name1.end(), bytes.begin() + 2));
  for (int i = 2 + 9; i < kEquipRecSize; ++i) EXPECT_EQ(bytes[i], 0x0D) << i;
  EXPECT_EQ(bytes[42], 3);
  EXPECT_EQ(bytes[43], 42);
  EXPECT_EQ(bytes[44], 'L');

  TEquipList back;
  ASSERT_TRUE(LoadDeviceList(path_, back));
  ASSERT_EQ(back.Count, 2);
  EXPECT_EQ(back.Items[1].Name, list.Items[1].Name);
  EXPECT_EQ(back.Items[2].Addr, 42);
  EXPECT_EQ(back.Items[2].NodeIndex, 3);
}

TEST_F(DeviceListFileTest, SavingAnEmptyListLeavesAnEmptyFile) {
  ASSERT_TRUE(SaveDeviceList(path_, ListOf({{1, "a"}, {2, "b"}})));
  ASSERT_TRUE(SaveDeviceList(path_, TEquipList{}));
  EXPECT_EQ(fs::file_size(path_), 0u);
  EXPECT_FALSE(fs::exists(path_ + ".tmp"));
}

TEST_F(DeviceListFileTest, FailedSaveKeepsThePreviousFile) {
  ASSERT_TRUE(SaveDeviceList(path_, ListOf({{9, "kept"}})));
  const auto before = ReadFile();

  // The temporary file cannot be created: a folder holds its name.
  fs::create_directory(path_ + ".tmp");
  EXPECT_FALSE(SaveDeviceList(path_, ListOf({{1, "new"}, {2, "new"}})));
  EXPECT_EQ(ReadFile(), before);
  fs::remove(path_ + ".tmp");

  // The folder of the file is gone.
  EXPECT_FALSE(
      SaveDeviceList((dir_ / "missing" / kDeviceListFileName).string(), ListOf({{1, "x"}})));

  // The target itself is a folder: the replacement fails and no temporary file is left behind.
  const std::string folderTarget = (dir_ / "asfolder").string();
  fs::create_directory(folderTarget);
  fs::create_directory(folderTarget + "/inside");
  EXPECT_FALSE(SaveDeviceList(folderTarget, ListOf({{1, "x"}})));
  EXPECT_TRUE(fs::is_directory(folderTarget));
  EXPECT_FALSE(fs::exists(folderTarget + ".tmp"));
}

TEST_F(DeviceListFileTest, UnreadablePathGivesEmptyList) {
  fs::create_directory(path_);  // a folder where the file should be
  TEquipList list = ListOf({{3, "x"}});
  EXPECT_FALSE(LoadDeviceList(path_, list));
  EXPECT_EQ(list.Count, 0);
}

}  // namespace
}  // namespace tessel
