// The input and output a codec harness hands a decoder through TCodecIo: reads of at most `Slice`
// bytes from the member's data, writes counted and touched at both ends. What a decoder must never
// do aborts: an empty write, a read or write larger than it may ask for, an empty read where the
// decoder's contract forbids one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "archive/codecs/arvCodecIo.h"

struct TFuzzLimits {
  size_t Slice = SIZE_MAX;     // the most one read hands over
  size_t MaxRead = SIZE_MAX;   // the most a read may ask for
  size_t MaxWrite = SIZE_MAX;  // the most one write may carry
  bool EmptyReadIsFault = true;
  uint64_t WriteBudget = UINT64_MAX;  // past it a write throws 1 (a caller's checksum budget)
};

class TFuzzCodecIo {
 public:
  TFuzzCodecIo(const uint8_t* input, size_t size, TFuzzLimits limits)
      : FInput(input), FSize(size), FLimits(limits) {
    FIo.Read = [this](uint8_t* buffer, size_t count) {
      if ((count == 0 && FLimits.EmptyReadIsFault) || count > FLimits.MaxRead) std::abort();
      const size_t n = std::min({count, FLimits.Slice, FSize - FAt});
      if (n != 0) std::memcpy(buffer, FInput + FAt, n);
      FAt += n;
      if (OnRead) OnRead(buffer, n);
      return n;
    };
    FIo.Write = [this](const uint8_t* bytes, size_t count) {
      if (count == 0 || count > FLimits.MaxWrite) std::abort();
      volatile uint8_t sink = bytes[0] ^ bytes[count - 1];
      (void)sink;
      FWritten += count;
      if (FWritten > FLimits.WriteBudget) throw 1;
    };
    FIo.Cancel = &FCancel;
  }
  TFuzzCodecIo(const TFuzzCodecIo&) = delete;
  TFuzzCodecIo& operator=(const TFuzzCodecIo&) = delete;

  const TCodecIo& Io() const { return FIo; }
  size_t Consumed() const { return FAt; }
  uint64_t Written() const { return FWritten; }
  // Runs on the bytes of every read (a cipher over the data, say).
  std::function<void(uint8_t*, size_t)> OnRead;

 private:
  const uint8_t* FInput;
  size_t FSize;
  TFuzzLimits FLimits;
  size_t FAt = 0;
  uint64_t FWritten = 0;
  uint8_t FCancel = 0;
  TCodecIo FIo;
};
