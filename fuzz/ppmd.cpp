// Fuzz harness for the PPMd (zip method 98) decoder. The first byte picks the read size, the next
// four the output size (little-endian, capped at 4 MiB; all ones for "unknown"); the rest is the
// member's data, header first. It checks that the output stays within the size, that no more input
// is taken than there is, and that reads and writes keep to their blocks.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "archive/codecs/arvPpmd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const size_t chunk = 1 + static_cast<size_t>(data[0]) * 257;
  uint64_t outSize = data[1] | data[2] << 8 | data[3] << 16 | static_cast<uint64_t>(data[4]) << 24;
  if (outSize == 0xFFFFFFFFu) {
    outSize = kPpmdSizeUnknown;
  } else {
    outSize = std::min<uint64_t>(outSize, 4u << 20);
  }
  const uint8_t* input = data + 5;
  const size_t inputSize = size - 5;

  size_t at = 0;
  uint64_t written = 0;
  TCodecIo io;
  io.Read = [&](uint8_t* buffer, size_t count) {
    if (count == 0) std::abort();
    const size_t n = std::min({count, chunk, inputSize - at});
    if (n != 0) std::memcpy(buffer, input + at, n);
    at += n;
    return n;
  };
  io.Write = [&](const uint8_t* bytes, size_t count) {
    if (count == 0) std::abort();
    volatile uint8_t sink = bytes[0] ^ bytes[count - 1];
    (void)sink;
    written += count;
    // Without a size the end mark may never come: a bound like the caller's checksum budget.
    if (outSize == kPpmdSizeUnknown && written > (8u << 20)) throw 1;
  };
  TPpmdResult result;
  try {
    result = DecodePpmdMember(io, outSize);
  } catch (int) {
    return 0;
  }
  if (outSize != kPpmdSizeUnknown && written > outSize) std::abort();
  if (written != result.Written || result.Consumed > at || at > inputSize) std::abort();
  if (result.Status == TCodecStatus::Ok && outSize != kPpmdSizeUnknown && written != outSize)
    std::abort();
  return 0;
}
