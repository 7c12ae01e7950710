// Fuzz harness for the inflate engine: arbitrary bytes decoded as raw or zlib-wrapped deflate or
// Deflate64 data, once in one call and once in slices of input and output chosen by the input,
// which must agree byte for byte and end alike; raw Deflate data that zlib decodes completely must
// come out of the engine identical, with the same input consumed. Output stops after 1 MiB.
// It does not fuzz the decompressing stream around the engine (that has its own harness).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/codecs/arvInflate.h"

// After the engine's header: zlib's Z_* macros would otherwise rewrite its constants.
#include <zlib.h>

namespace {

constexpr size_t kMaxOutput = size_t{1} << 20;

// Output areas reused from run to run (allocating and clearing megabytes per run would dominate).
uint8_t* Area(int which) {
  static std::vector<uint8_t> areas[3] = {std::vector<uint8_t>(kMaxOutput),
                                          std::vector<uint8_t>(kMaxOutput),
                                          std::vector<uint8_t>(kMaxOutput)};
  return areas[which].data();
}

struct TResult {
  const uint8_t* output = nullptr;
  size_t produced = 0;
  int ret = Z_OK;
  uint64_t totalIn = 0;
  bool capped = false;  // stopped at kMaxOutput
};

// A small generator for the slice sizes, seeded from the input.
struct TRandom {
  uint32_t state;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
};

// Decodes into area `which`, in slices of at most maxIn and maxOut bytes (0: all at once), until
// the data ends, fails, runs out, or `limit` bytes came out.
TResult Decode(const uint8_t* data, size_t size, int windowBits, bool deflate64, uint32_t seed,
               uint32_t maxIn, uint32_t maxOut, size_t limit, int which) {
  TResult r;
  TInflateStream z{};
  if (InflateInit(z, windowBits, kInflateStreamSize, deflate64) != Z_OK) std::abort();
  uint8_t* const out = Area(which);
  r.output = out;
  TRandom rng{seed | 1};
  size_t inPos = 0;
  for (;;) {
    const size_t inLeft = size - inPos;
    const size_t outLeft = limit - z.total_out;
    const size_t inChunk = maxIn ? std::min<size_t>(inLeft, 1 + rng.Next() % maxIn) : inLeft;
    const size_t outChunk = maxOut ? std::min<size_t>(outLeft, 1 + rng.Next() % maxOut) : outLeft;
    z.next_in = data + inPos;
    z.avail_in = static_cast<uint32_t>(inChunk);
    z.next_out = out + z.total_out;
    z.avail_out = static_cast<uint32_t>(outChunk);
    r.ret = Inflate(z, Z_NO_FLUSH);
    inPos += inChunk - z.avail_in;
    if (z.next_in != data + inPos) std::abort();
    if (r.ret == Z_STREAM_END || (r.ret != Z_OK && r.ret != Z_BUF_ERROR)) break;
    if (z.total_out == limit) {
      r.capped = true;
      break;
    }
    if (r.ret == Z_BUF_ERROR && inPos == size) break;
  }
  r.produced = z.total_out;
  r.totalIn = z.total_in;
  if (z.total_in != inPos) std::abort();
  if (InflateEnd(z) != Z_OK) std::abort();
  return r;
}

// zlib's verdict on raw Deflate data: the output when it decodes the whole stream, else nothing.
bool ZlibDecodes(const uint8_t* data, size_t size, size_t& produced, uint64_t& totalIn) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) std::abort();
  static const uint8_t kNothing = 0;
  z.next_in = const_cast<Bytef*>(size ? data : &kNothing);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = Area(2);
  z.avail_out = static_cast<uInt>(kMaxOutput);
  const int ret = inflate(&z, Z_FINISH);
  produced = z.total_out;
  totalIn = z.total_in;
  inflateEnd(&z);
  return ret == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  // Byte 0: bit 0 Deflate64, bit 1 zlib wrapper, bits 2-4 narrower windows; bytes 1-4: slicing.
  // PARCELO_FUZZ_INFLATE_MODE=deflate or =deflate64 pins the variant for a campaign of one mode.
  static const char* const kMode = std::getenv("PARCELO_FUZZ_INFLATE_MODE");
  bool deflate64 = (data[0] & 1) != 0;
  if (kMode != nullptr) deflate64 = std::strcmp(kMode, "deflate64") == 0;
  const bool wrapped = (data[0] & 2) != 0;
  const int bits = std::max(8, 15 - ((data[0] >> 2) & 7));
  const int windowBits = wrapped ? bits : -bits;
  uint32_t seed;
  std::memcpy(&seed, data + 1, 4);
  const uint32_t maxIn = 1 + (seed >> 24) % 64;
  const uint32_t maxOut = 1 + (seed & 0xFFFF) % 5000;  // 256 x this is the sliced output budget
  data += 5;
  size -= 5;

  // Tiny output slices get a proportionally smaller budget, so one run stays short.
  const size_t slicedLimit = std::min<size_t>(kMaxOutput, size_t{maxOut} * 256);
  const TResult whole = Decode(data, size, windowBits, deflate64, seed, 0, 0, kMaxOutput, 0);
  const TResult sliced =
      Decode(data, size, windowBits, deflate64, seed, maxIn, maxOut, slicedLimit, 1);
  const size_t common = std::min(whole.produced, sliced.produced);
  if (std::memcmp(whole.output, sliced.output, common) != 0) std::abort();
  if (!whole.capped && !sliced.capped) {
    if (whole.produced != sliced.produced) std::abort();
    // Both end the same way: finished, failed, or out of input.
    if (whole.ret != sliced.ret) std::abort();
    if (whole.ret == Z_STREAM_END && whole.totalIn != sliced.totalIn) std::abort();
  }
  if (sliced.capped && whole.produced < sliced.produced) std::abort();

  if (!deflate64 && !wrapped && bits == 15) {
    size_t zlibProduced = 0;
    uint64_t zlibIn = 0;
    if (ZlibDecodes(data, size, zlibProduced, zlibIn) && zlibProduced < kMaxOutput) {
      // A stream zlib decodes completely is one we decode completely and identically (zlib may
      // accept a few streams we refuse on purpose, e.g. an empty distance code: a data error).
      if (whole.ret == Z_STREAM_END) {
        if (whole.produced != zlibProduced || whole.totalIn != zlibIn ||
            std::memcmp(whole.output, Area(2), zlibProduced) != 0)
          std::abort();
      } else if (whole.ret != Z_DATA_ERROR) {
        std::abort();
      }
    }
  }
  return 0;
}
