// Decoding one deflate stream in pieces: block starts found in the middle of zlib-made streams,
// whole blocks decoded from them without the output before them, resolved with it afterwards and
// compared with the stream's bytes; the engine stopping at block ends and going on at a block
// start decoded elsewhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive/codecs/arvInflate.h"
#include "archive/common/arvStreams.h"
#include "support/ZlibDeflate.h"

#include <zlib.h>

namespace {

using Bytes = std::vector<uint8_t>;

// Words, numbers and now and then a passage repeated from up to 30000 bytes back: many dynamic
// blocks whose matches reach across block starts (so runs decoded ahead hold many marks).
Bytes WordText(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> words(1500);
  for (std::string& w : words)
    for (size_t n = 2 + rng() % 8; n > 0; --n) w += static_cast<char>('a' + rng() % 26);
  Bytes out;
  out.reserve(size + 400);
  while (out.size() < size) {
    const unsigned r = rng() % 100;
    if (r < 3 && out.size() > 40000) {
      const size_t from = out.size() - 1000 - rng() % 29000;
      const size_t n = 20 + rng() % 280;
      for (size_t i = 0; i < n; ++i) out.push_back(out[from + i]);
    } else if (r < 10) {
      const std::string number = std::to_string(rng() % 100000);
      out.insert(out.end(), number.begin(), number.end());
    } else {
      const std::string& w = words[std::min<size_t>(rng() % words.size(), rng() % words.size())];
      out.insert(out.end(), w.begin(), w.end());
    }
    out.push_back(rng() % 12 == 0 ? '\n' : ' ');
  }
  out.resize(size);
  return out;
}

// A stream decoded from end to end, stopping at every block end: the block starts (bit position,
// output before it) and the bytes.
struct TFacts {
  std::map<uint64_t, size_t> starts;
  Bytes plain;
};

TFacts Decode(const Bytes& packed) {
  TFacts facts;
  TInflateStream s;
  EXPECT_EQ(InflateInit(s, kRawDeflateWindowBits, kInflateStreamSize), kInflateOk);
  Bytes out(1 << 16);
  size_t fed = 0;
  int code = kInflateOk;
  while (code == kInflateOk) {
    if (s.avail_in == 0 && fed < packed.size()) {  // slices, so stops fall anywhere in them
      s.next_in = packed.data() + fed;
      s.avail_in = static_cast<uint32_t>(std::min<size_t>(4099, packed.size() - fed));
      fed += s.avail_in;
    }
    s.next_out = out.data();
    s.avail_out = static_cast<uint32_t>(out.size());
    code = Inflate(s, kInflateBlock);
    facts.plain.insert(facts.plain.end(), out.data(), s.next_out);
    if (InflateAtBlockStart(s)) facts.starts[InflateBitPosition(s)] = s.total_out;
  }
  EXPECT_EQ(code, kInflateStreamEnd);
  InflateEnd(s);
  return facts;
}

// The 32 KiB of output before `at` (zeros before the first byte).
Bytes HistoryBefore(const Bytes& plain, size_t at) {
  Bytes h(kInflateAheadHistory, 0);
  const size_t n = std::min(at, kInflateAheadHistory);
  std::copy(plain.begin() + static_cast<long>(at - n), plain.begin() + static_cast<long>(at),
            h.end() - static_cast<long>(n));
  return h;
}

class TAheadEngine {
 public:
  TAheadEngine() {
    EXPECT_EQ(InflateInit(FEngine, kRawDeflateWindowBits, kInflateStreamSize), kInflateOk);
  }
  ~TAheadEngine() { InflateEnd(FEngine); }
  TInflateStream& operator*() { return FEngine; }

 private:
  TInflateStream FEngine;
};

// The stream padded as the functions ask.
Bytes Padded(Bytes packed) {
  packed.resize(packed.size() + kInflateAheadSlack, 0);
  return packed;
}

// Finds block starts from a number of points in the stream and decodes runs from them: each
// start found is a block start of the stream, each run resolves to the stream's bytes and ends at
// a block start (or the stream's end).
void CheckRunsFromEverywhere(const Bytes& packed, size_t maxSymbols, int points) {
  const TFacts facts = Decode(packed);
  ASSERT_GT(facts.starts.size(), 8u);
  const Bytes data = Padded(packed);
  TAheadEngine engine;
  TInflateAhead run;
  int decoded = 0;
  for (int p = 1; p <= points; ++p) {
    const uint64_t from = packed.size() * 8 * p / (points + 1);
    const uint64_t start =
        InflateFindBlockStart(*engine, data.data(), packed.size(), from, packed.size() * 8);
    if (start == kInflateNoBlockStart) continue;
    SCOPED_TRACE(start);
    ASSERT_TRUE(facts.starts.count(start)) << "not a block start";
    ASSERT_TRUE(InflateDecodeAhead(*engine, data.data(), packed.size(), start, start + 200000 * 8,
                                   maxSymbols, run));
    EXPECT_EQ(run.StartBit, start);
    EXPECT_LE(run.Count, maxSymbols);
    const size_t at = facts.starts.at(start);
    Bytes resolved(run.Count);
    const Bytes history = HistoryBefore(facts.plain, at);
    InflateResolveAhead(run.Symbols(), run.Count, history.data(), resolved.data());
    ASSERT_TRUE(
        std::equal(resolved.begin(), resolved.end(), facts.plain.begin() + static_cast<long>(at)));
    if (run.Final) {
      EXPECT_EQ(at + run.Count, facts.plain.size());
    } else {
      ASSERT_TRUE(facts.starts.count(run.EndBit));
      EXPECT_EQ(facts.starts.at(run.EndBit), at + run.Count);
      // It stops at the target, or where the next block would not fit, or where that block
      // reaches the data's last bytes (the stream's end is the calling thread's).
      const auto next = facts.starts.upper_bound(run.EndBit);
      const size_t nextOut = next == facts.starts.end() ? facts.plain.size() : next->second;
      const uint64_t nextBit = next == facts.starts.end() ? packed.size() * 8 : next->first;
      EXPECT_TRUE(run.EndBit >= start + 200000 * 8 || nextOut - at > maxSymbols ||
                  nextBit / 8 + 40 > packed.size());
    }
    ++decoded;
  }
  EXPECT_GE(decoded, points / 2);
}

TEST(InflateAhead, RunsFromBlockStartsFoundAnywhereResolveToTheStreamsBytes) {
  const Bytes text = WordText(3 << 20, 7);
  for (const int level : {1, 6, 9}) {
    for (const int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE}) {
      SCOPED_TRACE(std::to_string(level) + " " + std::to_string(strategy));
      CheckRunsFromEverywhere(testsupport::ZlibDeflate(text, level, -15, strategy), 1 << 20, 9);
    }
  }
  // Bytes with little to match: long literal runs, short blocks of binary.
  Bytes mixed = WordText(1 << 20, 8);
  std::mt19937 rng(9);
  for (size_t i = 0; i < mixed.size(); i += 3) mixed[i] = static_cast<uint8_t>(rng());
  CheckRunsFromEverywhere(testsupport::ZlibDeflate(mixed), 1 << 20, 6);
}

TEST(InflateAhead, ARunTakesStoredAndFixedBlocksAndStopsAtTheLastBlockThatFits) {
  // Dynamic, then stored, fixed and dynamic again, over and over: the parameters change between
  // the pieces, so each piece ends in a block of its own kind.
  const Bytes text = WordText(2 << 20, 11);
  z_stream z{};
  ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes packed(deflateBound(&z, text.size()) + 4096);
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  const size_t piece = 40000;
  for (size_t at = 0, k = 0; at < text.size(); at += piece, ++k) {
    const int modes[4][2] = {
        {6, Z_DEFAULT_STRATEGY}, {0, Z_DEFAULT_STRATEGY}, {6, Z_FIXED}, {9, Z_DEFAULT_STRATEGY}};
    ASSERT_EQ(deflateParams(&z, modes[k % 4][0], modes[k % 4][1]), Z_OK);
    z.next_in = const_cast<Bytef*>(text.data() + at);
    z.avail_in = static_cast<uInt>(std::min(piece, text.size() - at));
    const bool last = at + piece >= text.size();
    ASSERT_NE(deflate(&z, last ? Z_FINISH : Z_NO_FLUSH), Z_STREAM_ERROR);
    ASSERT_EQ(z.avail_in, 0u);
  }
  packed.resize(z.total_out);
  deflateEnd(&z);
  CheckRunsFromEverywhere(packed, 1 << 20, 12);
  // Room for less than one block: nothing; for a few: the whole blocks that fit.
  CheckRunsFromEverywhere(testsupport::ZlibDeflate(text), 150000, 8);
  const Bytes data = Padded(packed);
  TAheadEngine engine;
  TInflateAhead run;
  const uint64_t start =
      InflateFindBlockStart(*engine, data.data(), packed.size(), 0, packed.size() * 8);
  ASSERT_NE(start, kInflateNoBlockStart);
  EXPECT_FALSE(
      InflateDecodeAhead(*engine, data.data(), packed.size(), start, UINT64_MAX, 100, run));
}

TEST(InflateAhead, DataThatIsNoDeflateStreamFindsLittleAndNothingGoesWrong) {
  std::mt19937 rng(5);
  Bytes noise(1 << 20);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
  const Bytes data = Padded(noise);
  TAheadEngine engine;
  TInflateAhead run;
  int found = 0;
  for (uint64_t from = 0; from < noise.size() * 8;) {
    const uint64_t start =
        InflateFindBlockStart(*engine, data.data(), noise.size(), from, noise.size() * 8);
    if (start == kInflateNoBlockStart) break;
    ++found;
    InflateDecodeAhead(*engine, data.data(), noise.size(), start, start + 100000, 1 << 16, run);
    EXPECT_LE(run.Count, size_t{1} << 16);
    from = start + 1;
  }
  EXPECT_LT(found, 64);  // a header that reads without fault is rare in noise

  // An engine for another kind of data does not decode ahead.
  TInflateStream wrapped, deflate64;
  ASSERT_EQ(InflateInit(wrapped, 15, kInflateStreamSize), kInflateOk);
  ASSERT_EQ(InflateInit(deflate64, kRawDeflateWindowBits, kInflateStreamSize, true), kInflateOk);
  const Bytes packed = Padded(testsupport::ZlibDeflate(WordText(300000, 3)));
  for (TInflateStream* s : {&wrapped, &deflate64}) {
    EXPECT_EQ(
        InflateFindBlockStart(*s, packed.data(), packed.size() - kInflateAheadSlack, 0, UINT64_MAX),
        kInflateNoBlockStart);
    EXPECT_FALSE(InflateDecodeAhead(*s, packed.data(), packed.size() - kInflateAheadSlack, 3,
                                    UINT64_MAX, 1 << 20, run));
  }
  EXPECT_EQ(InflateContinueAt(wrapped, packed.data(), kInflateAheadHistory, 0),
            kInflateStreamError);
  InflateEnd(wrapped);
  InflateEnd(deflate64);
}

TEST(InflateAhead, TheDriverStopsAtABlockStartAndGoesOnAtOneDecodedElsewhere) {
  const Bytes text = WordText(2 << 20, 13);
  const Bytes packed = testsupport::ZlibDeflate(text);
  const TFacts facts = Decode(packed);
  ASSERT_EQ(facts.plain, text);
  std::vector<std::pair<uint64_t, size_t>> starts(facts.starts.begin(), facts.starts.end());
  ASSERT_GT(starts.size(), 15u);
  // From several stops to several later starts, the second one right behind the stop.
  for (const auto& [stopAt, goOnAt] :
       {std::pair<size_t, size_t>{3, 4}, {5, 11}, {10, 15}, {0, 1}}) {
    SCOPED_TRACE(std::to_string(stopAt) + " " + std::to_string(goOnAt));
    Bytes input(1000);
    TInflateDriver driver(input.data(), static_cast<int32_t>(input.size()));
    ASSERT_EQ(driver.Start(kRawDeflateWindowBits, false), kInflateOk);
    size_t read = 0;
    int skips = 0;
    const TInflateSource source = [&](uint8_t* into, int32_t room) {
      const size_t n = std::min<size_t>(static_cast<size_t>(room), packed.size() - read);
      std::memcpy(into, packed.data() + read, n);
      read += n;
      return static_cast<int32_t>(n);
    };
    const TInflateSkip skip = [&](uint64_t bytes) {
      if (bytes > packed.size() - read || ++skips % 2 == 0) return false;  // now and then: read
      read += bytes;
      return true;
    };
    Bytes out(text.size() + 64);
    size_t made = 0;
    TInflateStep step = TInflateStep::Full;
    while (step == TInflateStep::Full) {
      step = driver.RunTo(out.data() + made, 70000, source, starts[stopAt].first);
      made += driver.Produced();
    }
    ASSERT_EQ(step, TInflateStep::Block);
    EXPECT_EQ(driver.BitPosition(), starts[stopAt].first);
    EXPECT_EQ(made, starts[stopAt].second);
    // At the stop already: a second call stops at once.
    EXPECT_EQ(driver.RunTo(out.data() + made, 70000, source, starts[stopAt].first),
              TInflateStep::Block);
    EXPECT_EQ(driver.Produced(), 0u);
    const Bytes history = HistoryBefore(text, starts[goOnAt].second);
    ASSERT_TRUE(driver.SkipTo(starts[goOnAt].first, history.data(), source, skip));
    EXPECT_EQ(driver.BitPosition(), starts[goOnAt].first);
    made = starts[goOnAt].second;
    while (step != TInflateStep::End) {
      step = driver.Run(out.data() + made, 70000, source);
      made += driver.Produced();
      ASSERT_TRUE(step == TInflateStep::Full || step == TInflateStep::End);
    }
    EXPECT_EQ(made, text.size());
    EXPECT_TRUE(std::equal(text.begin() + static_cast<long>(starts[goOnAt].second), text.end(),
                           out.begin() + static_cast<long>(starts[goOnAt].second)));
  }
}

}  // namespace
