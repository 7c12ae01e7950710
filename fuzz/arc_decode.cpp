// Fuzz harness for ARC's decoders. The first byte selects the method (1 to 9), the next three
// give the original size (up to 4 MiB) and the read slice; the rest is the member's packed data.
// It checks the output bound, the block bound and that the decoder ends with a status, never a
// crash or an exception.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "archive/codecs/arvArc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t method = static_cast<uint8_t>(1 + data[0] % 9);
  const uint64_t originalSize = (static_cast<uint64_t>(data[1]) << 8 | data[2]) << (data[3] & 8 ? 6 : 0);
  const size_t slice = 1 + (data[3] & 7) * 1531;
  const uint8_t* input = data + 4;
  const size_t inputSize = size - 4;

  size_t at = 0;
  uint64_t written = 0;
  uint8_t cancel = 0;
  TCodecIo io;
  io.Read = [&](uint8_t* buffer, size_t count) {
    if (count == 0 || count > kArcInputBlock) std::abort();
    const size_t n = std::min({count, slice, inputSize - at});
    if (n != 0) std::memcpy(buffer, input + at, n);
    at += n;
    return n;
  };
  io.Write = [&](const uint8_t* bytes, size_t count) {
    if (count == 0 || count > std::max(kArcOutputBlock, kArcInputBlock)) std::abort();
    volatile uint8_t sink = bytes[0] ^ bytes[count - 1];
    (void)sink;
    written += count;
  };
  io.Cancel = &cancel;
  const TCodecStatus status = DecodeArc(method, originalSize, io);
  if (written > originalSize) std::abort();
  if (status == TCodecStatus::Ok && written != originalSize) std::abort();
  if (status == TCodecStatus::Unsupported || status == TCodecStatus::Cancelled) std::abort();
  return 0;
}
