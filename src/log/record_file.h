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

// Writes one record at byte index * size of an existing file, leaving every other byte alone.
// False when the file cannot be opened or the write, flush or close fails (e.g. disk full).
bool WriteRecordAt(const std::filesystem::path& file, std::int64_t index, const std::uint8_t* bytes,
                   int size);

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
