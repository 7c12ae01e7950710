// Fuzz harness for ARJ's and ARC's decoders, which share one shape: a method, an original size and
// the member's packed bytes through TCodecIo. The first byte chooses the family (bit 0: ARC when
// set), the method (bits 1 to 6: ARJ 0 to 4, ARC 1 to 9) and, for ARJ, whether the packed bytes
// are garbled (bit 7); the next three give the original size (up to 4 MiB) and the read slice;
// the rest is the member's packed data. It checks the output bound, the block bounds and that the
// decoder ends with a status, never a crash or an exception. The seeds were made by arj (every
// method, plain and garbled) and arc (stored, packed, squeezed, crunched, squashed).
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "archive/codecs/arvArc.h"
#include "archive/codecs/arvArj.h"
#include "fuzz/codec_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const bool arc = (data[0] & 1) != 0;
  const unsigned choice = (data[0] >> 1) & 0x3F;
  const uint8_t method = static_cast<uint8_t>(arc ? 1 + choice % 9 : choice % 5);
  const bool garbled = !arc && (data[0] & 0x80) != 0;
  const uint64_t originalSize = (static_cast<uint64_t>(data[1]) << 8 | data[2])
                                << (data[3] & 8 ? 6 : 0);
  const size_t slice = 1 + (data[3] & 7) * 1531;
  const uint8_t* input = data + 4;
  const size_t inputSize = size - 4;
  const size_t inputBlock = arc ? kArcInputBlock : kArjInputBlock;
  const size_t outputBlock = std::max(arc ? kArcOutputBlock : kArjOutputBlock, inputBlock);

  TArjGarble garble("fuzz", data[3]);
  TFuzzCodecIo io(input, inputSize,
                  {.Slice = slice, .MaxRead = inputBlock, .MaxWrite = outputBlock});
  if (garbled) io.OnRead = [&garble](uint8_t* buffer, size_t n) { garble.Apply(buffer, n); };
  const TCodecStatus status =
      arc ? DecodeArc(method, originalSize, io.Io()) : DecodeArj(method, originalSize, io.Io());
  if (io.Written() > originalSize) std::abort();
  if (status == TCodecStatus::Ok && io.Written() != originalSize) std::abort();
  if (status == TCodecStatus::Unsupported || status == TCodecStatus::Cancelled) std::abort();
  return 0;
}
