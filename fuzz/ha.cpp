// Fuzz harness for the HA decoders. The first byte picks the method (CPY or ASC) and the read
// size, the next three the output size (little-endian, up to 16 MiB); the rest is the member's
// packed data. It checks that the output stays within the size and that reads keep to the data.
#include <cstdint>
#include <cstdlib>

#include "archive/codecs/arvHa.h"
#include "fuzz/codec_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const unsigned method = (data[0] & 0x80) != 0 ? kHaMethodCpy : kHaMethodAsc;
  const size_t chunk = 1 + static_cast<size_t>(data[0] & 0x7F) * 97;
  const uint64_t outSize = data[1] | data[2] << 8 | static_cast<uint64_t>(data[3]) << 16;
  const uint8_t* input = data + 4;
  const size_t inputSize = size - 4;

  TFuzzCodecIo io(input, inputSize, {.Slice = chunk});
  const THaResult result = DecodeHaMember(method, io.Io(), outSize);
  const uint64_t written = io.Written();
  if (written > outSize || written != result.Written) std::abort();
  if (result.Status == TCodecStatus::Ok && written != outSize) std::abort();
  return 0;
}
