#include "log/csv_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "log/temp_folder.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;

std::string ReadText(const fs::path& p) {
  auto b = ReadBytes(p);
  return std::string(b.begin(), b.end());
}

CsvTable TableOf(const std::vector<std::vector<std::string>>& rows, std::vector<bool> visible) {
  CsvTable t;
  t.RowCount = rows.size();
  t.ColumnVisible = std::move(visible);
  t.Cell = [rows](size_t r, size_t c) { return rows[r][c]; };
  return t;
}

TEST(CsvWriter, FileNameGetsExtensionUnlessItHoldsIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"report", "report.csv"},
      {"report.CSV", "report.CSV.csv"},
      {"my.csv.bak", "my.csv.bak"},
      {"/tmp/a.csv", "/tmp/a.csv"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(CsvFileName(in), out) << in;
}

TEST(CsvWriter, CellsWithSeparatorsAreQuotedOthersUnchanged) {
  const std::pair<const char*, const char*> cases[] = {
      {"Bypass abnormal,shutdown", "\"Bypass abnormal,shutdown\""},
      {"Recover from: Bus abnormal, shutdown", "\"Recover from: Bus abnormal, shutdown\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {"line\nfeed", "\"line\nfeed\""},
      {"Online", "Online"},
      {"", ""},
      {"220.0", "220.0"},
      {"恢复于: 风扇故障", "恢复于: 风扇故障"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(CsvCell(in), out) << in;
}

TEST(CsvWriter, WritesVisibleColumnsWithTrailingCommasCrLfAndGbk) {
  testing::TempFolder folder;
  auto path = folder / "events.csv";
  auto table = TableOf({{"Index", "Time", "Hidden", "Event"},
                        {"1", "2024-03-05 10:00:00", "x", "Bypass abnormal,shutdown"},
                        {"2", "", "y", "通讯建立"}},
                       {true, true, false, true});
  std::vector<std::pair<size_t, size_t>> progress;
  CsvResult r = WriteCsv(path.string(), table,
                         [&](size_t done, size_t total) { progress.emplace_back(done, total); });
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.RowsWritten, 3u);
  EXPECT_EQ(ReadText(path),
            "Index,Time,Event,\r\n"
            "1,2024-03-05 10:00:00,\"Bypass abnormal,shutdown\",\r\n"
            "2,,\xCD\xA8\xD1\xB6\xBD\xA8\xC1\xA2,\r\n");  // GBK, two bytes a character
  EXPECT_EQ(progress, (std::vector<std::pair<size_t, size_t>>{{0, 3}, {1, 3}, {2, 3}, {3, 3}}));
}

TEST(CsvWriter, HeaderOnlyGivesOneLineAndSecondExportReplacesFirst) {
  testing::TempFolder folder;
  auto path = (folder / "out.csv").string();
  ASSERT_TRUE(WriteCsv(path, TableOf({{"A", "B"}, {"1", "2"}, {"3", "4"}}, {true, true})).Ok());
  ASSERT_TRUE(WriteCsv(path, TableOf({{"Time", "Address"}}, {true, true})).Ok());
  EXPECT_EQ(ReadText(path), "Time,Address,\r\n");
}

TEST(CsvWriter, ReportsFailuresInsteadOfSuccess) {
  testing::TempFolder folder;
  auto table = TableOf({{"A"}, {"1"}}, {true});

  CsvResult missingFolder = WriteCsv((folder / "no" / "such.csv").string(), table);
  EXPECT_EQ(missingFolder.Status, CsvStatus::CannotCreate);
  EXPECT_EQ(missingFolder.RowsWritten, 0u);
  EXPECT_EQ(WriteCsv(folder.Path().string(), table).Status, CsvStatus::CannotCreate);

  size_t calls = 0;
  CsvResult full = WriteCsv("/dev/full", table, [&](size_t, size_t) { ++calls; });
  EXPECT_EQ(full.Status, CsvStatus::WriteFailed);
  EXPECT_EQ(full.RowsWritten, 0u);
  EXPECT_EQ(calls, 1u);  // only the initial (0, total)
}

}  // namespace
}  // namespace tessel
