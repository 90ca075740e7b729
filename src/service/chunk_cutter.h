// Where the bytes of a serial line are cut into the chunks the communication master reads: at
// line silence, earlier after a complete answer, and every 2048 bytes. Only the rule, no I/O and
// no clock of its own: the caller says when bytes arrived and asks when the chunk closes, so a
// test can step it without sleeping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/frame_end.h"

namespace tessel {

class ChunkCutter {
 public:
  // Largest chunk; a longer stream is cut every this many bytes.
  static constexpr size_t kMaxChunk = 2048;

  // silenceNs: the line silence that ends a chunk; zero or less hands over every arrival at once.
  // complete, quietNs: a chunk that is exactly one complete answer ends after quietNs of silence
  // instead, when that is shorter. Drops a pending chunk.
  void Configure(int64_t silenceNs, AnswerCompleteFn complete, int64_t quietNs);

  // Room left in the pending chunk.
  size_t Space() const { return kMaxChunk - chunk_.size(); }
  // Adds up to Space() of the n bytes that arrived at `now`; returns how many it took. When that
  // fills the chunk (Full), the caller takes it at once.
  size_t Add(const uint8_t* data, size_t n, int64_t now);
  bool Full() const { return chunk_.size() == kMaxChunk; }
  bool Pending() const { return !chunk_.empty(); }
  // When the pending chunk closes unless more bytes arrive first; -1 with no chunk pending.
  int64_t Deadline() const { return deadline_; }

  // Hands over the pending chunk followed by one zero byte (the size is one more than the data)
  // and starts an empty one.
  std::vector<uint8_t> Take();
  void Clear();

 private:
  int64_t silenceNs_ = 0;
  AnswerCompleteFn complete_ = nullptr;
  int64_t quietNs_ = 0;
  std::vector<uint8_t> chunk_;
  int64_t deadline_ = -1;
};

}  // namespace tessel
