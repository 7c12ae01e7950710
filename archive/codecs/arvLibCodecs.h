// The zip methods that compression libraries decode: BZip2 (libbz2), LZMA (liblzma's raw LZMA1
// decoder behind the zip member's own 9-byte header), XZ (liblzma's stream decoder) and
// Zstandard (libzstd, streaming). Each decoder pulls the member's data through TCodecIo and
// pushes its output a block at a time, never more than the member's declared size. It knows
// nothing of archives, checksums of members, files or passwords.
#pragma once

#include <cstdint>
#include <string>

#include "archive/codecs/arvCodecIo.h"

// The largest dictionary or window a library decoder is given: more is refused before decoding
// starts, with a message, instead of failing an allocation half-way.
constexpr uint64_t kMaxLibraryWindow = uint64_t{1} << 30;

// Whether `method` is one of the library methods above.
bool IsLibraryMethod(uint32_t method);

// What a library decoder was told about its member, and what it says when it fails.
struct TLibMember {
  uint32_t Method = 0;
  uint16_t Flags = 0;     // general-purpose flags: bit 1 says an LZMA member ends with a marker
  uint64_t Size = 0;      // the declared uncompressed size; no byte beyond it is written
  std::string Detail;     // set on every failure: what was wrong, in words for the person
  bool Refused = false;   // a Unsupported result was a limit (a window above 1 GiB, properties
                          // out of range), not broken data
};

// Decodes one member. Ok: the data ended where the method says it ends and `Size` bytes came
// out. Truncated: the input ran out first. Corrupt: the library found the data broken, or it
// decodes past `Size`. Unsupported: a variant or a limit the decoder refuses before any output.
TCodecStatus DecodeLibraryMember(TLibMember& member, const TCodecIo& io);
