// The byte pipes of the decoders that have no engine knowledge (the old formats' families, PPMd):
// the decoder pulls compressed bytes through Read and pushes decoded bytes through Write, a block
// at a time, and answers how the member ended. Opening archives, checksums of the member, output
// files and progress belong to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct TCodecIo {
  // Fills up to `count` bytes of the member's compressed data; returns how many arrived, 0 at the
  // end of the data or on a failed read. A decoder never asks for more than the packed size.
  std::function<size_t(uint8_t* buffer, size_t count)> Read;
  // Takes a block of decoded bytes. It may raise (a failed write); the exception passes on.
  std::function<void(const uint8_t* bytes, size_t count)> Write;
  // When set and non-zero, the decoder stops before its next block and answers Cancelled.
  const uint8_t* Cancel = nullptr;
};

// How a member's decoding ended. Truncated: the input ran out before the output was whole.
// Corrupt: the data cannot be what the method writes (an invalid table, a distance before the
// start, more output than the member's size). Unsupported: a method or variant this decoder does
// not know. A checksum is the caller's to check, also after Ok.
enum class TCodecStatus : uint8_t { Ok, Truncated, Corrupt, Unsupported, Cancelled };
