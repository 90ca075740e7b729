#include "log/csv_writer.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
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
                         [&](size_t done, size_t total) {
                           progress.emplace_back(done, total);
                           return true;
                         });
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

  CsvResult full = WriteCsv("/dev/full", table);
  EXPECT_EQ(full.Status, CsvStatus::WriteFailed);
  EXPECT_EQ(full.RowsWritten, 0u);
  EXPECT_FALSE(full.Error.empty());
}

// Many rows: the file is written in blocks, and whatever stops it leaves whole lines only.
class CsvWriterBlocks : public ::testing::Test {
 protected:
  static constexpr size_t kRows = 20000;  // about 600 KB
  CsvTable Big() const {
    CsvTable t;
    t.RowCount = kRows;
    t.ColumnVisible = {true, true};
    t.Cell = [](size_t r, size_t c) {
      return c == 0 ? std::to_string(r) : std::string("2024-03-05 10:00:00 市电供电");
    };
    return t;
  }
  // The file holds exactly the first `rows` lines of the table.
  void ExpectWholeLines(const std::string& text, size_t rows) {
    size_t lines = 0, pos = 0;
    while ((pos = text.find("\r\n", pos)) != std::string::npos) {
      ++lines;
      pos += 2;
    }
    EXPECT_EQ(lines, rows);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.rfind("\r\n" + std::to_string(rows - 1) + ","), text.rfind("\r\n", text.size() - 3));
  }
  testing::TempFolder folder;
  std::string path = (folder / "big.csv").string();
};

TEST_F(CsvWriterBlocks, CancelKeepsTheLinesBefore) {
  CsvResult r = WriteCsv(path, Big(), [](size_t done, size_t) { return done < 12345; });
  EXPECT_EQ(r.Status, CsvStatus::Cancelled);
  EXPECT_EQ(r.RowsWritten, 12345u);
  ExpectWholeLines(ReadText(path), 12345);
}

TEST_F(CsvWriterBlocks, FileSizeLimitLeavesNoHalfLine) {
  // The process may not grow a file beyond 100,000 bytes: the second block fails part-way.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 100000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  CsvResult r = WriteCsv(path, Big());
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(r.Status, CsvStatus::WriteFailed);
  EXPECT_FALSE(r.Error.empty());
  const std::string text = ReadText(path);
  EXPECT_LE(text.size(), 100000u);
  EXPECT_GT(r.RowsWritten, 0u);
  ExpectWholeLines(text, r.RowsWritten);
}

}  // namespace
}  // namespace tessel
