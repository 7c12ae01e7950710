// Fuzz harness for the PPMd (zip method 98) decoder. The first byte picks the read size, the next
// four the output size (little-endian, capped at 4 MiB; all ones for "unknown"); the rest is the
// member's data, header first. It checks that the output stays within the size, that no more input
// is taken than there is, and that reads and writes keep to their blocks.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "archive/codecs/arvPpmd.h"
#include "fuzz/codec_io.h"

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

  // Without a size the end mark may never come: a bound like the caller's checksum budget.
  TFuzzCodecIo io(
      input, inputSize,
      {.Slice = chunk, .WriteBudget = outSize == kPpmdSizeUnknown ? 8u << 20 : UINT64_MAX});
  TPpmdResult result;
  try {
    result = DecodePpmdMember(io.Io(), outSize);
  } catch (int) {
    return 0;
  }
  const uint64_t written = io.Written();
  if (outSize != kPpmdSizeUnknown && written > outSize) std::abort();
  if (written != result.Written || result.Consumed > io.Consumed()) std::abort();
  if (result.Status == TCodecStatus::Ok && outSize != kPpmdSizeUnknown && written != outSize)
    std::abort();
  return 0;
}
