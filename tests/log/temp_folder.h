// A fresh program folder for one test, removed afterwards, with helpers to read and write raw
// files.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessel::testing {

class TempFolder {
 public:
  TempFolder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tessel-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The whole records of a record file, decoded; a trailing partial record is left out.
template <class Rec>
std::vector<Rec> ReadRecordFile(const std::filesystem::path& p, size_t recSize,
                                Rec (*decode)(const uint8_t*)) {
  const std::vector<uint8_t> bytes = ReadBytes(p);
  std::vector<Rec> out;
  for (size_t i = 0; i + recSize <= bytes.size(); i += recSize) out.push_back(decode(&bytes[i]));
  return out;
}

inline void WriteBytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void AppendBytes(const std::filesystem::path& p, const uint8_t* bytes, size_t n) {
  std::ofstream f(p, std::ios::binary | std::ios::app);
  f.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(n));
}

}  // namespace tessel::testing
