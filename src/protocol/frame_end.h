// Where an answer frame ends, by what the protocol says about its length. The serial component
// normally closes a chunk only after ReadIntervalTimeout of line silence; fast polling closes it
// once the bytes form exactly one whole answer and the line has then stayed quiet for a short
// time. Plain C++, so that a program without Qt can cut its chunks the same way.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessel {

// True when data is exactly one complete answer frame of its protocol. False while bytes are
// missing, when more bytes follow the frame, and when the protocol does not tell the length;
// such a chunk is left to the line's silence.
using AnswerCompleteFn = bool (*)(const uint8_t* data, std::size_t n);

// Modbus RTU: an exception answer (5 bytes), a read answer of functions 1 to 4 (3 + byte count +
// 2), a write echo of functions 5, 6, 15 and 16 (8 bytes); the CRC must check, so that a damaged
// byte count cannot end a frame early.
bool IsCompleteModbusAnswer(const uint8_t* data, std::size_t n);
// The telecom ASCII frames: complete at their EOI (carriage return) as the last byte. EOI cannot
// occur inside a frame, whose other bytes are "~" and hexadecimal characters.
bool IsCompleteAsciiAnswer(const uint8_t* data, std::size_t n);
// The test for a protocol choice (0, 1 ASCII; 2, 3 Modbus); null for any other value.
AnswerCompleteFn AnswerCompleteFor(int protocol);

// The line's quiet time after a complete answer, in whole milliseconds: the Modbus inter-frame
// silence of 3.5 characters (8 data bits, no parity, the given stop bits) but no less than
// kMinLineGapMs. Bytes within it still belong to the chunk. The next request is sent only once the
// chunk is closed, so this is also the gap the answering unit gets to release the line.
constexpr int kMinLineGapMs = 5;
int AnswerQuietMs(int32_t baudRate, int stopBits);

}  // namespace tessel
