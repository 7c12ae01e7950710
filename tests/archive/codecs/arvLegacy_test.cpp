// Tests of the legacy zip decoders: the real shrunk, reduced and imploded archives of other tools,
// round trips through the test encoders, the format's corner cases built bit by bit, encrypted
// members, corrupt and truncated input, cancellation and the output bound.
#include "archive/codecs/arvLegacy.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include <unistd.h>

#include "archive/codecs/arvCrypt.h"
#include "archive/messages/Err_Msgs.h"
#include "support/LegacyEncoders.h"
#include "support/MiniZip.h"

namespace {

using legacytest::Bytes;
using legacytest::LsbBitWriter;

struct DecodeOptions {
  size_t readChunk = kLegacyInputBlock;  // ReadBlock hands out at most this many bytes a call
  TZipCipher* cipher = nullptr;
  uint8_t* cancel = nullptr;
  uint64_t cancelAfter = 0;  // set *cancel once this much output was written (0: never)
};

struct DecodeResult {
  Bytes out;
  bool done = false;
  int errorCode = 0;
  bool raised = false;
  std::vector<int> reported;
  uint64_t inputRead = 0;
  size_t largestRead = 0;
  size_t largestWrite = 0;
};

DecodeResult Decode(const Bytes& data, uint32_t method, uint16_t flags, uint64_t size,
                    const DecodeOptions& options = {}) {
  DecodeResult r;
  size_t at = 0;
  TLegacyContext context;
  context.ReadBlock = [&](uint8_t* buffer, size_t count) {
    r.largestRead = std::max(r.largestRead, count);
    const size_t n = std::min({count, options.readChunk, data.size() - at});
    std::copy_n(data.begin() + static_cast<long>(at), n, buffer);
    at += n;
    r.inputRead += n;
    return n;
  };
  context.WriteBlock = [&](const uint8_t* bytes, size_t count) {
    r.largestWrite = std::max(r.largestWrite, count);
    r.out.insert(r.out.end(), bytes, bytes + count);
    if (options.cancel && options.cancelAfter && r.out.size() >= options.cancelAfter)
      *options.cancel = 1;
  };
  context.ReportError = [&](int code) { r.reported.push_back(code); };
  context.Cipher = options.cipher;
  context.Cancel = options.cancel;
  TLegacyMember member{method, flags, data.size(), size};
  TLegacyDecoder decoder(member, context);
  try {
    r.done = decoder.Run();
  } catch (const E_RAISE&) {
    r.raised = true;
  }
  r.errorCode = decoder.ErrorCode();
  EXPECT_EQ(decoder.OutputCount(), r.out.size()) << "everything decoded was flushed";
  EXPECT_LE(r.out.size(), size) << "output stops at the uncompressed size";
  EXPECT_LE(r.inputRead, data.size());
  EXPECT_LE(r.largestRead, kLegacyInputBlock);
  EXPECT_LE(r.largestWrite, kLegacyOutputBlock);
  return r;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// ---- real archives of other tools ---------------------------------------------------------------
std::filesystem::path TestDataDir() {
  return std::filesystem::path(PARCELO_TESTDATA_DIR) / "zip";
}

std::map<std::string, std::string> ExpectedHashes(const std::string& archive) {
  std::map<std::string, std::string> hashes;
  std::ifstream in(std::filesystem::path(PARCELO_TESTDATA_DIR) / "expected" /
                   (archive + ".sha256"));
  std::string hash, name;
  while (in >> hash >> name) hashes[name] = hash;
  return hashes;
}

class RealArchive : public ::testing::TestWithParam<const char*> {};

TEST_P(RealArchive, EveryLegacyMemberMatchesSizeCrcAndSha256) {
  const auto path = TestDataDir() / GetParam();
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "conformance archives not present";
  const auto archive = minizip::ReadFile(path.string());
  ASSERT_TRUE(archive);
  const auto entries = minizip::ReadCentralDirectory(*archive);
  ASSERT_TRUE(entries);
  const auto hashes = ExpectedHashes(GetParam());
  int decoded = 0;
  for (const auto& e : *entries) {
    if (!IsLegacyMethod(e.method)) continue;
    SCOPED_TRACE(e.name);
    const Bytes data(archive->begin() + static_cast<long>(e.dataOffset),
                     archive->begin() + static_cast<long>(e.dataOffset + e.compressedSize));
    for (size_t chunk : {size_t{1}, size_t{7}, kLegacyInputBlock}) {
      DecodeOptions options;
      options.readChunk = chunk;
      const auto r = Decode(data, e.method, e.flags, e.uncompressedSize, options);
      EXPECT_TRUE(r.done);
      EXPECT_FALSE(r.raised);
      EXPECT_EQ(r.out.size(), e.uncompressedSize);
      EXPECT_EQ(minizip::Crc32(r.out), e.crc);
      ASSERT_TRUE(hashes.count(e.name));
      EXPECT_EQ(minizip::Sha256Hex(r.out), hashes.at(e.name));
    }
    ++decoded;
  }
  EXPECT_GT(decoded, 0);
}

INSTANTIATE_TEST_SUITE_P(Samples, RealArchive,
                         ::testing::Values("cc_SHRUNK.ZIP", "sc_Zip.reduce1.zip",
                                           "sc_Zip.reduce2.zip", "sc_Zip.reduce3.zip",
                                           "sc_Zip.reduce4.zip", "cc_imploding-4Kdict-2trees.zip",
                                           "cc_imploding-8Kdict-3trees.zip"));

// ---- round trips --------------------------------------------------------------------------------
struct Variant {
  std::string name;
  uint32_t method;
  uint16_t flags;
  std::function<Bytes(const Bytes&)> encode;
};

std::vector<Variant> AllVariants() {
  using namespace legacytest;
  std::vector<Variant> v;
  v.push_back({"shrink", kMethodShrunk, 0, [](const Bytes& d) { return Shrink(d); }});
  v.push_back(
      {"shrink-clear-every-40", kMethodShrunk, 0, [](const Bytes& d) { return Shrink(d, {40}); }});
  v.push_back({"shrink-clear-every-900", kMethodShrunk, 0,
               [](const Bytes& d) { return Shrink(d, {900}); }});
  for (int factor = 1; factor <= 4; ++factor) {
    for (auto mode : {FollowerMode::Best, FollowerMode::None, FollowerMode::Full}) {
      const char* modeName = mode == FollowerMode::Best   ? "best"
                             : mode == FollowerMode::None ? "none"
                                                          : "full";
      v.push_back({"reduce" + std::to_string(factor) + "-" + modeName,
                   static_cast<uint32_t>(kMethodReduced1 + factor - 1), 0,
                   [factor, mode](const Bytes& d) { return Reduce(d, factor, mode); }});
    }
  }
  for (bool big : {false, true})
    for (bool three : {false, true})
      v.push_back({std::string("implode-") + (big ? "8k" : "4k") + (three ? "-3trees" : "-2trees"),
                   kMethodImploded, ImplodeFlags(big, three),
                   [big, three](const Bytes& d) { return Implode(d, big, three); }});
  return v;
}

std::vector<std::pair<std::string, Bytes>> RoundTripData() {
  using namespace legacytest;
  std::vector<std::pair<std::string, Bytes>> d;
  d.push_back({"one-byte", Bytes{'x'}});
  d.push_back({"short-text", Text("TOBEORNOTTOBEORTOBEORNOT#")});
  d.push_back({"text", TextData(70000, 1)});
  d.push_back({"binary", BinaryData(50000, 2)});
  d.push_back({"random", RandomData(40000, 3)});
  d.push_back({"all-one-byte", Bytes(100000, 'a')});  // unshrink strings of thousands of bytes
  d.push_back({"dle-runs", Bytes(20000, 0x90)});
  Bytes dleMix;
  for (int i = 0; i < 30000; ++i)
    dleMix.push_back(i % 7 == 0 ? 0x90 : static_cast<uint8_t>(i / 300));
  d.push_back({"dle-mixed", dleMix});
  d.push_back({"mixed", MixedData(300000, 4)});
  return d;
}

TEST(LegacyRoundTrip, EveryMethodAndVariantRestoresEveryKindOfData) {
  const auto data = RoundTripData();
  for (const auto& variant : AllVariants()) {
    for (const auto& [dataName, plain] : data) {
      SCOPED_TRACE(variant.name + " / " + dataName);
      const Bytes packed = variant.encode(plain);
      const auto r = Decode(packed, variant.method, variant.flags, plain.size());
      EXPECT_TRUE(r.done);
      EXPECT_EQ(r.errorCode, 0);
      ASSERT_EQ(r.out.size(), plain.size());
      EXPECT_TRUE(r.out == plain);
      EXPECT_EQ(r.inputRead, packed.size());
    }
  }
}

TEST(LegacyRoundTrip, InputInTinyBlocksDecodesTheSame) {
  const auto plain = legacytest::MixedData(120000, 9);
  for (const auto& variant : AllVariants()) {
    SCOPED_TRACE(variant.name);
    const Bytes packed = variant.encode(plain);
    for (size_t chunk : {size_t{1}, size_t{2}, size_t{7}, size_t{4099}}) {
      DecodeOptions options;
      options.readChunk = chunk;
      const auto r = Decode(packed, variant.method, variant.flags, plain.size(), options);
      ASSERT_TRUE(r.out == plain) << "chunk " << chunk;
    }
  }
}

TEST(LegacyRoundTrip, EncodersExerciseWhatTheyClaim) {
  legacytest::ShrinkStats stats;
  const auto plain = legacytest::MixedData(400000, 5);
  legacytest::Shrink(plain, {}, &stats);
  EXPECT_GT(stats.sizeIncreases, 3u);  // 9 -> 13 bits
  EXPECT_GT(stats.partialClears, 0u);  // the table filled up
  EXPECT_GT(stats.kwkwk, 0u);
  const Bytes dle = legacytest::ReduceDle(Bytes(5000, 0x90), 1);
  EXPECT_EQ(dle[0], 0x90);
  EXPECT_EQ(dle[1], 0x00);  // the first DLE is a literal, then matches
}

// ---- encrypted members --------------------------------------------------------------------------
TEST(LegacyEncrypted, EachMethodDecipheresBlockByBlock) {
  const auto plain = legacytest::TextData(100000, 7);  // several input blocks
  for (const auto& variant : AllVariants()) {
    SCOPED_TRACE(variant.name);
    Bytes packed = variant.encode(plain);
    // The encryption header is consumed by the password test; the data follows with the keys
    // as the header left them.
    TZipCipher encipher;
    encipher.InitKeys("secret");
    Bytes header(12, 0x5A);
    encipher.EncipherBuffer(header.data(), header.size());
    encipher.EncipherBuffer(packed.data(), packed.size());

    TZipCipher decipher;
    decipher.InitKeys("secret");
    decipher.DecipherBuffer(header.data(), header.size());
    DecodeOptions options;
    options.cipher = &decipher;
    options.readChunk = 5000;
    const auto r = Decode(packed, variant.method, variant.flags | 1, plain.size(), options);
    EXPECT_TRUE(r.out == plain);
  }
}

// ---- unshrink corner cases ----------------------------------------------------------------------
Bytes Codes(std::initializer_list<std::pair<int, unsigned>> codes) {
  LsbBitWriter w;
  for (auto [code, bits] : codes) w.Put(static_cast<uint32_t>(code), bits);
  return w.Finish();
}

TEST(Unshrink, CodeAboutToBeDefinedIsPreviousStringPlusItsFirstCharacter) {
  // 'a', then 257 before it exists: "a" + "a", and 257 becomes "aa". Then 258 before it exists:
  // "aa" + "a".
  const auto r = Decode(Codes({{'a', 9}, {257, 9}, {258, 9}}), kMethodShrunk, 0, 10);
  EXPECT_EQ(r.out, Text("aaaaaa"));
  EXPECT_EQ(r.errorCode, 0);
}

TEST(Unshrink, AfterPartialClearTheLowestFreedCodeComesFirst) {
  // a b c define 257 "ab" and 258 "bc"; the clear frees both; d defines 257 = "cd" (the lowest
  // freed code), so 257 reads "cd". Handing out another code first would make 257 undefined.
  const auto r = Decode(Codes({{'a', 9}, {'b', 9}, {'c', 9}, {256, 9}, {2, 9}, {'d', 9}, {257, 9}}),
                        kMethodShrunk, 0, 6);
  EXPECT_EQ(r.out, Text("abcdcd"));
  EXPECT_TRUE(r.done);
}

TEST(Unshrink, PartialClearKeepsParentsAndFreesOnlyLeaves) {
  // a, b (257 "ab"), 257 (258 "ba"), c (259 "abc", a child of 257). The clear frees 258 and 259
  // but keeps 257, whose only child goes in the same clear; 257 still reads "ab".
  const auto r =
      Decode(Codes({{'a', 9}, {'b', 9}, {257, 9}, {'c', 9}, {256, 9}, {2, 9}, {257, 9}, {258, 9}}),
             kMethodShrunk, 0, 64);
  // ... then 257 "ab" defines 258 "ca", which reads back as "ca".
  EXPECT_EQ(r.out, Text("ababcabca"));
}

TEST(Unshrink, CodeSizeIncreaseReadsWiderCodes) {
  const auto r =
      Decode(Codes({{'a', 9}, {256, 9}, {1, 9}, {'b', 10}, {257, 10}}), kMethodShrunk, 0, 5);
  EXPECT_EQ(r.out, Text("abab"));
}

TEST(Unshrink, BadBlockCases) {
  struct Case {
    const char* what;
    Bytes data;
  };
  const Case cases[] = {
      {"empty stream", Bytes{}},
      {"control code 3", Codes({{'a', 9}, {256, 9}, {3, 9}})},
      {"control code cut off", Codes({{'a', 9}, {256, 9}})},
      {"first code not a character", Codes({{300, 9}})},
      {"code size past 13 bits", Codes({{'a', 9},
                                        {256, 9},
                                        {1, 9},
                                        {256, 10},
                                        {1, 10},
                                        {256, 11},
                                        {1, 11},
                                        {256, 12},
                                        {1, 12},
                                        {256, 13},
                                        {1, 13}})},
      // 300 undefined: KwKwK through 'a'; then 301 walks through 300, still undefined.
      {"string hanging from an undefined code", Codes({{'a', 9}, {300, 9}, {301, 9}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto r = Decode(c.data, kMethodShrunk, 0, 1000);
    EXPECT_TRUE(r.raised);
    EXPECT_EQ(r.errorCode, kErrBadBlock);
  }
}

TEST(Unshrink, CyclicStringOverflowsTheStackAfterFlushing) {
  // 'a'; 258 (undefined, KwKwK): "aa", defines 257; 'b' defines 258 with parent 258 itself; then
  // 258 walks its own parent for ever until the 8192-character stack is full.
  const auto r = Decode(Codes({{'a', 9}, {258, 9}, {'b', 9}, {258, 9}}), kMethodShrunk, 0, 100000);
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.errorCode, kErrStackOverflow);
  EXPECT_EQ(r.out, Text("aaab"));  // flushed before the error
}

TEST(Unshrink, LongestStringsOfAFullTableDecode) {
  // One byte repeated: every code extends the previous string, up to 7936 characters.
  const Bytes plain(3'000'000, 'z');
  const auto r = Decode(legacytest::Shrink(plain), kMethodShrunk, 0, plain.size());
  EXPECT_TRUE(r.done);
  EXPECT_TRUE(r.out == plain);
}

// ---- unreduce corner cases ----------------------------------------------------------------------
TEST(Unreduce, DleZeroIsALiteralDleForEveryFactor) {
  for (int factor = 1; factor <= 4; ++factor) {
    for (auto mode : {legacytest::FollowerMode::None, legacytest::FollowerMode::Full}) {
      const Bytes dle = {'x', 0x90, 0x00, 'y', 0x90, 0x00, 0x90, 0x00};
      const auto r = Decode(legacytest::ReduceFollowers(dle, mode),
                            static_cast<uint32_t>(kMethodReduced1 + factor - 1), 0, 5);
      EXPECT_EQ(r.out, (Bytes{'x', 0x90, 'y', 0x90, 0x90})) << "factor " << factor;
    }
  }
}

TEST(Unreduce, FactorOneCopiesLengthWithExtraByteFromDistance) {
  // DLE, V = 0x7F (length field full: 127 + 5 + 3 = 135 bytes), then 0x20: distance 0x20 + 1.
  Bytes dle, expected;
  for (int i = 0; i < 40; ++i) {
    dle.push_back(static_cast<uint8_t>('A' + i % 26));
    expected.push_back(dle.back());
  }
  for (uint8_t b : {0x90, 0x7F, 0x05, 0x20}) dle.push_back(b);
  for (int i = 0; i < 135; ++i) expected.push_back(expected[expected.size() - 33]);
  for (auto mode : {legacytest::FollowerMode::Best, legacytest::FollowerMode::None}) {
    const auto r =
        Decode(legacytest::ReduceFollowers(dle, mode), kMethodReduced1, 0, expected.size());
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.out.size(), 175u);
  }
}

TEST(Unreduce, BackReferenceBeforeTheStartGivesZeros) {
  // Factor 4: V = 0xF1 -> distance (15 * 256) + 0xFF + 1 = 4096, length 1 + 3.
  const Bytes dle = {'q', 0x90, 0xF1, 0xFF, 'r'};
  const auto r = Decode(legacytest::ReduceFollowers(dle, legacytest::FollowerMode::None),
                        kMethodReduced4, 0, 6);
  EXPECT_EQ(r.out, (Bytes{'q', 0, 0, 0, 0, 'r'}));
}

TEST(Unreduce, StopsAtTheUncompressedSizeAndAtTheEndOfInput) {
  const auto plain = legacytest::TextData(5000, 11);
  const Bytes packed = legacytest::Reduce(plain, 2);
  const auto shorter = Decode(packed, kMethodReduced1 + 1, 0, 1234);
  EXPECT_TRUE(shorter.done);
  EXPECT_TRUE(std::equal(shorter.out.begin(), shorter.out.end(), plain.begin()));
  EXPECT_EQ(shorter.out.size(), 1234u);
  const auto longer = Decode(packed, kMethodReduced1 + 1, 0, 9000);
  EXPECT_FALSE(longer.done);
  EXPECT_FALSE(longer.raised);
  ASSERT_GE(longer.out.size(), plain.size());
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), longer.out.begin()));
  EXPECT_LE(longer.out.size(), plain.size() + 2);  // at most the padding bits' worth more
}

TEST(Unreduce, FollowerSetOfMoreThan32IsABadBlock) {
  LsbBitWriter w;
  w.Put(33, 6);  // the set of character 255
  for (int i = 0; i < 33; ++i) w.Put(static_cast<uint32_t>(i), 8);
  const auto r = Decode(w.Finish(), kMethodReduced1, 0, 10);
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.errorCode, kErrBadBlock);
}

// ---- explode corner cases -----------------------------------------------------------------------
TEST(Explode, LengthCode63WithExtraByteGives320Bytes) {
  // Two trees, 4 KiB: 'x' then a match of 63 + 255 + 2 = 320 from distance 1.
  const std::vector<legacytest::ImplodeToken> tokens = {{0, 0, 'x'}, {320, 1, 0}};
  const auto r = Decode(legacytest::ImplodeTokens(tokens, false, false), kMethodImploded, 0, 321);
  EXPECT_EQ(r.out, Bytes(321, 'x'));
  EXPECT_TRUE(r.done);
  // Three trees allow one more: 63 + 255 + 3.
  const std::vector<legacytest::ImplodeToken> three = {{0, 0, 'y'}, {321, 1, 0}};
  const auto r3 = Decode(legacytest::ImplodeTokens(three, true, true), kMethodImploded,
                         legacytest::ImplodeFlags(true, true), 322);
  EXPECT_EQ(r3.out, Bytes(322, 'y'));
}

TEST(Explode, BackReferenceBeforeTheStartGivesZerosInEveryVariant) {
  for (bool big : {false, true}) {
    for (bool three : {false, true}) {
      const uint16_t window = big ? 8192 : 4096;
      const std::vector<legacytest::ImplodeToken> tokens = {
          {0, 0, 'a'}, {5, window, 0}, {0, 0, 'b'}, {4, 2, 0}};
      const auto r = Decode(legacytest::ImplodeTokens(tokens, big, three), kMethodImploded,
                            legacytest::ImplodeFlags(big, three), 11);
      EXPECT_EQ(r.out, (Bytes{'a', 0, 0, 0, 0, 0, 'b', 0, 'b', 0, 'b'})) << big << three;
    }
  }
}

TEST(Explode, CodeRunningIntoAShorterCodeIsReportedWithoutAnException) {
  // Length tree: symbol 0 one bit long, symbols 1..63 six bits: symbol 0 gets "1", and symbol 1's
  // code 111110 runs into it.
  LsbBitWriter w;
  w.Put(4, 8);
  for (uint8_t b : {0x00, 0xF5, 0xF5, 0xF5, 0xE5}) w.Put(b, 8);
  const auto r = Decode(w.Finish(), kMethodImploded, 0, 100);
  EXPECT_FALSE(r.raised);
  EXPECT_FALSE(r.done);
  EXPECT_EQ(r.reported, std::vector<int>{kErrAmbiguousTree});
  EXPECT_EQ(r.errorCode, kErrAmbiguousTree);
  EXPECT_TRUE(r.out.empty());
}

TEST(Explode, FinalSlotTakenTwiceRaises) {
  LsbBitWriter w;
  w.Put(3, 8);  // 64 one-bit codes
  for (int i = 0; i < 4; ++i) w.Put(0xF0, 8);
  const auto r = Decode(w.Finish(), kMethodImploded, 0, 100);
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.errorCode, kErrAmbiguousTree);
}

TEST(Explode, MoreEntriesThanSymbolsIsReported) {
  LsbBitWriter w;
  w.Put(4, 8);  // 5 bytes of 16 six-bit entries: 80 > 64 lengths
  for (int i = 0; i < 5; ++i) w.Put(0xF5, 8);
  const auto r = Decode(w.Finish(), kMethodImploded, 0, 100);
  EXPECT_FALSE(r.raised);
  EXPECT_EQ(r.reported, std::vector<int>{kErrAmbiguousTree});
}

TEST(Explode, DecodingIntoAnEmptySlotRaises) {
  // Length and distance trees of one one-bit code each ("0"); a length code "1" has no symbol.
  LsbBitWriter w;
  w.Put(0, 8);
  w.Put(0x00, 8);
  w.Put(0, 8);
  w.Put(0x00, 8);
  w.Put(1, 1);  // literal
  w.Put('k', 8);
  w.Put(0, 1);  // match
  w.Put(0, 6);  // low distance bits
  w.Put(0, 1);  // distance symbol 0
  w.Put(1, 1);  // empty length slot
  w.Put(0, 16);
  const auto r = Decode(w.Finish(), kMethodImploded, 0, 100);
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.errorCode, kErrAmbiguousTree);
  EXPECT_EQ(r.out, Text("k"));  // flushed on the way out
}

TEST(Explode, SparseButPrefixFreeCodesOfSixteenBitsDecode) {
  // 64 distance codes all 16 bits long: a valid prefix-free (if wasteful) code that needs more
  // inner nodes than a full tree of 64 leaves.
  LsbBitWriter t;
  t.Put(3, 8);  // length tree: 64 six-bit codes (complete)
  for (int i = 0; i < 4; ++i) t.Put(0xF5, 8);
  t.Put(3, 8);  // distance tree: 64 sixteen-bit codes
  for (int i = 0; i < 4; ++i) t.Put(0xFF, 8);
  // Codes from the last entry: symbol 63 = 0, symbol 62 = 1, ..., symbol 0 = 63.
  t.Put(1, 1);
  t.Put('m', 8);
  t.Put(0, 1);
  t.Put(0, 6);            // low bits: distance 1
  t.PutMsbFirst(63, 16);  // distance high symbol 0
  t.PutMsbFirst(63, 6);   // length symbol 0: 2 bytes
  const auto r = Decode(t.Finish(), kMethodImploded, 0, 3);
  EXPECT_FALSE(r.raised);
  EXPECT_EQ(r.out, Text("mmm"));
}

// ---- corrupt input, cancellation, bounds --------------------------------------------------------
TEST(LegacyCorrupt, MutatedAndTruncatedStreamsEndWithoutCrashOrOverrun) {
  const auto plain = legacytest::MixedData(40000, 21);
  std::mt19937 rng(1234);
  int raised = 0, reported = 0;
  for (const auto& variant : AllVariants()) {
    const Bytes packed = variant.encode(plain);
    for (int round = 0; round < 60; ++round) {
      Bytes bad = packed;
      const int flips = 1 + static_cast<int>(rng() % 8);
      for (int i = 0; i < flips; ++i)
        bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
      if (round % 3 == 0) bad.resize(rng() % bad.size());
      const auto r = Decode(bad, variant.method, variant.flags, plain.size());
      raised += r.raised;
      reported += !r.reported.empty();
      if (r.raised) {
        EXPECT_NE(r.errorCode, 0);
      }
    }
  }
  EXPECT_GT(raised + reported, 0);
}

TEST(LegacyCorrupt, GarbageNeverGoesPastTheUncompressedSize) {
  std::mt19937 rng(99);
  for (uint32_t method = 1; method <= 6; ++method) {
    for (uint16_t flags : {0, 2, 4, 6}) {
      for (int round = 0; round < 20; ++round) {
        Bytes garbage(100 + rng() % 3000);
        for (auto& b : garbage) b = static_cast<uint8_t>(rng());
        if (round % 2)
          std::fill(garbage.begin(), garbage.begin() + 40, 0);  // a trivial tree/set area
        Decode(garbage, method, flags, 1 + rng() % 70000);
      }
    }
  }
}

TEST(LegacyCancel, CancelFlagEndsTheMemberAfterTheCurrentBlock) {
  const auto plain = legacytest::TextData(400000, 3);
  for (const auto& variant : AllVariants()) {
    SCOPED_TRACE(variant.name);
    uint8_t cancel = 0;
    DecodeOptions options;
    options.cancel = &cancel;
    options.cancelAfter = 1;
    const auto r =
        Decode(variant.encode(plain), variant.method, variant.flags, plain.size(), options);
    EXPECT_FALSE(r.done);
    EXPECT_LT(r.out.size(), 4 * kLegacyOutputBlock);
    EXPECT_TRUE(std::equal(r.out.begin(), r.out.end(), plain.begin()));
  }
}

TEST(LegacyBounds, EmptyMemberAndUnknownMethodDecodeNothing) {
  EXPECT_TRUE(Decode(Bytes{}, kMethodShrunk, 0, 0).done);
  EXPECT_TRUE(Decode(Bytes{1, 2, 3}, kMethodImploded, 0, 0).out.empty());
  EXPECT_FALSE(Decode(Bytes{1, 2, 3}, 7, 0, 10).done);
  EXPECT_FALSE(Decode(Bytes{1, 2, 3}, 0, 0, 10).done);
}

TEST(LegacyBounds, WriteFailureStillPassesOnAfterTheFlush) {
  const auto plain = legacytest::TextData(100000, 5);
  const Bytes packed = legacytest::Implode(plain, true, true);
  size_t at = 0;
  int writes = 0;
  TLegacyContext context;
  context.ReadBlock = [&](uint8_t* buffer, size_t count) {
    const size_t n = std::min(count, packed.size() - at);
    std::copy_n(packed.begin() + static_cast<long>(at), n, buffer);
    at += n;
    return n;
  };
  context.WriteBlock = [&](const uint8_t*, size_t) {
    if (++writes == 2) throw E_RAISE("Error writing to file");
  };
  TLegacyMember member{kMethodImploded, legacytest::ImplodeFlags(true, true), packed.size(),
                       plain.size()};
  EXPECT_THROW(DecodeLegacyMember(member, context), E_RAISE);
  EXPECT_EQ(writes, 2);
}

TEST(LegacyBounds, RaiseErrorHookSeesTheCodeFirst) {
  std::vector<int> seen;
  TLegacyContext context;
  context.ReadBlock = [](uint8_t*, size_t) { return size_t{0}; };
  context.RaiseError = [&](int code) { seen.push_back(code); };
  TLegacyMember member{kMethodShrunk, 0, 10, 10};
  EXPECT_THROW(DecodeLegacyMember(member, context), E_RAISE);
  EXPECT_EQ(seen, std::vector<int>{kErrBadBlock});
}

// ---- independent decoders agree with the test encoders ------------------------------------------
bool HaveTool(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Both tools test what the encoders write, so the decoders' reading of the formats is checked
// against two independent implementations. Info-ZIP unzip 6.0 reads partial clears differently
// (after "a b 257 c 259 d <clear> x <clear> y", it frees 257 and keeps 259, where 7-Zip and we
// keep 257), so it only gets shrunk data that never clears.
TEST(LegacyOracle, UnzipAnd7zAcceptTheEncodersOutput) {
  const bool haveUnzip = HaveTool("unzip"), have7z = HaveTool("7z");
  if (!haveUnzip && !have7z) GTEST_SKIP() << "neither unzip nor 7z installed";
  const auto dir =
      std::filesystem::temp_directory_path() / ("parcelo_legacy_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto writeZip =
      [&](const std::string& name, const Bytes& plain,
          const std::vector<std::tuple<std::string, uint16_t, uint16_t, Bytes>>& parts) {
        std::vector<minizip::WriteMember> members;
        for (const auto& [member, method, flags, data] : parts)
          members.push_back({member, method, flags, data, minizip::Crc32(plain), plain.size()});
        const auto path = (dir / name).string();
        EXPECT_TRUE(minizip::WriteFile(path, minizip::WriteArchive(members)));
        return path;
      };
  const auto plain = legacytest::MixedData(600000, 77);
  std::vector<std::tuple<std::string, uint16_t, uint16_t, Bytes>> implodeParts;
  for (bool big : {false, true})
    for (bool three : {false, true})
      implodeParts.emplace_back(
          std::string("imploded-") + (big ? "8k" : "4k") + (three ? "3" : "2"), 6,
          legacytest::ImplodeFlags(big, three), legacytest::Implode(plain, big, three));
  const auto imploded = writeZip("imploded.zip", plain, implodeParts);
  const auto shrunkWithClears = writeZip("shrunk-clears.zip", plain,
                                         {{"shrunk", 1, 0, legacytest::Shrink(plain)},
                                          {"shrunk-40", 1, 0, legacytest::Shrink(plain, {40})}});
  legacytest::ShrinkStats stats;
  const auto text = legacytest::TextData(20000, 5);
  const auto shrunkPlain =
      writeZip("shrunk.zip", text, {{"shrunk", 1, 0, legacytest::Shrink(text, {}, &stats)}});
  EXPECT_EQ(stats.partialClears, 0u);
  auto run = [](const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
  };
  if (haveUnzip) {
    EXPECT_EQ(run("unzip -tqq '" + imploded + "'"), 0) << "unzip -t imploded";
    EXPECT_EQ(run("unzip -tqq '" + shrunkPlain + "'"), 0) << "unzip -t shrunk";
  }
  if (have7z) {
    for (const auto& zip : {imploded, shrunkWithClears, shrunkPlain})
      EXPECT_EQ(run("7z t '" + zip + "'"), 0) << "7z t " << zip;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
