// The decoders of the HA archiver's methods: 0 CPY (stored) and 1 ASC (LZ77 over a 31,200-byte
// window, with the literals, lengths, positions and the literal/match choice each coded by an
// adaptive arithmetic coder). The decoder pulls a member's packed bytes through TCodecIo and
// pushes decoded bytes out a block at a time; the archive's records and the CRC-32 belong to the
// caller.
#pragma once

#include <cstdint>

#include "archive/codecs/arvCodecIo.h"

constexpr unsigned kHaMethodCpy = 0;
constexpr unsigned kHaMethodAsc = 1;
constexpr unsigned kHaMethodHsc = 2;
constexpr unsigned kHaMethodDirectory = 14;

struct THaResult {
  TCodecStatus Status = TCodecStatus::Ok;
  uint64_t Written = 0;  // decoded bytes handed to Write
};

// Decodes one member of `method` whose output is `size` bytes. ASC data ends with its own end
// code: output past `size` is Corrupt, the end code before it Truncated. Methods other than CPY
// and ASC answer Unsupported without reading.
THaResult DecodeHaMember(unsigned method, const TCodecIo& io, uint64_t size);
