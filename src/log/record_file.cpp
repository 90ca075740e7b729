#include "log/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <vector>

namespace tessel {

namespace fs = std::filesystem;

bool EnsureFolder(const fs::path& dir) {
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return true;
  fs::create_directories(dir, ec);
  return fs::is_directory(dir, ec);
}

bool EnsureFile(const fs::path& file) {
  std::error_code ec;
  if (fs::exists(file, ec)) return fs::is_regular_file(file, ec);
  // "ab" creates without touching an existing file should one appear meanwhile.
  std::FILE* f = std::fopen(file.string().c_str(), "ab");
  if (!f) return false;
  std::fclose(f);
  return fs::is_regular_file(file, ec);
}

std::int64_t FileSize(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return -1;
  auto size = fs::file_size(file, ec);
  if (ec) return -1;
  return static_cast<std::int64_t>(size);
}

std::int64_t WholeRecords(const fs::path& file, int recSize) {
  std::int64_t size = FileSize(file);
  return size < 0 ? 0 : size / recSize;
}

HeldRecordFile::~HeldRecordFile() {
  Close();
}

void HeldRecordFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
}

std::int64_t HeldRecordFile::HeldSize(const std::string& path) {
  if (fd_ < 0 || path != path_) return -1;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || static_cast<std::uint64_t>(st.st_dev) != dev_ ||
      static_cast<std::uint64_t>(st.st_ino) != ino_) {
    Close();
    return -1;
  }
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t HeldRecordFile::Open(const std::string& path) {
  Close();
  // Read and write, as the file was always opened for an append: a file that cannot be read, or a
  // folder, fails here as it did before; whatever else opens (a device the operator linked the
  // log to) is written as before.
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return -1;
  }
  fd_ = fd;
  path_ = path;
  dev_ = static_cast<std::uint64_t>(st.st_dev);
  ino_ = static_cast<std::uint64_t>(st.st_ino);
  return static_cast<std::int64_t>(st.st_size);
}

bool HeldRecordFile::WriteAt(std::int64_t index, const std::uint8_t* bytes, int size) {
  if (fd_ < 0) return false;
  off_t at = static_cast<off_t>(index) * size;
  int done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd_, bytes + done, static_cast<size_t>(size - done), at + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A part of the record may be in the file; it counts as no record and the next append
      // writes over it.
      Close();
      return false;
    }
    done += static_cast<int>(n);
  }
  return true;
}

bool ForEachRecordWhile(const fs::path& file, int recSize, std::int64_t maxRecords,
                        const std::function<bool(const std::uint8_t*)>& visit) {
  std::ifstream f(file, std::ios::binary);
  if (!f.is_open()) return false;
  constexpr std::int64_t kRecordsPerBlock = 2048;
  std::vector<char> block(static_cast<size_t>(kRecordsPerBlock * recSize));
  std::int64_t visited = 0;
  // Bytes of a record split across two reads wait at the front of the block.
  size_t carried = 0;
  while (maxRecords < 0 || visited < maxRecords) {
    f.read(block.data() + carried, static_cast<std::streamsize>(block.size() - carried));
    size_t have = carried + static_cast<size_t>(f.gcount());
    size_t whole = have / recSize;
    for (size_t i = 0; i < whole && (maxRecords < 0 || visited < maxRecords); ++i, ++visited)
      if (!visit(reinterpret_cast<const std::uint8_t*>(block.data() + i * recSize))) return false;
    carried = have - whole * recSize;
    if (carried) std::copy(block.data() + whole * recSize, block.data() + have, block.data());
    if (!f) break;
  }
  return true;
}

bool ForEachRecord(const fs::path& file, int recSize, std::int64_t maxRecords,
                   const std::function<void(const std::uint8_t*)>& visit) {
  return ForEachRecordWhile(file, recSize, maxRecords, [&visit](const std::uint8_t* bytes) {
    visit(bytes);
    return true;
  });
}

bool CopyToNewFile(const fs::path& from, const fs::path& to) {
  std::int64_t size = FileSize(from);
  if (size < 0) return false;
  std::FILE* in = std::fopen(from.string().c_str(), "rb");
  if (!in) return false;
  // "x": fail rather than overwrite an archive that appeared since the name was chosen.
  std::FILE* out = std::fopen(to.string().c_str(), "wbx");
  if (!out) {
    std::fclose(in);
    return false;
  }
  std::vector<char> buf(64 * 1024);
  bool ok = true;
  std::int64_t copied = 0;
  while (ok) {
    size_t n = std::fread(buf.data(), 1, buf.size(), in);
    if (n == 0) {
      ok = !std::ferror(in);
      break;
    }
    if (std::fwrite(buf.data(), 1, n, out) != n) ok = false;
    copied += static_cast<std::int64_t>(n);
  }
  if (std::fflush(out) != 0) ok = false;
  if (std::fclose(out) != 0) ok = false;
  std::fclose(in);
  ok = ok && copied == size && FileSize(to) == size;
  if (!ok) {
    std::error_code ec;
    fs::remove(to, ec);
  }
  return ok;
}

}  // namespace tessel
