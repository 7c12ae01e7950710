#include "support/OldCodecsSupport.h"

#include <algorithm>
#include <random>

#include "archive/codecs/arvCrcTables.h"

namespace parcelo::test {

std::vector<uint8_t> TextPayload(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"the",    "archive", "member", "of",      "a",
                                       "window", "length",  "table",  "crunch",  "squeeze",
                                       "volume", "header",  "and",    "bytes",   "Parcelo",
                                       "ARJ",    "ARC",     "method", "garbled", "1992"};
  std::mt19937 random(seed);
  std::vector<uint8_t> out;
  out.reserve(size);
  size_t column = 0;
  while (out.size() < size) {
    const std::string word = kWords[random() % std::size(kWords)];
    for (char ch : word) out.push_back(static_cast<uint8_t>(ch));
    column += word.size() + 1;
    if (column > 70) {
      out.push_back('\r');
      out.push_back('\n');
      column = 0;
    } else {
      out.push_back(' ');
    }
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> RunsPayload(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> out;
  out.reserve(size);
  while (out.size() < size) {
    const uint8_t byte = random() % 4 == 0 ? 0x90 : static_cast<uint8_t>(random());
    const size_t run = random() % 3 == 0 ? 1 + random() % 400 : 1 + random() % 3;
    out.insert(out.end(), run, byte);
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> NoisePayload(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> out(size);
  for (auto& b : out) b = static_cast<uint8_t>(random());
  return out;
}

void TMsbBitWriter::Bits(uint32_t value, unsigned count) {
  for (unsigned i = count; i-- > 0;) {
    pending_ = pending_ << 1 | ((value >> i) & 1);
    if (++pendingBits_ == 8) {
      bytes_.push_back(static_cast<uint8_t>(pending_));
      pending_ = 0;
      pendingBits_ = 0;
    }
  }
}

std::vector<uint8_t> TMsbBitWriter::Finish() const {
  std::vector<uint8_t> out = bytes_;
  if (pendingBits_ != 0) out.push_back(static_cast<uint8_t>(pending_ << (8 - pendingBits_)));
  return out;
}

TCodecRun RunCodec(const std::vector<uint8_t>& input, size_t slice,
                   const std::function<TCodecStatus(const TCodecIo&)>& decode,
                   int cancelAfterWrites) {
  TCodecRun run;
  uint8_t cancel = 0;
  int writes = 0;
  TCodecIo io;
  io.Read = [&](uint8_t* buffer, size_t count) {
    size_t n = std::min(count, input.size() - run.inputTaken);
    if (slice != 0) n = std::min(n, slice);
    std::copy_n(input.begin() + static_cast<ptrdiff_t>(run.inputTaken), n, buffer);
    run.inputTaken += n;
    return n;
  };
  io.Write = [&](const uint8_t* bytes, size_t count) {
    run.output.insert(run.output.end(), bytes, bytes + count);
    run.largestWrite = std::max(run.largestWrite, count);
    if (cancelAfterWrites > 0 && ++writes >= cancelAfterWrites) cancel = 1;
  };
  io.Cancel = &cancel;
  run.status = decode(io);
  return run;
}

uint32_t Crc32Of(const std::vector<uint8_t>& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t b : bytes) crc = Crc32Step(crc, b);
  return ~crc;
}

uint16_t Crc16Of(const std::vector<uint8_t>& bytes) {
  uint16_t crc = 0;
  for (uint8_t b : bytes) crc = static_cast<uint16_t>(kCrc16Table[(crc ^ b) & 0xFF] ^ (crc >> 8));
  return crc;
}

}  // namespace parcelo::test
