// Fuzz harness for the library methods of zip members (BZip2, LZMA with its zip header, XZ,
// Zstandard). The first four bytes select the method and flags, the declared size and the read
// block size; the rest is the member's data. It checks that the output never passes the declared
// size, that the decoder reads no more than it was given, that every failure says why, and that
// nothing escapes as an exception.
#include <cstdint>
#include <cstdlib>

#include "archive/codecs/arvLibCodecs.h"
#include "archive/codecs/arvZipConsts.h"
#include "fuzz/codec_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  static const uint32_t kMethods[] = {kMethodBzip2, kMethodLzma, kMethodXz, kMethodZstd};
  TLibMember member;
  member.Method = kMethods[data[0] & 3];
  member.Flags = (data[0] & 4) ? kFlagLzmaEndMarker : 0;
  // Up to 1 MiB declared, in steps that reach both small and several-block sizes.
  member.Size = static_cast<uint64_t>(data[1] | (data[2] & 0x0F) << 8) << (data[0] >> 4);
  const size_t readChunk = 1 + static_cast<size_t>(data[3]) * 257;
  const uint8_t* input = data + 4;
  const size_t inputSize = size - 4;

  TFuzzCodecIo io(input, inputSize, {.Slice = readChunk, .EmptyReadIsFault = false});
  const TCodecStatus status = DecodeLibraryMember(member, io.Io());
  const uint64_t written = io.Written();
  if (written > member.Size) std::abort();
  if (status == TCodecStatus::Ok && written != member.Size) std::abort();
  if (status != TCodecStatus::Ok && member.Detail.empty()) std::abort();
  return 0;
}
