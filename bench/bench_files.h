// Files the log benchmarks work on: a scratch folder per run, and large month files generated
// once into the build folder and reused by later runs.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "log/data_log.h"
#include "log/event_log.h"
#include "model/clock.h"
#include "model/ups_info.h"

namespace tessel::bench {

namespace fs = std::filesystem;

// build/bench-data beside build/bin, or TESSEL_BENCH_DATA.
inline fs::path DataDir() {
  if (const char* env = std::getenv("TESSEL_BENCH_DATA"); env && *env) return env;
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::temp_directory_path() / "tessel-bench-data"
            : exe.parent_path().parent_path() / "bench-data";
}

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (fs::temp_directory_path() / "tessel-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// 2024-03-01 00:00 onward: sample i of a run with `units` devices sampled every minute.
inline TDataRec MinuteSample(int64_t i, int units) {
  TDataRec r;
  r.Time = EncodeDateTime(2024, 3, 1) + static_cast<double>(i / units) / 1440.0;
  r.Address = static_cast<uint8_t>(i % units + 1);
  TUpsInfo u{};
  u.InputV_A = u.InputV_B = u.InputV_C = 220.0 + static_cast<double>(i % 17) / 10;
  u.OutputV_A = u.OutputV_B = u.OutputV_C = 230.0;
  u.LoadPer_A = u.LoadPer_B = u.LoadPer_C = static_cast<double>(i % 100);
  u.OutputFreq = 50.0;
  u.DCInputV = 400.0;
  u.BattCapa = 90;
  u.BattLivingTime = 120;
  r.Block = MeasureBlock(u);
  return r;
}

// A month file of `records` samples of `units` devices, written once with large writes. Returns
// an empty path (with a reason) when the disk lacks room for it and a safety margin.
inline fs::path MonthFile(int64_t records, int units, std::string& why) {
  const fs::path dir = DataDir();
  std::error_code ec;
  fs::create_directories(dir, ec);
  const fs::path path =
      dir / ("DataLog_" + std::to_string(records) + "x" + std::to_string(units) + ".dat");
  const uintmax_t bytes = static_cast<uintmax_t>(records) * kDataRecSize;
  if (fs::exists(path, ec) && fs::file_size(path, ec) == bytes) return path;
  const fs::space_info space = fs::space(dir, ec);
  const uintmax_t margin = uintmax_t{2} << 30;  // leave 2 GiB for everything else
  if (ec || space.available < bytes + margin) {
    why = "not enough free disk for " + std::to_string(bytes >> 20) + " MiB in " + dir.string() +
          " (" + std::to_string(space.available >> 20) + " MiB free, 2 GiB kept free)";
    return {};
  }
  const fs::path part = path.string() + ".part";
  std::FILE* f = std::fopen(part.c_str(), "wb");
  if (f == nullptr) {
    why = "cannot create " + part.string();
    return {};
  }
  std::vector<uint8_t> block;
  block.reserve(8192 * kDataRecSize);
  bool ok = true;
  for (int64_t i = 0; i < records && ok; ++i) {
    auto rec = EncodeDataRec(MinuteSample(i, units));
    block.insert(block.end(), rec.begin(), rec.end());
    if (block.size() == 8192 * kDataRecSize || i + 1 == records) {
      ok = std::fwrite(block.data(), 1, block.size(), f) == block.size();
      block.clear();
    }
  }
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    fs::remove(part, ec);
    why = "writing " + part.string() + " failed";
    return {};
  }
  fs::rename(part, path, ec);
  return path;
}

// The floor of every query: reading the same file front to back in large blocks.
inline uint64_t SequentialRead(const fs::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  std::vector<char> block(2048 * kDataRecSize);
  uint64_t total = 0, sum = 0;
  size_t n;
  while ((n = std::fread(block.data(), 1, block.size(), f)) > 0) {
    total += n;
    sum += static_cast<uint8_t>(block[0]);  // touch the data so the read cannot be skipped
  }
  std::fclose(f);
  return total + (sum & 0);
}

}  // namespace tessel::bench
