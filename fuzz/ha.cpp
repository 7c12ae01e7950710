// Fuzz harness for the HA decoders. The first byte picks the method (CPY or ASC) and the read
// size, the next three the output size (little-endian, up to 16 MiB); the rest is the member's
// packed data. It checks that the output stays within the size and that reads keep to the data.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "archive/codecs/arvHa.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const unsigned method = (data[0] & 0x80) != 0 ? kHaMethodCpy : kHaMethodAsc;
  const size_t chunk = 1 + static_cast<size_t>(data[0] & 0x7F) * 97;
  const uint64_t outSize = data[1] | data[2] << 8 | static_cast<uint64_t>(data[3]) << 16;
  const uint8_t* input = data + 4;
  const size_t inputSize = size - 4;

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
  };
  const THaResult result = DecodeHaMember(method, io, outSize);
  if (written > outSize || written != result.Written || at > inputSize) std::abort();
  if (result.Status == TCodecStatus::Ok && written != outSize) std::abort();
  return 0;
}
