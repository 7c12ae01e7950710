// Tests of the inflate engine: call-by-call agreement with zlib's inflate on zlib-made streams of
// every level and strategy (whole and in slices down to single bytes), Deflate64 data made by
// 7-Zip and found in real archives, random dynamic blocks with unusual codes against a model,
// hand-built edge cases and every failure code. Speed is the benchmark's business, not these
// tests'.
#include "archive/codecs/arvInflate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "support/BitWriter.h"
#include "support/ZlibDeflate.h"

#include <zlib.h>

// The suite compares the engine's results with zlib's codes; the values are the same by design.
static_assert(kInflateOk == Z_OK && kInflateStreamEnd == Z_STREAM_END &&
              kInflateNeedDict == Z_NEED_DICT && kInflateStreamError == Z_STREAM_ERROR &&
              kInflateDataError == Z_DATA_ERROR && kInflateMemError == Z_MEM_ERROR &&
              kInflateBufError == Z_BUF_ERROR && kInflateVersionError == Z_VERSION_ERROR);
static_assert(kInflateNoFlush == Z_NO_FLUSH && kInflateSyncFlush == Z_SYNC_FLUSH &&
              kInflateFinish == Z_FINISH);

#if defined(PARCELO_INFLATE_TEST_BASELINE)
// The baseline build of the suite: the engine's baseline fast loop, whatever the processor has.
namespace {
class BaselineLoopEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { InflateUseBaselineLoop(true); }
};
const auto* const kBaselineEnvironment =
    ::testing::AddGlobalTestEnvironment(new BaselineLoopEnvironment);
}  // namespace
#endif

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::TBitWriter;
using testsupport::ZlibDeflate;

// ---- data ---------------------------------------------------------------------------------------

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

Bytes TextBytes(size_t n, uint32_t seed) {
  static const char* const kWords[] = {
      "the",     "of",         "and",      "to",      "in",      "archive",   "member",
      "inflate", "window",     "block",    "stream",  "a",       "is",        "that",
      "for",     "with",       "deflate",  "header",  "central", "directory", "volume",
      "extract", "compressed", "checksum", "Huffman", "literal", "distance",  "length"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    // Roughly Zipf: low indexes far more often.
    const size_t count = std::size(kWords);
    const size_t w =
        std::min(count - 1, static_cast<size_t>(count * std::pow(rng() / 4294967296.0, 3)));
    s += kWords[w];
    const uint32_t r = rng() % 20;
    s += r == 0 ? ".\n" : r == 1 ? ", " : " ";
  }
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

// Records, counters, zero runs and short periodic patterns: distances of 1 to 7 and long matches.
Bytes BinaryBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  uint32_t counter = 0;
  while (out.size() < n) {
    switch (rng() % 5) {
      case 0:
        for (int i = 0; i < 64; ++i, ++counter)
          for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(counter >> (8 * k)));
        break;
      case 1:
        out.insert(out.end(), rng() % 3000, 0);
        break;
      case 2: {
        const size_t period = 1 + rng() % 7;
        Bytes unit = RandomBytes(period, rng());
        for (size_t i = 0, len = rng() % 2000; i < len; ++i) out.push_back(unit[i % period]);
        break;
      }
      case 3: {
        Bytes noise = RandomBytes(rng() % 500, rng());
        out.insert(out.end(), noise.begin(), noise.end());
        break;
      }
      default:
        if (out.size() > 100) {  // copy an earlier stretch with a few changed bytes
          const size_t from = rng() % (out.size() - 50);
          const size_t len = std::min<size_t>(50 + rng() % 1000, out.size() - from);
          for (size_t i = 0; i < len; ++i)
            out.push_back(rng() % 97 == 0 ? static_cast<uint8_t>(rng()) : out[from + i]);
        }
    }
  }
  out.resize(n);
  return out;
}

Bytes ReadFile(const std::filesystem::path& path, size_t limit = SIZE_MAX) {
  std::ifstream in(path, std::ios::binary);
  Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.size() > limit) data.resize(limit);
  return data;
}

// ---- driving a decoder in slices ----------------------------------------------------------------

// How much input and output room each call gets.
struct TSlicing {
  uint32_t maxIn;   // 0: everything at once
  uint32_t maxOut;  // 0: everything at once
  uint32_t seed;
};

struct TCall {
  int ret;
  uint64_t totalIn;
  uint64_t totalOut;
  bool operator==(const TCall&) const = default;
};

struct TRun {
  std::vector<TCall> calls;
  Bytes output;
  int last = 0;
  size_t inputLeft = 0;  // unconsumed input after the last call
};

// Calls `step(next_in, avail_in, next_out, avail_out)` with slices until the stream ends, fails,
// or input is exhausted without progress.
template <typename Step>
TRun Drive(const Bytes& input, size_t outCapacity, const TSlicing& slicing, Step step) {
  TRun run;
  run.output.assign(outCapacity, 0);
  std::mt19937 rng(slicing.seed);
  size_t inPos = 0, outPos = 0;
  for (int guard = 0; guard < 20000000; ++guard) {
    const size_t inLeft = input.size() - inPos;
    const size_t outLeft = outCapacity - outPos;
    size_t inChunk = slicing.maxIn ? std::min<size_t>(inLeft, 1 + rng() % slicing.maxIn) : inLeft;
    size_t outChunk =
        slicing.maxOut ? std::min<size_t>(outLeft, 1 + rng() % slicing.maxOut) : outLeft;
    size_t usedIn = 0, usedOut = 0;
    TCall call =
        step(input.data() + inPos, inChunk, run.output.data() + outPos, outChunk, usedIn, usedOut);
    inPos += usedIn;
    outPos += usedOut;
    run.calls.push_back(call);
    run.last = call.ret;
    if (call.ret == Z_STREAM_END || (call.ret != Z_OK && call.ret != Z_BUF_ERROR)) break;
    if (call.ret == Z_BUF_ERROR && inPos == input.size()) break;
    if (outPos == outCapacity && call.ret == Z_BUF_ERROR) break;
  }
  run.output.resize(outPos);
  run.inputLeft = input.size() - inPos;
  return run;
}

struct TOurs {
  TInflateStream strm{};
  explicit TOurs(int windowBits, bool deflate64 = false) {
    EXPECT_EQ(InflateInit(strm, windowBits, kInflateStreamSize, deflate64), Z_OK);
  }
  ~TOurs() { InflateEnd(strm); }
  TCall Step(const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen, size_t& usedIn,
             size_t& usedOut, int flush = Z_NO_FLUSH) {
    strm.next_in = in;
    strm.avail_in = static_cast<uint32_t>(inLen);
    strm.next_out = out;
    strm.avail_out = static_cast<uint32_t>(outLen);
    const int ret = Inflate(strm, flush);
    usedIn = inLen - strm.avail_in;
    usedOut = outLen - strm.avail_out;
    EXPECT_EQ(strm.next_in, in + usedIn);
    EXPECT_EQ(strm.next_out, out + usedOut);
    return {ret, strm.total_in, strm.total_out};
  }
};

struct TZlib {
  z_stream z{};
  explicit TZlib(int windowBits) { EXPECT_EQ(inflateInit2(&z, windowBits), Z_OK); }
  ~TZlib() { inflateEnd(&z); }
  TCall Step(const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen, size_t& usedIn,
             size_t& usedOut) {
    static uint8_t dummy;
    z.next_in = const_cast<Bytef*>(inLen ? in : &dummy);
    z.avail_in = static_cast<uInt>(inLen);
    z.next_out = outLen ? out : &dummy;
    z.avail_out = static_cast<uInt>(outLen);
    const int ret = inflate(&z, Z_NO_FLUSH);
    usedIn = inLen - z.avail_in;
    usedOut = outLen - z.avail_out;
    return {ret, z.total_in, z.total_out};
  }
};

TRun RunOurs(const Bytes& input, size_t outCapacity, const TSlicing& slicing, int windowBits,
             bool deflate64 = false) {
  TOurs ours(windowBits, deflate64);
  return Drive(input, outCapacity, slicing, [&](auto&&... args) { return ours.Step(args...); });
}

TRun RunZlib(const Bytes& input, size_t outCapacity, const TSlicing& slicing, int windowBits) {
  TZlib zlib(windowBits);
  return Drive(input, outCapacity, slicing, [&](auto&&... args) { return zlib.Step(args...); });
}

// Decodes with both engines under the same slicing and requires the same return code, totals and
// output after every single call.
void ExpectSameAsZlib(const Bytes& stream, size_t outCapacity, const TSlicing& slicing,
                      int windowBits, const std::string& what) {
  SCOPED_TRACE(what + " slicing in<=" + std::to_string(slicing.maxIn) +
               " out<=" + std::to_string(slicing.maxOut));
  const TRun zlib = RunZlib(stream, outCapacity, slicing, windowBits);
  const TRun ours = RunOurs(stream, outCapacity, slicing, windowBits);
  ASSERT_EQ(ours.calls.size(), zlib.calls.size());
  for (size_t i = 0; i < zlib.calls.size(); ++i) {
    ASSERT_EQ(ours.calls[i].ret, zlib.calls[i].ret) << "call " << i;
    ASSERT_EQ(ours.calls[i].totalIn, zlib.calls[i].totalIn) << "call " << i;
    ASSERT_EQ(ours.calls[i].totalOut, zlib.calls[i].totalOut) << "call " << i;
  }
  ASSERT_EQ(ours.output.size(), zlib.output.size());
  ASSERT_TRUE(ours.output == zlib.output);
  EXPECT_EQ(ours.inputLeft, zlib.inputLeft);
}

// Decodes a whole stream in one call with room to spare.
TRun DecodeWhole(const Bytes& stream, size_t capacity, int windowBits, bool deflate64 = false) {
  return RunOurs(stream, capacity, {0, 0, 1}, windowBits, deflate64);
}

// ---- differential tests against zlib ------------------------------------------------------------

struct TSample {
  const char* name;
  Bytes data;
};

const std::vector<TSample>& Samples() {
  static const std::vector<TSample> samples = [] {
    std::vector<TSample> s;
    s.push_back({"random", RandomBytes(70000, 1)});
    s.push_back({"text", TextBytes(300000, 2)});
    s.push_back({"binary", BinaryBytes(300000, 3)});
    Bytes self = ReadFile("/proc/self/exe", 400000);
    if (!self.empty()) s.push_back({"executable", std::move(self)});
    return s;
  }();
  return samples;
}

constexpr int kStrategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};

TEST(InflateDifferential, EveryLevelAndStrategyWholeAndSlicedLikeZlib) {
  const Bytes trailer = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03};
  for (const TSample& sample : Samples()) {
    for (int level = 0; level <= 9; ++level) {
      for (int strategy : kStrategies) {
        if (level == 0 && strategy != Z_DEFAULT_STRATEGY) continue;
        // Bytes after the stream must stay unconsumed: the caller rewinds its source by them.
        Bytes stream = ZlibDeflate(sample.data, level, -15, strategy);
        stream.insert(stream.end(), trailer.begin(), trailer.end());
        const std::string what = std::string(sample.name) + " level " + std::to_string(level) +
                                 " strategy " + std::to_string(strategy);
        const size_t cap = sample.data.size() + 100;
        ExpectSameAsZlib(stream, cap, {0, 0, 1}, -15, what);
        const TRun whole = DecodeWhole(stream, cap, -15);
        EXPECT_EQ(whole.last, Z_STREAM_END) << what;
        EXPECT_TRUE(whole.output == sample.data) << what;
        EXPECT_EQ(whole.inputLeft, trailer.size()) << what;
        const uint32_t seed = static_cast<uint32_t>(level * 10 + strategy);
        ExpectSameAsZlib(stream, cap, {65536, 32768, seed}, -15, what);
        ExpectSameAsZlib(stream, cap, {300, 700, seed}, -15, what);
        ExpectSameAsZlib(stream, cap, {5000, 20, seed}, -15, what);
      }
    }
  }
}

TEST(InflateDifferential, SingleByteSlicesOfInputAndOutputLikeZlib) {
  const Bytes data = [] {
    Bytes d = TextBytes(40000, 7);
    Bytes b = BinaryBytes(40000, 8);
    d.insert(d.end(), b.begin(), b.end());
    return d;
  }();
  for (int level : {0, 1, 6, 9}) {
    for (int strategy : kStrategies) {
      const Bytes stream = ZlibDeflate(data, level, -15, strategy);
      const std::string what =
          "level " + std::to_string(level) + " strategy " + std::to_string(strategy);
      ExpectSameAsZlib(stream, data.size(), {1, 0, 5}, -15, what + " input bytes");
      ExpectSameAsZlib(stream, data.size(), {0, 1, 6}, -15, what + " output bytes");
      ExpectSameAsZlib(stream, data.size(), {1, 1, 7}, -15, what + " both");
      ExpectSameAsZlib(stream, data.size(), {3, 2, 8}, -15, what + " tiny");
    }
  }
}

TEST(InflateDifferential, ZlibWrappedStreamsAndSmallerWindows) {
  const Bytes data = TextBytes(200000, 11);
  for (int windowBits : {9, 10, 12, 15}) {
    for (int level : {1, 6, 9}) {
      const std::string what =
          "wbits " + std::to_string(windowBits) + " level " + std::to_string(level);
      Bytes wrapped = ZlibDeflate(data, level, windowBits);
      ExpectSameAsZlib(wrapped, data.size(), {0, 0, 1}, 15, what + " wrapped");
      ExpectSameAsZlib(wrapped, data.size(), {977, 3001, 2}, 15, what + " wrapped sliced");
      ExpectSameAsZlib(wrapped, data.size(), {1, 1, 3}, windowBits, what + " wrapped bytes");
      const Bytes raw = ZlibDeflate(data, level, -windowBits);
      ExpectSameAsZlib(raw, data.size(), {4000, 4000, 4}, -windowBits, what + " raw");
      TRun run = DecodeWhole(wrapped, data.size() + 10, 15);
      EXPECT_EQ(run.last, Z_STREAM_END);
      EXPECT_TRUE(run.output == data);
    }
  }
}

TEST(InflateDifferential, CorruptedAdlerGivesDataErrorLikeZlib) {
  const Bytes data = BinaryBytes(100000, 12);
  for (size_t back : {1u, 2u, 3u, 4u}) {
    Bytes stream = ZlibDeflate(data, 6, 15);
    stream[stream.size() - back] ^= 0x10;
    ExpectSameAsZlib(stream, data.size(), {0, 0, 1}, 15, "corrupt adler");
    ExpectSameAsZlib(stream, data.size(), {1, 7, 9}, 15, "corrupt adler sliced");
    const TRun run = DecodeWhole(stream, data.size(), 15);
    EXPECT_EQ(run.last, Z_DATA_ERROR);
    EXPECT_TRUE(run.output == data);  // everything decoded before the check failed
  }
}

TEST(InflateDifferential, TruncatedStreamsStopWithBufferErrorLikeZlib) {
  const Bytes data = TextBytes(50000, 13);
  const Bytes full = ZlibDeflate(data, 9, -15);
  std::mt19937 rng(14);
  for (int i = 0; i < 40; ++i) {
    const Bytes cut(full.begin(), full.begin() + static_cast<long>(rng() % full.size()));
    ExpectSameAsZlib(cut, data.size(), {0, 0, 1}, -15, "cut at " + std::to_string(cut.size()));
    ExpectSameAsZlib(cut, data.size(), {64, 64, 2}, -15, "cut sliced");
  }
}

// Random dynamic blocks with random complete codes (lengths up to 15, long codes in sub-tables),
// random literals and matches, checked against the expansion they were made from and against zlib.
struct TRandomCode {
  std::vector<uint8_t> lengths;
};

// A random complete code over `symbols` symbols with lengths of at most 15 bits, made by splitting
// random leaves of a two-leaf code; `must` symbols are guaranteed a codeword.
std::vector<uint8_t> RandomCompleteCode(std::mt19937& rng, unsigned symbols, unsigned used,
                                        const std::vector<unsigned>& must) {
  std::vector<uint8_t> leaves = {1, 1};
  while (leaves.size() < used) {
    const size_t i = rng() % leaves.size();
    if (leaves[i] >= 15) continue;
    ++leaves[i];
    leaves.push_back(leaves[i]);
  }
  std::vector<unsigned> order(symbols);
  for (unsigned s = 0; s < symbols; ++s) order[s] = s;
  std::shuffle(order.begin(), order.end(), rng);
  std::stable_partition(order.begin(), order.end(), [&](unsigned s) {
    return std::find(must.begin(), must.end(), s) != must.end();
  });
  std::vector<uint8_t> lengths(symbols, 0);
  for (size_t i = 0; i < leaves.size(); ++i) lengths[order[i]] = leaves[i];
  return lengths;
}

struct TBuiltStream {
  Bytes stream;
  Bytes expected;
};

constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint32_t kDistBase[32] = {1,    2,    3,    4,     5,     7,     9,     13,
                                    17,   25,   33,   49,    65,    97,    129,   193,
                                    257,  385,  513,  769,   1025,  1537,  2049,  3073,
                                    4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

// Emits one match through `codes` and appends its expansion.
void EmitMatch(TBitWriter& w, const testsupport::TDynamicCodes& codes, Bytes& expected,
               unsigned lenSym, uint32_t lenExtra, unsigned distSym, uint32_t distExtra,
               bool deflate64) {
  codes.LitLen(w, lenSym);
  unsigned length;
  if (deflate64 && lenSym == 285) {
    w.Bits(lenExtra, 16);
    length = 3 + lenExtra;
  } else {
    w.Bits(lenExtra, kLenExtra[lenSym - 257]);
    length = kLenBase[lenSym - 257] + lenExtra;
  }
  codes.Dist(w, distSym);
  w.Bits(distExtra, kDistExtra[distSym]);
  const size_t dist = kDistBase[distSym] + distExtra;
  for (unsigned i = 0; i < length; ++i)
    expected.push_back(dist <= expected.size() ? expected[expected.size() - dist] : 0);
}

TBuiltStream RandomDynamicStream(uint32_t seed, bool deflate64, unsigned blocks) {
  std::mt19937 rng(seed);
  TBitWriter w;
  TBuiltStream out;
  const unsigned maxLitlen = deflate64 ? 288 : 286;
  const unsigned maxDist = deflate64 ? 32 : 30;
  for (unsigned b = 0; b < blocks; ++b) {
    const unsigned nlen = 257 + rng() % (maxLitlen - 256);
    const unsigned ndist = 1 + rng() % maxDist;
    const unsigned usedLit = 2 + rng() % (nlen - 1);
    const unsigned usedDist = std::min(ndist, 2 + static_cast<unsigned>(rng() % ndist));
    std::vector<uint8_t> litlen =
        RandomCompleteCode(rng, nlen, usedLit, {256, static_cast<unsigned>(rng() % 256), 257});
    std::vector<uint8_t> dist =
        ndist == 1 ? std::vector<uint8_t>{1} : RandomCompleteCode(rng, ndist, usedDist, {0});
    const auto codes = testsupport::DynamicHeader(w, b + 1 == blocks, litlen, dist);
    std::vector<unsigned> lits, lens, dists;
    for (unsigned s = 0; s < nlen; ++s) {
      if (litlen[s] && s < 256) lits.push_back(s);
      if (litlen[s] && s > 256 && s < 286) lens.push_back(s);
    }
    for (unsigned s = 0; s < ndist; ++s)
      if (dist[s]) dists.push_back(s);
    for (unsigned n = 0, count = 200 + rng() % 3000; n < count; ++n) {
      // A distance symbol whose every value reaches only output that exists.
      std::vector<unsigned> fits;
      for (unsigned d : dists)
        if (kDistBase[d] + (1u << kDistExtra[d]) - 1 <= out.expected.size()) fits.push_back(d);
      if (lens.empty() || fits.empty() || rng() % 3 != 0) {
        const unsigned sym = lits[rng() % lits.size()];
        codes.LitLen(w, sym);
        out.expected.push_back(static_cast<uint8_t>(sym));
        continue;
      }
      const unsigned lenSym = lens[rng() % lens.size()];
      const unsigned extraBits = deflate64 && lenSym == 285 ? 16 : kLenExtra[lenSym - 257];
      const uint32_t lenExtra = rng() & ((1u << extraBits) - 1);
      const unsigned distSym = fits[rng() % fits.size()];
      const uint32_t distExtra = rng() & ((1u << kDistExtra[distSym]) - 1);
      EmitMatch(w, codes, out.expected, lenSym, lenExtra, distSym, distExtra, deflate64);
    }
    codes.LitLen(w, 256);
  }
  out.stream = w.Finish();
  return out;
}

TEST(InflateDifferential, RandomDynamicCodesUpTo15BitsLikeZlib) {
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    const TBuiltStream built = RandomDynamicStream(seed, false, 1 + seed % 4);
    const TRun whole = DecodeWhole(built.stream, built.expected.size() + 10, -15);
    ASSERT_EQ(whole.last, Z_STREAM_END) << "seed " << seed;
    ASSERT_TRUE(whole.output == built.expected) << "seed " << seed;
    ExpectSameAsZlib(built.stream, built.expected.size(), {0, 0, 1}, -15,
                     "seed " + std::to_string(seed));
    ExpectSameAsZlib(built.stream, built.expected.size(), {3, 5, seed}, -15,
                     "seed " + std::to_string(seed));
  }
}

TEST(InflateDeflate64, RandomDynamicCodesAgreeWithTheirExpansion) {
  for (uint32_t seed = 100; seed <= 140; ++seed) {
    const TBuiltStream built = RandomDynamicStream(seed, true, 1 + seed % 3);
    const TRun whole = DecodeWhole(built.stream, built.expected.size() + 10, -15, true);
    ASSERT_EQ(whole.last, Z_STREAM_END) << "seed " << seed;
    ASSERT_TRUE(whole.output == built.expected) << "seed " << seed;
    const TRun sliced = RunOurs(built.stream, built.expected.size(), {2, 3, seed}, -15, true);
    ASSERT_EQ(sliced.last, Z_STREAM_END) << "seed " << seed;
    ASSERT_TRUE(sliced.output == built.expected) << "seed " << seed;
  }
}

// ---- Deflate64 made by 7-Zip and found in real archives -----------------------------------------

// The data of the first member of a zip, found through its local header.
struct TZipMember {
  uint16_t method = 0;
  uint32_t crc = 0;
  Bytes data;
  uint64_t size = 0;
};

uint32_t Le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}
uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

std::vector<TZipMember> LocalMembers(const Bytes& zip) {
  std::vector<TZipMember> members;
  size_t p = 0;
  while (p + 30 <= zip.size() && Le32(&zip[p]) == 0x04034b50) {
    TZipMember m;
    const uint16_t flags = Le16(&zip[p + 6]);
    m.method = Le16(&zip[p + 8]);
    m.crc = Le32(&zip[p + 14]);
    const uint32_t csize = Le32(&zip[p + 18]);
    m.size = Le32(&zip[p + 22]);
    const size_t data = p + 30 + Le16(&zip[p + 26]) + Le16(&zip[p + 28]);
    if ((flags & 8) != 0 || data + csize > zip.size()) break;  // sizes unknown here: stop
    m.data.assign(zip.begin() + static_cast<long>(data),
                  zip.begin() + static_cast<long>(data + csize));
    members.push_back(std::move(m));
    p = data + csize;
  }
  return members;
}

class InflateSevenZip : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v 7z >/dev/null 2>&1") != 0) GTEST_SKIP() << "7z not installed";
    dir_ =
        std::filesystem::temp_directory_path() / ("arvInflate_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  // Zips `data` with 7-Zip's Deflate64 and returns the member's compressed bytes.
  Bytes SevenZipDeflate64(const Bytes& data) {
    const auto file = dir_ / "data.bin";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    const auto zip = dir_ / "data.zip";
    std::filesystem::remove(zip);
    const std::string cmd = "cd '" + dir_.string() +
                            "' && 7z a -tzip -mm=Deflate64 -mx=9 data.zip data.bin >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    const auto members = LocalMembers(ReadFile(zip));
    EXPECT_EQ(members.size(), 1u);
    if (members.empty()) return {};
    EXPECT_EQ(members[0].method, 9) << "7-Zip did not use Deflate64";
    return members[0].data;
  }
  std::filesystem::path dir_;
};

// Text with repeats further back than 32 KiB and runs longer than 258 bytes.
Bytes LongRangeData() {
  Bytes a = TextBytes(40000, 21);
  Bytes out = a;
  Bytes b = BinaryBytes(30000, 22);
  out.insert(out.end(), b.begin(), b.end());
  out.insert(out.end(), a.begin(), a.end());  // 70000 back
  Bytes c = RandomBytes(20000, 23);
  for (int i = 0; i < 5; ++i) out.insert(out.end(), c.begin(), c.end());  // matches of 80000
  out.insert(out.end(), 150000, 'z');
  Bytes d = TextBytes(50000, 24);
  out.insert(out.end(), d.begin(), d.end());
  out.insert(out.end(), a.begin(), a.begin() + 30000);  // 50000 back
  return out;
}

TEST_F(InflateSevenZip, Deflate64MembersDecodeWholeAndSliced) {
  const Bytes data = LongRangeData();
  const Bytes stream = SevenZipDeflate64(data);
  ASSERT_FALSE(stream.empty());
  Bytes trailed = stream;
  trailed.push_back(0x55);
  const TRun whole = DecodeWhole(trailed, data.size() + 100, -15, true);
  EXPECT_EQ(whole.last, Z_STREAM_END);
  EXPECT_TRUE(whole.output == data);
  EXPECT_EQ(whole.inputLeft, 1u);
  for (TSlicing slicing : {TSlicing{65536, 32768, 1}, TSlicing{1000, 100000, 2},
                           TSlicing{100000, 7, 3}, TSlicing{5, 300, 4}}) {
    const TRun run = RunOurs(trailed, data.size(), slicing, -15, true);
    EXPECT_EQ(run.last, Z_STREAM_END) << slicing.maxIn << "/" << slicing.maxOut;
    EXPECT_TRUE(run.output == data) << slicing.maxIn << "/" << slicing.maxOut;
    EXPECT_EQ(run.inputLeft, 1u);
  }
  // The same data is no Deflate stream: decoded in Deflate mode it must not come out equal.
  const TRun wrongMode = DecodeWhole(stream, data.size() + 100, -15, false);
  EXPECT_FALSE(wrongMode.last == Z_STREAM_END && wrongMode.output == data);
}

TEST(InflateDeflate64, MembersOfConformanceArchives) {
  const std::filesystem::path dir = std::filesystem::path(PARCELO_TESTDATA_DIR) / "zip";
  const char* const names[] = {"cc_lorem-ipsum-deflate64.zip", "sc_Zip.deflate64.zip"};
  if (!std::filesystem::exists(dir / names[0])) GTEST_SKIP() << "no conformance archives";
  size_t decoded = 0;
  for (const char* name : names) {
    for (const TZipMember& m : LocalMembers(ReadFile(dir / name))) {
      if (m.method != 9) continue;
      for (TSlicing slicing : {TSlicing{0, 0, 1}, TSlicing{17, 1000, 2}}) {
        const TRun run = RunOurs(m.data, m.size + 10, slicing, -15, true);
        EXPECT_EQ(run.last, Z_STREAM_END) << name;
        EXPECT_EQ(run.output.size(), m.size) << name;
        EXPECT_EQ(crc32(0, run.output.data(), static_cast<uInt>(run.output.size())), m.crc) << name;
        EXPECT_EQ(run.inputLeft, 0u) << name;
      }
      ++decoded;
    }
  }
  EXPECT_EQ(decoded, 4u);
}

// ---- hand-built edge cases ----------------------------------------------------------------------

TRun DecodeBuilt(const Bytes& stream, bool deflate64, size_t capacity = 1 << 20,
                 int windowBits = -15) {
  return RunOurs(stream, capacity, {0, 0, 1}, windowBits, deflate64);
}

// Fixed block: 'a', then length code 285 with 16 extra bits of 65535, distance code 0, end.
Bytes Code285Stream() {
  TBitWriter w;
  w.FixedHeader(true);
  w.FixedLitLen('a');
  w.FixedLitLen(285);
  w.Bits(0xFFFF, 16);
  w.FixedDist(0);
  w.FixedLitLen(256);
  return w.Finish();
}

TEST(InflateEdge, LengthCode285IsA65538MatchOnlyInDeflate64) {
  const Bytes stream = Code285Stream();
  const TRun d64 = DecodeBuilt(stream, true);
  EXPECT_EQ(d64.last, Z_STREAM_END);
  EXPECT_EQ(d64.output, Bytes(65539, 'a'));
  for (TSlicing slicing : {TSlicing{1, 1000, 1}, TSlicing{100, 300, 2}, TSlicing{0, 65538, 3}}) {
    const TRun sliced = RunOurs(stream, 70000, slicing, -15, true);
    EXPECT_EQ(sliced.last, Z_STREAM_END);
    EXPECT_EQ(sliced.output, Bytes(65539, 'a'));
  }
  // Deflate: 285 is 258 with no extra bits, so the 16 bits are read as codes instead.
  TBitWriter w;
  w.FixedHeader(true);
  w.FixedLitLen('a');
  w.FixedLitLen(285);
  w.FixedDist(0);
  w.FixedLitLen(256);
  const TRun deflate = DecodeBuilt(w.Finish(), false);
  EXPECT_EQ(deflate.last, Z_STREAM_END);
  EXPECT_EQ(deflate.output, Bytes(259, 'a'));
  EXPECT_NE(DecodeBuilt(stream, false).output, Bytes(65539, 'a'));
}

TEST(InflateEdge, DistanceCode30CopiesFrom32769BackOnlyInDeflate64) {
  const Bytes history = RandomBytes(32769, 31);
  TBitWriter w;
  w.Stored(false, history);
  w.FixedHeader(true);
  w.FixedLitLen(257);  // length 3
  w.FixedDist(30);     // 32769 with 14 extra bits of 0
  w.Bits(0, 14);
  w.FixedLitLen(256);
  const Bytes stream = w.Finish();
  Bytes expected = history;
  expected.insert(expected.end(), history.begin(), history.begin() + 3);
  const TRun d64 = DecodeBuilt(stream, true);
  EXPECT_EQ(d64.last, Z_STREAM_END);
  EXPECT_EQ(d64.output, expected);
  const TRun d64Sliced = RunOurs(stream, expected.size(), {1000, 1000, 4}, -15, true);
  EXPECT_EQ(d64Sliced.output, expected);
  const TRun deflate = DecodeBuilt(stream, false);
  EXPECT_EQ(deflate.last, Z_DATA_ERROR);
  EXPECT_EQ(deflate.output, history);
}

// A dynamic block with 287 literal/length codes (HLIT 30): 225 codes of 8 bits, 62 of 9.
Bytes Hlit30Stream() {
  std::vector<uint8_t> litlen(287);
  for (unsigned s = 0; s < 287; ++s) litlen[s] = s < 225 ? 8 : 9;
  TBitWriter w;
  const auto codes = testsupport::DynamicHeader(w, true, litlen, {1, 1});
  for (char c : std::string("Deflate64")) codes.LitLen(w, static_cast<uint8_t>(c));
  codes.LitLen(w, 256);
  return w.Finish();
}

TEST(InflateEdge, Hlit30IsAcceptedOnlyInDeflate64) {
  const Bytes stream = Hlit30Stream();
  const TRun d64 = DecodeBuilt(stream, true);
  EXPECT_EQ(d64.last, Z_STREAM_END);
  EXPECT_EQ(std::string(d64.output.begin(), d64.output.end()), "Deflate64");
  EXPECT_EQ(DecodeBuilt(stream, false).last, Z_DATA_ERROR);
}

TEST(InflateEdge, EmptyStoredLastBlockEndsTheStream) {
  TBitWriter w;
  w.FixedHeader(false);
  w.FixedLitLen('x');
  w.FixedLitLen(256);
  w.Stored(true, {});
  Bytes stream = w.Finish();
  stream.push_back(0x77);  // not part of the stream
  for (bool d64 : {false, true}) {
    const TRun run = DecodeBuilt(stream, d64);
    EXPECT_EQ(run.last, Z_STREAM_END);
    EXPECT_EQ(run.output, Bytes{'x'});
    EXPECT_EQ(run.inputLeft, 1u);
  }
}

TEST(InflateEdge, InputCutAfterFirstByteResumesToTheSameOutput) {
  const Bytes data = TextBytes(100000, 41);
  const Bytes stream = ZlibDeflate(data, 6, -15);
  TOurs ours(-15);
  Bytes out(data.size());
  size_t usedIn = 0, usedOut = 0;
  EXPECT_EQ(ours.Step(stream.data(), 1, out.data(), out.size(), usedIn, usedOut).ret, Z_OK);
  EXPECT_EQ(usedIn, 1u);
  // Nothing more to read: no progress is possible.
  EXPECT_EQ(
      ours.Step(stream.data() + 1, 0, out.data() + usedOut, out.size() - usedOut, usedIn, usedOut)
          .ret,
      Z_BUF_ERROR);
  ours.strm.next_in = stream.data() + 1;
  ours.strm.avail_in = static_cast<uint32_t>(stream.size() - 1);
  ours.strm.next_out = out.data() + ours.strm.total_out;
  ours.strm.avail_out = static_cast<uint32_t>(out.size() - ours.strm.total_out);
  EXPECT_EQ(Inflate(ours.strm, Z_NO_FLUSH), Z_STREAM_END);
  EXPECT_EQ(out, data);
  EXPECT_EQ(ours.strm.total_in, stream.size());
}

TEST(InflateEdge, Deflate64FixedTablesAfterDeflateFixedTablesInOneProcess) {
  const Bytes stream = Code285Stream();
  for (int round = 0; round < 3; ++round) {
    TBitWriter w;
    w.FixedHeader(true);
    w.FixedLitLen('b');
    w.FixedLitLen(285);
    w.FixedDist(0);
    w.FixedLitLen(256);
    EXPECT_EQ(DecodeBuilt(w.Finish(), false).output, Bytes(259, 'b'));
    EXPECT_EQ(DecodeBuilt(stream, true).output, Bytes(65539, 'a'));
    // Two streams of different modes alive at once keep their own tables.
    TOurs deflate(-15, false), deflate64(-15, true);
    Bytes o1(300), o2(70000);
    size_t ui, uo;
    EXPECT_EQ(deflate64.Step(stream.data(), 2, o2.data(), o2.size(), ui, uo).ret, Z_OK);
    const Bytes s1 = w.Finish();
    EXPECT_EQ(deflate.Step(s1.data(), s1.size(), o1.data(), o1.size(), ui, uo).ret, Z_STREAM_END);
    EXPECT_EQ(deflate64
                  .Step(stream.data() + 2, stream.size() - 2, o2.data() + deflate64.strm.total_out,
                        o2.size() - deflate64.strm.total_out, ui, uo)
                  .ret,
              Z_STREAM_END);
    EXPECT_EQ(deflate64.strm.total_out, 65539u);
  }
}

TEST(InflateEdge, LargestPossibleTablesDecode) {
  // The canonical codes that need the most table entries with 11- and 8-bit roots:
  // literal/length counts per length {1,1,1,1,1 for 1-5; 3 of 12, 221 of 13, 57 of 14, 2 of 15}
  // (2342 entries) and distances {1 each for 1-6; 3 of 9, 1 of 10, 17 of 11, 1 each 12-14, 2 of
  // 15}.
  const std::vector<std::pair<unsigned, unsigned>> litCounts = {
      {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {12, 3}, {13, 221}, {14, 57}, {15, 2}};
  const std::vector<std::pair<unsigned, unsigned>> distCounts = {
      {1, 1},  {2, 1},   {3, 1},  {4, 1},  {5, 1},  {6, 1}, {9, 3},
      {10, 1}, {11, 17}, {12, 1}, {13, 1}, {14, 1}, {15, 2}};
  auto expand = [](const std::vector<std::pair<unsigned, unsigned>>& counts) {
    std::vector<uint8_t> lens;
    for (auto [len, n] : counts) lens.insert(lens.end(), n, static_cast<uint8_t>(len));
    return lens;
  };
  std::vector<uint8_t> byLength = expand(litCounts);  // 288 lengths, shortest first
  ASSERT_EQ(byLength.size(), 288u);
  // Give the end-of-block and length symbols some of the long codes and literals the rest.
  std::mt19937 rng(51);
  std::vector<uint8_t> litlen(288);
  std::vector<unsigned> order(288);
  for (unsigned s = 0; s < 288; ++s) order[s] = s;
  std::shuffle(order.begin(), order.end(), rng);
  for (unsigned i = 0; i < 288; ++i) litlen[order[i]] = byLength[i];
  std::vector<uint8_t> dist = expand(distCounts);
  std::shuffle(dist.begin(), dist.end(), rng);
  TBitWriter w;
  w.Stored(false, RandomBytes(65535, 52));
  w.Stored(false, RandomBytes(10, 53));
  Bytes expected = RandomBytes(65535, 52);
  Bytes tail = RandomBytes(10, 53);
  expected.insert(expected.end(), tail.begin(), tail.end());
  const auto codes = testsupport::DynamicHeader(w, true, litlen, dist);
  for (unsigned s = 0; s < 256; ++s) {
    codes.LitLen(w, s);
    expected.push_back(static_cast<uint8_t>(s));
  }
  for (unsigned d = 0; d < 32; ++d)
    for (unsigned l = 257; l <= 285; ++l)
      EmitMatch(w, codes, expected, l, rng() & ((1u << (l == 285 ? 16 : kLenExtra[l - 257])) - 1),
                d, rng() & ((1u << kDistExtra[d]) - 1), true);
  codes.LitLen(w, 256);
  const Bytes stream = w.Finish();
  const TRun whole = DecodeBuilt(stream, true, expected.size() + 10);
  EXPECT_EQ(whole.last, Z_STREAM_END);
  EXPECT_TRUE(whole.output == expected);
  const TRun sliced = RunOurs(stream, expected.size(), {3, 4000, 54}, -15, true);
  EXPECT_EQ(sliced.last, Z_STREAM_END);
  EXPECT_TRUE(sliced.output == expected);
}

TEST(InflateEdge, DistanceBeforeTheFirstByteReadsZeros) {
  TBitWriter w;
  w.FixedHeader(true);
  w.FixedLitLen('q');
  w.FixedLitLen(258);  // length 4
  w.FixedDist(4);      // distance 5..6
  w.Bits(1, 1);        // 6
  w.FixedLitLen(256);
  const TRun run = DecodeBuilt(w.Finish(), false);
  EXPECT_EQ(run.last, Z_STREAM_END);
  EXPECT_EQ(run.output, (Bytes{'q', 0, 0, 0, 0}));
}

TEST(InflateEdge, SingleOneBitCodesAreAccepted) {
  // Literal/length: only the end of block; distances: one code. Both are 1-bit incomplete codes.
  std::vector<uint8_t> litlen(257, 0);
  litlen[256] = 1;
  TBitWriter w;
  const auto codes = testsupport::DynamicHeader(w, false, litlen, {1});
  codes.LitLen(w, 256);
  w.FixedHeader(true);
  w.FixedLitLen('k');
  w.FixedLitLen(256);
  const TRun run = DecodeBuilt(w.Finish(), false);
  EXPECT_EQ(run.last, Z_STREAM_END);
  EXPECT_EQ(run.output, Bytes{'k'});
}

// ---- failures -----------------------------------------------------------------------------------

Bytes DynamicWith(const std::vector<uint8_t>& litlen, const std::vector<uint8_t>& dist) {
  TBitWriter w;
  testsupport::DynamicHeader(w, true, litlen, dist);
  w.Bits(0, 32);
  return w.Finish();
}

std::vector<uint8_t> Uniform(unsigned n, uint8_t len) {
  return std::vector<uint8_t>(n, len);
}

TEST(InflateFailure, EveryDataErrorOfTheBlockFormat) {
  struct TCase {
    const char* name;
    Bytes stream;
  };
  std::vector<TCase> cases;
  {
    TBitWriter w;
    w.Bits(1, 1);
    w.Bits(3, 2);  // block type 3
    w.Bits(0, 16);
    cases.push_back({"block type 3", w.Finish()});
  }
  {
    TBitWriter w;
    w.Stored(true, {1, 2, 3}, 0x0100);
    cases.push_back({"stored length mismatch", w.Finish()});
  }
  {
    std::vector<uint8_t> lit = Uniform(287, 9);
    cases.push_back({"HLIT 30 in Deflate", DynamicWith(lit, {1, 1})});
    cases.push_back({"HDIST 30 in Deflate", DynamicWith(Uniform(257, 9), Uniform(31, 5))});
  }
  {
    TBitWriter w;  // code-length code over-subscribed: 19 codes of 1 bit
    w.Bits(1, 1), w.Bits(2, 2), w.Bits(0, 5), w.Bits(0, 5), w.Bits(15, 4);
    for (int i = 0; i < 19; ++i) w.Bits(1, 3);
    w.Bits(0, 32);
    cases.push_back({"code-length code over-subscribed", w.Finish()});
  }
  {
    TBitWriter w;  // code-length code incomplete: one code of 2 bits
    w.Bits(1, 1), w.Bits(2, 2), w.Bits(0, 5), w.Bits(0, 5), w.Bits(0, 4);
    w.Bits(0, 3), w.Bits(0, 3), w.Bits(0, 3), w.Bits(2, 3);  // 16 17 18 0: symbol 0 gets 2 bits
    w.Bits(0, 32);
    cases.push_back({"code-length code incomplete", w.Finish()});
  }
  {
    TBitWriter w;  // 16 (repeat previous) as the first length; code-length code: 16 and 0 of 1 bit
    w.Bits(1, 1), w.Bits(2, 2), w.Bits(0, 5), w.Bits(0, 5), w.Bits(0, 4);
    w.Bits(1, 3), w.Bits(0, 3), w.Bits(0, 3), w.Bits(1, 3);  // 16: code 1, 0: code 0
    w.Code(1, 1), w.Bits(0, 2);
    w.Bits(0, 32);
    cases.push_back({"repeat without a previous length", w.Finish()});
  }
  {
    TBitWriter w;  // 18 (zeros) running past the end; code-length code: 18 and 0 of 1 bit
    w.Bits(1, 1), w.Bits(2, 2), w.Bits(0, 5), w.Bits(0, 5), w.Bits(0, 4);
    w.Bits(0, 3), w.Bits(0, 3), w.Bits(1, 3), w.Bits(1, 3);  // 18: code 1, 0: code 0
    w.Code(1, 1), w.Bits(127, 7);                            // 138 zeros
    w.Code(1, 1), w.Bits(127, 7);                            // 276
    w.Code(1, 1), w.Bits(0, 7);                              // 287 > 258
    w.Bits(0, 32);
    cases.push_back({"repeat past the end", w.Finish()});
  }
  {
    std::vector<uint8_t> lit = Uniform(257, 8);  // 257 codes of 8 bits: one too many
    cases.push_back({"literal/length over-subscribed", DynamicWith(lit, {1, 1})});
    std::vector<uint8_t> incomplete = Uniform(257, 9);
    cases.push_back({"literal/length incomplete", DynamicWith(incomplete, {1, 1})});
    std::vector<uint8_t> noEnd(258, 0);  // 256 literals of 8 bits: complete, but no end code
    for (unsigned s = 0; s < 256; ++s) noEnd[s] = 8;
    cases.push_back({"no end-of-block code", DynamicWith(noEnd, {1, 1})});
    std::vector<uint8_t> ok(258, 9);
    for (unsigned s = 0; s < 254; ++s) ok[s] = 8;  // 254/256 + 4/512 = 1
    cases.push_back({"distances over-subscribed", DynamicWith(ok, {1, 1, 1})});
    cases.push_back({"distances incomplete", DynamicWith(ok, {2, 2, 2})});
    cases.push_back({"distances empty with length codes", DynamicWith(ok, {0})});
  }
  {
    TBitWriter w;
    w.FixedHeader(true);
    w.FixedLitLen(286);
    w.Bits(0, 32);
    cases.push_back({"literal/length code 286", w.Finish()});
  }
  {
    TBitWriter w;
    w.FixedHeader(true);
    w.FixedLitLen(65);
    w.FixedLitLen(257);
    w.FixedDist(31);
    w.Bits(0, 32);
    cases.push_back({"distance code 31 in Deflate", w.Finish()});
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeBuilt(c.stream, false).last, Z_DATA_ERROR);
    const TRun sliced = RunOurs(c.stream, 1000, {1, 1, 2}, -15, false);
    EXPECT_EQ(sliced.last, Z_DATA_ERROR);
  }
  // The same codes are wrong in Deflate64 too, except the ones Deflate64 defines.
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string name = cases[i].name;
    const bool deflate64Only = name.find("in Deflate") != std::string::npos;
    SCOPED_TRACE(name);
    if (!deflate64Only) {
      EXPECT_EQ(DecodeBuilt(cases[i].stream, true).last, Z_DATA_ERROR);
    }
  }
}

TEST(InflateFailure, DistanceBeyondTheWindowIsADataError) {
  TBitWriter w;
  w.FixedHeader(true);
  for (int i = 0; i < 1200; ++i) w.FixedLitLen('a' + i % 26);
  w.FixedLitLen(257);
  w.FixedDist(19);  // 769 + 9 extra bits
  w.Bits(0, 9);
  w.FixedLitLen(256);
  const Bytes stream = w.Finish();
  EXPECT_EQ(DecodeBuilt(stream, false, 5000, -15).last, Z_STREAM_END);
  EXPECT_EQ(DecodeBuilt(stream, false, 5000, -9).last, Z_DATA_ERROR);  // a 512-byte window
  EXPECT_EQ(RunOurs(stream, 5000, {3, 5, 1}, -9, false).last, Z_DATA_ERROR);
}

TEST(InflateFailure, WrapperHeaderErrors) {
  const Bytes good = ZlibDeflate(TextBytes(1000, 61), 6, 15);
  auto run = [](Bytes s, int windowBits = 15, bool d64 = false) {
    return RunOurs(s, 5000, {0, 0, 1}, windowBits, d64).last;
  };
  EXPECT_EQ(run(good), Z_STREAM_END);
  Bytes method = good;
  method[0] = 0x77;  // method 7
  EXPECT_EQ(run(method), Z_DATA_ERROR);
  Bytes sum = good;
  sum[1] ^= 1;
  EXPECT_EQ(run(sum), Z_DATA_ERROR);
  // A 32 KiB window announced to a stream that has only 4 KiB.
  EXPECT_EQ(run(good, 12), Z_DATA_ERROR);
  const Bytes small = ZlibDeflate(TextBytes(1000, 61), 6, 12);
  EXPECT_EQ(run(small, 12), Z_STREAM_END);
  EXPECT_EQ(run(good, 15, true), Z_STREAM_END);  // Deflate64's wider window accepts it
}

TEST(InflateFailure, DictionaryIsAskedForThenRefused) {
  Bytes stream = {0x78, 0x00, 0x12, 0x34, 0x56, 0x78, 0x03, 0x00};
  stream[1] = 0x20;
  while ((0x78 * 256 + stream[1]) % 31 != 0) ++stream[1];
  TOurs ours(15);
  Bytes out(100);
  size_t ui, uo;
  EXPECT_EQ(ours.Step(stream.data(), stream.size(), out.data(), out.size(), ui, uo).ret,
            Z_NEED_DICT);
  EXPECT_EQ(ours.strm.adler, 0x12345678u);
  EXPECT_EQ(ours.strm.total_in, 6u);
  EXPECT_EQ(ours.Step(stream.data() + 6, 2, out.data(), out.size(), ui, uo).ret, Z_STREAM_ERROR);
  EXPECT_EQ(ours.Step(stream.data() + 6, 2, out.data(), out.size(), ui, uo).ret, Z_DATA_ERROR);
}

TEST(InflateFailure, ABadStreamStaysBad) {
  TBitWriter w;
  w.FixedHeader(false);
  w.FixedLitLen('z');
  w.FixedLitLen(287);
  const Bytes bad = w.Finish();
  const Bytes good = ZlibDeflate(TextBytes(5000, 71), 6, -15);
  TOurs ours(-15);
  Bytes out(10000);
  size_t ui, uo;
  const TCall first = ours.Step(bad.data(), bad.size(), out.data(), out.size(), ui, uo);
  EXPECT_EQ(first.ret, Z_DATA_ERROR);
  EXPECT_EQ(first.totalOut, 1u);
  for (int i = 0; i < 3; ++i) {
    const TCall again = ours.Step(good.data(), good.size(), out.data(), out.size(), ui, uo);
    EXPECT_EQ(again.ret, Z_DATA_ERROR);
    EXPECT_EQ(ui, 0u);
    EXPECT_EQ(uo, 0u);
  }
  // A reset starts afresh.
  EXPECT_EQ(InflateReset(ours.strm), Z_OK);
  EXPECT_EQ(ours.strm.total_in, 0u);
  EXPECT_EQ(ours.Step(good.data(), good.size(), out.data(), out.size(), ui, uo).ret, Z_STREAM_END);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(uo)), TextBytes(5000, 71));
}

// ---- the interface ------------------------------------------------------------------------------

TEST(InflateInterface, InitChecksRecordSizeWindowBitsAndMemory) {
  TInflateStream s{};
  EXPECT_EQ(InflateInit(s, -15, kInflateStreamSize + 1, false), Z_VERSION_ERROR);
  EXPECT_EQ(s.state, nullptr);
  struct TWant {
    int bits;
    bool d64;
    int ret;
  };
  for (TWant want :
       {TWant{-15, false, Z_OK}, TWant{-8, false, Z_OK}, TWant{-7, false, Z_STREAM_ERROR},
        TWant{-16, false, Z_STREAM_ERROR}, TWant{-15, true, Z_OK}, TWant{-16, true, Z_STREAM_ERROR},
        TWant{-7, true, Z_OK}, TWant{-6, true, Z_STREAM_ERROR}, TWant{15, false, Z_OK},
        TWant{16, false, Z_STREAM_ERROR}, TWant{0, false, Z_STREAM_ERROR}, TWant{8, false, Z_OK}}) {
    TInflateStream t{};
    EXPECT_EQ(InflateInit(t, want.bits, kInflateStreamSize, want.d64), want.ret)
        << want.bits << " " << want.d64;
    EXPECT_NE(t.zalloc, nullptr);  // default memory functions filled in
    EXPECT_NE(t.zfree, nullptr);
    if (want.ret == Z_OK) {
      EXPECT_EQ(InflateEnd(t), Z_OK);
    }
  }
  // Allocation failures at the first and the second request: -4 and nothing leaked.
  struct TAllocator {
    int failAt;
    int calls = 0;
    int live = 0;
  };
  for (int failAt : {1, 2}) {
    TAllocator a{failAt};
    TInflateStream t{};
    t.opaque = &a;
    t.zalloc = [](void* o, unsigned items, unsigned size) -> void* {
      auto* al = static_cast<TAllocator*>(o);
      if (++al->calls == al->failAt) return nullptr;
      ++al->live;
      return std::malloc(size_t{items} * size);  // not zeroed: the engine must not rely on it
    };
    t.zfree = [](void* o, void* p) {
      --static_cast<TAllocator*>(o)->live;
      std::free(p);
    };
    EXPECT_EQ(InflateInit(t, -15, kInflateStreamSize, false), Z_MEM_ERROR);
    EXPECT_EQ(a.live, 0);
    EXPECT_EQ(t.state, nullptr);
  }
  // With working caller functions, uninitialised memory still decodes correctly.
  {
    TInflateStream t{};
    t.zalloc = [](void*, unsigned items, unsigned size) -> void* {
      void* p = std::malloc(size_t{items} * size);
      std::memset(p, 0xA5, size_t{items} * size);
      return p;
    };
    t.zfree = [](void*, void* p) { std::free(p); };
    ASSERT_EQ(InflateInit(t, -15, kInflateStreamSize, false), Z_OK);
    TBitWriter w;
    w.FixedHeader(true);
    w.FixedLitLen(257);
    w.FixedDist(0);
    w.FixedLitLen(256);
    const Bytes stream = w.Finish();
    Bytes out(10);
    t.next_in = stream.data();
    t.avail_in = static_cast<uint32_t>(stream.size());
    t.next_out = out.data();
    t.avail_out = 10;
    EXPECT_EQ(Inflate(t, Z_NO_FLUSH), Z_STREAM_END);
    EXPECT_EQ(t.total_out, 3u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), Bytes(3, 0));
    EXPECT_EQ(InflateEnd(t), Z_OK);
  }
}

TEST(InflateInterface, StreamErrorsWithoutStateOrInput) {
  TInflateStream none{};
  uint8_t byte = 0;
  none.next_in = &byte;
  EXPECT_EQ(Inflate(none, Z_NO_FLUSH), Z_STREAM_ERROR);
  EXPECT_EQ(InflateReset(none), Z_STREAM_ERROR);
  EXPECT_EQ(InflateEnd(none), Z_STREAM_ERROR);
  TOurs ours(-15);
  ours.strm.next_in = nullptr;
  ours.strm.next_out = &byte;
  ours.strm.avail_out = 1;
  EXPECT_EQ(Inflate(ours.strm, Z_NO_FLUSH), Z_STREAM_ERROR);
  ours.strm.next_in = &byte;
  ours.strm.next_out = nullptr;
  EXPECT_EQ(Inflate(ours.strm, Z_NO_FLUSH), Z_STREAM_ERROR);  // room promised but no area
  TFreeFunc keep = ours.strm.zfree;
  ours.strm.zfree = nullptr;
  EXPECT_EQ(InflateEnd(ours.strm), Z_STREAM_ERROR);
  ours.strm.zfree = keep;
}

TEST(InflateInterface, FlushOnlyChangesTheCodeOfAnUnfinishedCall) {
  const Bytes data = TextBytes(20000, 81);
  const Bytes stream = ZlibDeflate(data, 6, -15);
  TOurs ours(-15);
  Bytes out(data.size());
  size_t ui, uo;
  // Progress without the end: 0 normally, -5 when the caller said it was finishing.
  EXPECT_EQ(ours.Step(stream.data(), 10, out.data(), out.size(), ui, uo, Z_NO_FLUSH).ret, Z_OK);
  EXPECT_EQ(ours.Step(stream.data() + 10, 10, out.data() + ours.strm.total_out,
                      out.size() - ours.strm.total_out, ui, uo, Z_FINISH)
                .ret,
            Z_BUF_ERROR);
  EXPECT_EQ(ui, 10u);
  // No progress: -5 whatever the flush value.
  for (int flush : {Z_NO_FLUSH, Z_SYNC_FLUSH, Z_FINISH})
    EXPECT_EQ(ours.Step(stream.data() + 20, 0, out.data() + ours.strm.total_out,
                        out.size() - ours.strm.total_out, ui, uo, flush)
                  .ret,
              Z_BUF_ERROR);
  EXPECT_EQ(ours.Step(stream.data() + 20, stream.size() - 20, out.data() + ours.strm.total_out,
                      out.size() - ours.strm.total_out, ui, uo, Z_FINISH)
                .ret,
            Z_STREAM_END);
  EXPECT_EQ(out, data);
  // Once finished, it stays finished.
  EXPECT_EQ(ours.Step(stream.data(), 0, out.data(), 0, ui, uo).ret, Z_STREAM_END);
}

TEST(InflateInterface, ResetKeepsTheWindowAndStartsAfresh) {
  const Bytes data = BinaryBytes(120000, 91);
  const Bytes raw = ZlibDeflate(data, 9, -15);
  TOurs ours(-15);
  for (int round = 0; round < 3; ++round) {
    Bytes out(data.size());
    size_t ui, uo;
    const TCall call = ours.Step(raw.data(), raw.size(), out.data(), out.size(), ui, uo);
    EXPECT_EQ(call.ret, Z_STREAM_END);
    EXPECT_EQ(call.totalIn, raw.size());
    EXPECT_EQ(call.totalOut, data.size());
    EXPECT_EQ(out, data);
    EXPECT_EQ(InflateReset(ours.strm), Z_OK);
    EXPECT_EQ(ours.strm.total_in, 0u);
    EXPECT_EQ(ours.strm.total_out, 0u);
  }
  // Wrapped: the running Adler-32 is reported.
  const Bytes wrapped = ZlibDeflate(data, 9, 15);
  TOurs zw(15);
  Bytes out(data.size());
  size_t ui, uo;
  EXPECT_EQ(zw.Step(wrapped.data(), wrapped.size(), out.data(), out.size(), ui, uo).ret,
            Z_STREAM_END);
  EXPECT_EQ(zw.strm.adler, adler32(1, data.data(), static_cast<uInt>(data.size())));
}

}  // namespace
