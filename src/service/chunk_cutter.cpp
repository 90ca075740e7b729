#include "service/chunk_cutter.h"

#include <algorithm>

namespace tessel {

void ChunkCutter::Configure(int64_t silenceNs, AnswerCompleteFn complete, int64_t quietNs) {
  silenceNs_ = std::max<int64_t>(silenceNs, 0);
  complete_ = complete;
  quietNs_ = std::max<int64_t>(quietNs, 0);
  Clear();
}

size_t ChunkCutter::Add(const uint8_t* data, size_t n, int64_t now) {
  const size_t taken = std::min(n, Space());
  if (taken == 0) return 0;
  chunk_.insert(chunk_.end(), data, data + taken);
  // One whole answer: the short quiet time shows that nothing trails it. Anything else (a frame
  // still arriving, bytes after a frame) waits for the full silence, so that a pause inside a
  // frame does not split it and trailing bytes keep a bad answer from passing as a good one.
  int64_t wait = silenceNs_;
  if (complete_ && complete_(chunk_.data(), chunk_.size())) wait = std::min(wait, quietNs_);
  deadline_ = now + wait;
  return taken;
}

std::vector<uint8_t> ChunkCutter::Take() {
  std::vector<uint8_t> chunk;
  chunk.reserve(kMaxChunk + 1);
  chunk.swap(chunk_);
  chunk.push_back(0);
  deadline_ = -1;
  return chunk;
}

void ChunkCutter::Clear() {
  chunk_.clear();
  deadline_ = -1;
}

}  // namespace tessel
