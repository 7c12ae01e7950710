// The byte pipes of the decoders that have no engine knowledge (the old formats' families, PPMd):
// the decoder pulls compressed bytes through Read and pushes decoded bytes through Write, a block
// at a time, and answers how the member ended. Opening archives, checksums of the member, output
// files and progress belong to the caller.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

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

// A decoder's input: the member's packed bytes pulled through TCodecIo::Read a block at a time.
// Before each block it looks at the cancel flag; a cancel ends the input as its end does, and
// Cancelled() then tells the two apart.
class TCodecInput {
 public:
  explicit TCodecInput(size_t blockSize) : FBuffer(blockSize) {}
  TCodecInput(const TCodecIo& io, size_t blockSize) : TCodecInput(blockSize) { Start(io); }
  // Begins a member's input through `io`, which outlives the reads.
  void Start(const TCodecIo& io) {
    FIo = &io;
    FPos = FEnd = nullptr;
    FDone = FCancelled = false;
  }
  // The next byte, or -1 at the end of the data (or once cancelled).
  int Next() { return FPos != FEnd || Fill() ? *FPos++ : -1; }
  // Makes unread bytes available, reading the next block when none are left; false at the end of
  // the data (or once cancelled).
  bool Fill() {
    if (FPos != FEnd) return true;
    if (FDone) return false;
    if (FIo->Cancel != nullptr && *FIo->Cancel != 0) {
      FDone = FCancelled = true;
      return false;
    }
    const size_t got = FIo->Read ? FIo->Read(FBuffer.data(), FBuffer.size()) : 0;
    if (got == 0) {
      FDone = true;
      return false;
    }
    FPos = FBuffer.data();
    FEnd = FPos + std::min(got, FBuffer.size());
    return true;
  }
  // The unread bytes of the current block.
  const uint8_t* Data() const { return FPos; }
  size_t Available() const { return static_cast<size_t>(FEnd - FPos); }
  void Skip(size_t count) { FPos += count; }
  bool Cancelled() const { return FCancelled; }

 private:
  const TCodecIo* FIo = nullptr;
  std::vector<uint8_t> FBuffer;
  const uint8_t* FPos = nullptr;
  const uint8_t* FEnd = nullptr;
  bool FDone = false;
  bool FCancelled = false;
};
