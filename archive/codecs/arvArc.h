// ARC's decoders (also PAK's for the methods the two share): 1 and 2 stored, 3 packed (runs
// behind the marker 0x90), 4 squeezed (a Huffman tree sent in front of the data, then runs),
// 5 to 7 crunched the old way (12-bit LZW codes whose table places strings by a hash; 5 without
// runs, 6 with them, 7 with the newer hash), 8 crunched (LZW of 9 to 12 bits with a clear code,
// over runs) and 9 squashed (the same of 9 to 13 bits, without runs). One member at a time
// through TCodecIo; headers and the CRC-16 are the caller's. PAK's methods 10 (crushed) and 11
// (distilled) are not decoded here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/codecs/arvCodecIo.h"

constexpr uint8_t kArcMethodOldStored = 1;
constexpr uint8_t kArcMethodStored = 2;
constexpr uint8_t kArcMethodPacked = 3;
constexpr uint8_t kArcMethodSqueezed = 4;
constexpr uint8_t kArcMethodCrunchedOld = 5;     // old hash, no runs
constexpr uint8_t kArcMethodCrunchedOldRle = 6;  // old hash, runs
constexpr uint8_t kArcMethodCrunchedNewHash = 7; // new hash, runs
constexpr uint8_t kArcMethodCrunched = 8;        // dynamic LZW, runs
constexpr uint8_t kArcMethodSquashed = 9;        // dynamic LZW of up to 13 bits
constexpr uint8_t kPakMethodCrushed = 10;
constexpr uint8_t kPakMethodDistilled = 11;

constexpr size_t kArcInputBlock = 16384;
constexpr size_t kArcOutputBlock = 32768;

// True for the methods DecodeArc decodes (1 to 9).
constexpr bool IsArcMethodDecoded(uint8_t method) {
  return method >= kArcMethodOldStored && method <= kArcMethodSquashed;
}

// Decodes one member of `method` whose original size is `originalSize`; Ok only when exactly that
// many bytes were written.
TCodecStatus DecodeArc(uint8_t method, uint64_t originalSize, const TCodecIo& io);
