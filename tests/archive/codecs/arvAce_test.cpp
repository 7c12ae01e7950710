// Tests of the ACE decoders on streams built symbol by symbol (support/AceWriter): what each
// symbol means (literals, new and repeated distances, the length adjustments of far distances),
// the delta and executable filters of ACE 2.0, the state a solid archive carries over, input in
// pieces of any size, and every way a stream can be wrong. The streams are checked against an
// independent ACE reader in ace_source_test; the real archives are decoded there too.
#include "archive/codecs/arvAce.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/AceWriter.h"

namespace {

using testsupport::TAceBits;
using testsupport::TAceStreamWriter;

struct TRun {
  TCodecStatus Status;
  std::string Out;
};

// Decodes `packed` as one member, the input handed over `piece` bytes at a time.
TRun Decode(TAceDecoder& decoder, const std::vector<uint8_t>& packed, uint64_t size,
            uint8_t type = kAceTypeBlocked, uint16_t parameters = 10, size_t piece = 1 << 16,
            const uint8_t* cancel = nullptr) {
  TRun run;
  size_t at = 0;
  TCodecIo io;
  io.Read = [&](uint8_t* buffer, size_t count) {
    const size_t n = std::min({count, piece, packed.size() - at});
    std::memcpy(buffer, packed.data() + at, n);
    at += n;
    return n;
  };
  io.Write = [&](const uint8_t* bytes, size_t count) {
    run.Out.append(reinterpret_cast<const char*>(bytes), count);
  };
  io.Cancel = cancel;
  run.Status = decoder.Decode(TAceMember{type, parameters, size}, io);
  return run;
}

TRun Decode(const std::vector<uint8_t>& packed, uint64_t size, uint8_t type = kAceTypeBlocked,
            uint16_t parameters = 10, size_t piece = 1 << 16) {
  TAceDecoder decoder;
  return Decode(decoder, packed, size, type, parameters, piece);
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

TEST(AceCrc, IsTheZipPolynomialWithoutTheFinalInversion) {
  const std::string text = "123456789";
  const uint32_t crc =
      AceCrc32(kAceCrcStart, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  EXPECT_EQ(crc, ~0xCBF43926u);  // the check value of CRC-32, inverted
}

TEST(AceLz77, LiteralsMatchesAndTheFourLastDistances) {
  for (const bool blocked : {false, true}) {
    TAceStreamWriter w(blocked);
    w.Literals("abcdefgh");
    w.Match(3, 5);   // "fghfg"
    w.Match(8, 2);   // distance 8: "fg" from 13 - 8 = 5
    w.Match(1, 4);   // a run of the last byte
    w.Repeat(0, 3);  // distance 1 again (newest)
    w.Repeat(1, 2);  // distance 8 (second newest)...
    w.Repeat(1, 2);  // ...and now 1 again, moved to the front by the repeat before
    w.Repeat(3, 3);  // the oldest (3): indexes 2 and 3 add one to the length
    std::string want = "abcdefgh";
    auto copy = [&](size_t distance, size_t length) {
      for (size_t i = 0; i < length; ++i) want.push_back(want[want.size() - distance]);
    };
    copy(3, 5);
    copy(8, 2);
    copy(1, 4);
    copy(1, 3);
    copy(8, 2);
    copy(1, 2);
    copy(3, 3);
    const TRun run =
        Decode(w.Finish(), want.size(), blocked ? kAceTypeBlocked : kAceTypeLz77);
    EXPECT_EQ(run.Status, TCodecStatus::Ok);
    EXPECT_EQ(run.Out, want);
  }
}

TEST(AceLz77, FarDistancesAddToTheLengthAndTheWindowWraps) {
  // 600 KiB through a 256 KiB window: literals, then copies from 300, 9000 and 200000 bytes back
  // (lengths 2..259 at each), many blocks of symbols.
  std::string want;
  TAceStreamWriter w;
  uint32_t seed = 1;
  auto literal = [&]() {
    seed = seed * 1103515245 + 12345;
    const uint8_t b = static_cast<uint8_t>(seed >> 16);
    w.Literal(b);
    want.push_back(static_cast<char>(b));
  };
  for (int i = 0; i < 210000; ++i) literal();
  const uint32_t distances[] = {300, 9000, 200000, 2, 1};
  for (int round = 0; want.size() < 600000; ++round) {
    const uint32_t distance = distances[round % 5];
    const unsigned extra = (distance - 1 > 255) + (distance - 1 > 8191);
    const unsigned length = 2 + extra + static_cast<unsigned>(round * 7 % 256);
    w.Match(distance, length);
    for (unsigned i = 0; i < length; ++i)
      want.push_back(want[want.size() - distance]);
    literal();
  }
  const TRun run = Decode(w.Finish(), want.size(), kAceTypeBlocked, 8);  // 256 KiB dictionary
  ASSERT_EQ(run.Status, TCodecStatus::Ok);
  EXPECT_TRUE(run.Out == want);
}

TEST(AceLz77, InputInAnyPiecesGivesTheSameBytes) {
  TAceStreamWriter w;
  w.Literals("the quick brown fox ");
  w.Match(20, 40);
  w.Mode(2, {{1, 8}});
  w.Literals(Bytes({0xE8, 0x10, 0, 0, 0, 0xE9, 0x20, 0}));
  const std::vector<uint8_t> packed = w.Finish();
  const TRun whole = Decode(packed, 68);
  ASSERT_EQ(whole.Status, TCodecStatus::Ok);
  for (size_t piece : {1, 3, 4, 7, 64}) {
    const TRun run = Decode(packed, 68, kAceTypeBlocked, 10, piece);
    EXPECT_EQ(run.Status, TCodecStatus::Ok) << piece;
    EXPECT_EQ(run.Out, whole.Out) << piece;
  }
}

TEST(AceBlocked, ExecutableFilterTurnsAbsoluteOperandsBack) {
  TAceStreamWriter w;
  w.Literals("MZ");
  w.Mode(2, {{1, 8}});
  // A call at 2 (32-bit operand), a jump at 7 (16-bit operand, its upper half left alone), a call
  // whose operand holds E8 (not looked at again), then the same run copied by a match.
  const std::string code = Bytes({0xE8, 0x12, 0x00, 0x00, 0x00, 0xE9, 0x37, 0x12, 0x55, 0x66,
                                  0xE8, 0xE8, 0xE8, 0x00, 0x00});
  w.Literals(code);
  w.Match(15, 15);
  w.Mode(0);
  w.Literals(Bytes({0xE8, 1, 2, 3, 4}));  // no filter any more
  std::string want = "MZ";
  want += Bytes({0xE8, 0x10, 0, 0, 0, 0xE9, 0x30, 0x12, 0x55, 0x66, 0xE8, 0xDC, 0xE8, 0, 0});
  want += Bytes({0xE8, 0x01, 0, 0, 0, 0xE9, 0x21, 0x12, 0x55, 0x66, 0xE8, 0xCD, 0xE8, 0, 0});
  want += Bytes({0xE8, 1, 2, 3, 4});
  const TRun run = Decode(w.Finish(), want.size());
  ASSERT_EQ(run.Status, TCodecStatus::Ok);
  EXPECT_EQ(run.Out, want);
}

TEST(AceBlocked, DeltaFilterSumsAndPutsThePlanesBack) {
  TAceStreamWriter w;
  w.Literals("AB");
  w.Mode(1, {{2, 8}, {4, 17}});  // planes of 2, chunks of 4
  for (int b : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}) w.Literal(static_cast<uint8_t>(b));
  w.Mode(0);  // the last chunk (9, 10) is cut short by the switch
  w.Match(10, 4);  // a match copies what the stream held, not what the filter made of it
  // sums 1 3 6 10 | 15 21 28 36 | 45 55, each chunk's planes put back
  const std::string want =
      "AB" + Bytes({1, 6, 3, 10, 15, 28, 21, 36, 45, 55}) + Bytes({1, 2, 3, 4});
  const TRun run = Decode(w.Finish(), want.size());
  ASSERT_EQ(run.Status, TCodecStatus::Ok);
  EXPECT_EQ(run.Out, want);
}

TEST(AceBlocked, LongDeltaChunksOverManyOutputBlocks) {
  TAceStreamWriter w;
  const size_t length = (1 << 17) - 1;
  w.Mode(1, {{3, 8}, {static_cast<uint32_t>(length), 17}});
  std::string raw;
  for (size_t i = 0; i < length + 1000; ++i) raw.push_back(static_cast<char>(i * 7 + 1));
  w.Literals(raw);
  std::string want(raw.size(), '\0');
  uint8_t sum = 0;
  for (size_t start = 0; start < raw.size(); start += length) {
    const size_t count = std::min(length, raw.size() - start);
    size_t k = start;
    for (size_t plane = 0; plane < 3; ++plane)
      for (size_t p = plane; p < count; p += 3) want[start + p] = static_cast<char>(sum += raw[k++]);
  }
  const TRun run = Decode(w.Finish(), want.size(), kAceTypeBlocked, 0);
  ASSERT_EQ(run.Status, TCodecStatus::Ok);
  EXPECT_TRUE(run.Out == want);
}

TEST(AceSolid, TheDictionaryCarriesOverUntilReset) {
  TAceDecoder decoder;
  TAceStreamWriter first;
  first.Literals("solid archives share");
  TAceStreamWriter second;
  second.Match(20, 20);  // all of it from the member before
  ASSERT_EQ(Decode(decoder, first.Finish(), 20).Status, TCodecStatus::Ok);
  const TRun run = Decode(decoder, second.Finish(), 20);
  EXPECT_EQ(run.Status, TCodecStatus::Ok);
  EXPECT_EQ(run.Out, "solid archives share");
  // A stored member feeds the dictionary too.
  TAceDecoder fresh;
  const std::string text = "stored then packed";
  const std::vector<uint8_t> stored(text.begin(), text.end());
  ASSERT_EQ(Decode(fresh, stored, text.size(), kAceTypeStored).Status, TCodecStatus::Ok);
  TAceStreamWriter third;
  third.Match(18, 18);
  EXPECT_EQ(Decode(fresh, third.Finish(), 18).Out, text);
  fresh.Reset();
  EXPECT_EQ(Decode(fresh, third.Finish(), 18).Status, TCodecStatus::Corrupt);
}

TEST(AceErrors, ShortInputIsTruncatedAtEveryCut) {
  TAceStreamWriter w;
  w.Literals("a stream that is cut somewhere, a stream that is cut");
  w.Match(31, 21);
  const std::vector<uint8_t> packed = w.Finish();
  for (size_t cut = 0; cut < packed.size(); cut += 4) {
    const std::vector<uint8_t> part(packed.begin(), packed.begin() + static_cast<long>(cut));
    EXPECT_EQ(Decode(part, 73).Status, TCodecStatus::Truncated) << cut;
  }
  const std::string text = "stored";
  EXPECT_EQ(Decode(std::vector<uint8_t>(text.begin(), text.end()), 10, kAceTypeStored).Status,
            TCodecStatus::Truncated);
}

TEST(AceErrors, InvalidStreamsAreCorruptOrUnsupported) {
  {  // a distance before the first byte
    TAceStreamWriter w;
    w.Literals("ab");
    w.Match(3, 2);
    EXPECT_EQ(Decode(w.Finish(), 4).Status, TCodecStatus::Corrupt);
  }
  {  // a match longer than what is left of the member
    TAceStreamWriter w;
    w.Literals("ab");
    w.Match(2, 10);
    EXPECT_EQ(Decode(w.Finish(), 6).Status, TCodecStatus::Corrupt);
  }
  {  // a mode switch in an ACE 1.0 stream (its main code has no such symbol)
    TAceStreamWriter w;
    w.Literal('x');
    w.Mode(0);
    EXPECT_EQ(Decode(w.Finish(), 2, kAceTypeLz77).Status, TCodecStatus::Corrupt);
  }
  {  // the sound and picture modes are not decoded
    TAceStreamWriter w;
    w.Mode(3, {{0, 8}});
    w.Literal('x');
    TAceDecoder decoder;
    EXPECT_EQ(Decode(decoder, w.Finish(), 1).Status, TCodecStatus::Unsupported);
    EXPECT_NE(decoder.Detail().find("mode 3"), std::string::npos);
  }
  {  // a delta filter of no planes
    TAceStreamWriter w;
    w.Mode(1, {{0, 8}, {4, 17}});
    w.Literal('x');
    EXPECT_EQ(Decode(w.Finish(), 1).Status, TCodecStatus::Corrupt);
  }
  {  // a code that leaves gaps, and a symbol read from one
    TAceBits b;
    for (int table = 0; table < 2; ++table) {
      b.Put(1, 9);  // two symbols
      b.Put(0, 4);
      b.Put(3, 4);  // width values modulo 3; width code 3 is the run
      for (unsigned width : {2, 1, 3, 3}) b.Put(width, 3);  // value 1 is "0", value 0 is "10"
      b.Put(0, 1);  // widths 1 and 2: three quarters of the codes
      b.Put(0, 1);
    }
    b.Put(1, 15);
    b.Put(0x7FF, 11);
    b.Put(0, 32);
    EXPECT_EQ(Decode(b.Finish(), 5).Status, TCodecStatus::Corrupt);
  }
  {  // a width past the longest code
    TAceBits b;
    b.Put(1, 9);   // two symbols
    b.Put(15, 4);  // 15 added to every width in use
    b.Put(2, 4);
    for (unsigned width : {2, 1, 2}) b.Put(width, 3);  // value 1 is the only 1-bit code
    b.Put(0, 1);
    b.Put(0, 1);
    b.Put(0, 32);
    EXPECT_EQ(Decode(b.Finish(), 5).Status, TCodecStatus::Corrupt);
  }
  // Unknown compression types and dictionaries beyond 4 MiB.
  TAceStreamWriter w;
  w.Literal('x');
  EXPECT_EQ(Decode(w.Finish(), 1, 3).Status, TCodecStatus::Unsupported);
  EXPECT_EQ(Decode(w.Finish(), 1, kAceTypeBlocked, 13).Status, TCodecStatus::Unsupported);
}

TEST(AceErrors, GarbageNeverRunsAwayAndCancelStops) {
  // Random words as a stream: the decoder ends with some status, never past the member's size.
  uint32_t seed = 7;
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> packed(64 + round % 200);
    for (uint8_t& b : packed) b = static_cast<uint8_t>((seed = seed * 1664525 + 1013904223) >> 24);
    const TRun run = Decode(packed, 5000);
    EXPECT_LE(run.Out.size(), 5000u);
    if (run.Status == TCodecStatus::Ok) {
      EXPECT_EQ(run.Out.size(), 5000u);
    }
  }
  TAceStreamWriter w;
  for (int i = 0; i < 200000; ++i) w.Literal(static_cast<uint8_t>(i));
  const uint8_t cancel = 1;
  TAceDecoder decoder;
  EXPECT_EQ(Decode(decoder, w.Finish(), 200000, kAceTypeBlocked, 10, 1 << 16, &cancel).Status,
            TCodecStatus::Cancelled);
}

}  // namespace
