// Helpers for the tests of the old formats' decoders (ARJ, ARC): payloads that exercise the
// methods, a most-significant-bit-first bit writer, running a codec over a byte vector with reads
// cut into slices of a chosen size, and the checksums of the formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/codecs/arvCodecIo.h"
#include "support/ReaderFixture.h"  // ReadBytes, WriteBytes, HaveTool, RunIn

namespace parcelo::test {

// Deterministic payloads: words with spaces and line ends (`size` bytes), bytes with long runs
// and 0x90 among them, and bytes without structure.
std::vector<uint8_t> TextPayload(size_t size, uint32_t seed = 1);
std::vector<uint8_t> RunsPayload(size_t size, uint32_t seed = 2);
std::vector<uint8_t> NoisePayload(size_t size, uint32_t seed = 3);

// Writes fields most significant bit first (ARJ's and ARC's LZW codes of methods 5 to 7).
class TMsbBitWriter {
 public:
  void Bits(uint32_t value, unsigned count);
  std::vector<uint8_t> Finish() const;  // the last byte zero-padded

 private:
  std::vector<uint8_t> bytes_;
  uint32_t pending_ = 0;
  unsigned pendingBits_ = 0;
};

// What one run of a codec gave.
struct TCodecRun {
  TCodecStatus status = TCodecStatus::Ok;
  std::vector<uint8_t> output;
  size_t largestWrite = 0;
  size_t inputTaken = 0;
};

// Runs `decode` with a TCodecIo over `input`, each Read giving at most `slice` bytes (0: what was
// asked). `cancelAfterWrites` > 0 sets the cancel flag after that many writes.
TCodecRun RunCodec(const std::vector<uint8_t>& input, size_t slice,
                   const std::function<TCodecStatus(const TCodecIo&)>& decode,
                   int cancelAfterWrites = 0);

uint32_t Crc32Of(const std::vector<uint8_t>& bytes);
uint16_t Crc16Of(const std::vector<uint8_t>& bytes);

}  // namespace parcelo::test
