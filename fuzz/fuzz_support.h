// Small helpers shared by the fuzz targets.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tessel::fuzz {

// A private folder for the files one fuzzing process writes, made once per process under TMPDIR
// (or /tmp) and left for the system to clean.
inline std::string ScratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tessel-fuzz-XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) std::abort();
  return tmpl;
}

inline void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

}  // namespace tessel::fuzz
