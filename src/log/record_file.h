// File primitives shared by the log stores and their queries: fixed-size records at a record
// index, block-wise reading, and archive copies that are checked before anyone relies on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace tessel {

// Makes the folder (with its parents) when it is missing. True when it exists afterwards.
bool EnsureFolder(const std::filesystem::path& dir);
// Creates an empty file when there is none. True when a regular file exists afterwards.
bool EnsureFile(const std::filesystem::path& file);
// Size of the file in bytes; -1 when it cannot be read as a regular file.
std::int64_t FileSize(const std::filesystem::path& file);
// Whole records in the file (a trailing partial record does not count); 0 when unreadable.
std::int64_t WholeRecords(const std::filesystem::path& file, int recSize);

// A record file kept open between appends, so that an append costs one stat of the path and one
// write rather than a stat of the folder, an open, a seek, a write and a close. The stat checks
// that the path still leads to the file held open: between two appends the operator, the month
// delete or a restore may have deleted, renamed or replaced the file or its folder. The caller
// then opens the path again, making what is missing as for a first append, so that a record
// always lands in the file the path names. Writes go straight to the file (no buffer of ours), so
// anyone reading the path sees a record as soon as it was written.
class HeldRecordFile {
 public:
  HeldRecordFile() = default;
  ~HeldRecordFile();
  HeldRecordFile(const HeldRecordFile&) = delete;
  HeldRecordFile& operator=(const HeldRecordFile&) = delete;

  // Bytes in the file at path when that is the file held open. -1 when nothing is held, another
  // path is held, or the path no longer leads to the held file (which is then let go).
  std::int64_t HeldSize(const std::string& path);
  // Lets go of the held file and opens path, an existing file, for writing. Its size in bytes, or
  // -1 (nothing held) when it cannot be opened.
  std::int64_t Open(const std::string& path);
  // Writes one record at byte index * size of the held file, leaving every other byte alone.
  // False when nothing is held or the write fails (e.g. disk full); the file is then let go, so
  // that the next append checks the folder and the file again.
  bool WriteAt(std::int64_t index, const std::uint8_t* bytes, int size);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string path_;
  std::uint64_t dev_ = 0, ino_ = 0;
};

// Calls visit for each whole record of the file in file order, reading it in blocks so that a
// file of any size can be walked. A trailing partial record is ignored. At most maxRecords records
// are visited (negative: no limit). False when the file cannot be opened.
bool ForEachRecord(const std::filesystem::path& file, int recSize, std::int64_t maxRecords,
                   const std::function<void(const std::uint8_t*)>& visit);
// The same walk, stopped as soon as visit returns false (a query that was replaced by a newer
// one). False when the file cannot be opened or the walk was stopped.
bool ForEachRecordWhile(const std::filesystem::path& file, int recSize, std::int64_t maxRecords,
                        const std::function<bool(const std::uint8_t*)>& visit);

// Copies from to a file that must not exist yet (it is never overwritten). The copy counts only
// when it was written completely and has the size of the source; a failed copy is removed.
bool CopyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace tessel
