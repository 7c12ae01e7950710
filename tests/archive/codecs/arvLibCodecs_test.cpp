// The library methods' decoders: members made by the libraries' own encoders, read in slices of
// 1, 2, 7 bytes and whole (resumption), output in several blocks, clipped at the declared size;
// cancel; and the limits refused before any output.
#include "archive/codecs/arvLibCodecs.h"

#include <bzlib.h>
#include <gtest/gtest.h>
#include <lzma.h>
#include <zstd.h>

#include <string>
#include <vector>

#include "archive/codecs/arvZipConsts.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Text with long repeats and stretches of noise: 0.7 MB, several output blocks.
Bytes Sample() {
  Bytes b;
  uint32_t x = 7;
  for (int i = 0; i < 20000; ++i) {
    const std::string line = "member line " + std::to_string(i % 977) + " of the sample\n";
    b.insert(b.end(), line.begin(), line.end());
    if (i % 1000 == 0)
      for (int j = 0; j < 3000; ++j) b.push_back(static_cast<uint8_t>((x = x * 69069 + 1) >> 24));
  }
  return b;
}

Bytes Bzip2(const Bytes& plain) {
  Bytes out(plain.size() + plain.size() / 100 + 600);
  unsigned size = static_cast<unsigned>(out.size());
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size,
                                     const_cast<char*>(reinterpret_cast<const char*>(plain.data())),
                                     static_cast<unsigned>(plain.size()), 9, 0, 0),
            BZ_OK);
  out.resize(size);
  return out;
}

Bytes Xz(const Bytes& plain) {
  Bytes out(plain.size() + 1024);
  size_t pos = 0;
  EXPECT_EQ(lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, plain.data(), plain.size(),
                                    out.data(), &pos, out.size()),
            LZMA_OK);
  out.resize(pos);
  return out;
}

// A zip LZMA member: version 9.20, 5 property bytes (lc 3, lp 0, pb 2, the dictionary), then the
// raw LZMA1 data, with or without its end marker.
Bytes Lzma(const Bytes& plain, bool endMarker, uint32_t dictionary = 1 << 20) {
  lzma_options_lzma options{};
  lzma_lzma_preset(&options, 6);
  options.dict_size = dictionary;
  options.ext_flags = endMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes out(plain.size() + 1024);
  size_t pos = 0;
  EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, plain.data(), plain.size(), out.data(), &pos,
                                   out.size()),
            LZMA_OK);
  out.resize(pos);
  Bytes member = {9, 20, 5, 0, static_cast<uint8_t>((2 * 5 + 0) * 9 + 3)};
  for (int i = 0; i < 4; ++i) member.push_back(static_cast<uint8_t>(dictionary >> (8 * i)));
  member.insert(member.end(), out.begin(), out.end());
  return member;
}

Bytes Zstd(const Bytes& plain) {
  Bytes out(ZSTD_compressBound(plain.size()));
  out.resize(ZSTD_compress(out.data(), out.size(), plain.data(), plain.size(), 3));
  return out;
}

struct TRun {
  TCodecStatus Status;
  Bytes Output;
  size_t Blocks = 0;
  std::string Detail;
  bool Refused = false;
};

TRun Decode(uint32_t method, const Bytes& data, uint64_t size, size_t slice = 0,
            uint8_t* cancel = nullptr, uint16_t flags = 0) {
  TRun run;
  size_t at = 0;
  TCodecIo io;
  io.Read = [&](uint8_t* buffer, size_t count) {
    size_t n = std::min(count, data.size() - at);
    if (slice) n = std::min(n, slice);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), n, buffer);
    at += n;
    return n;
  };
  io.Write = [&](const uint8_t* bytes, size_t count) {
    run.Output.insert(run.Output.end(), bytes, bytes + count);
    ++run.Blocks;
    if (cancel) *cancel = 1;
  };
  io.Cancel = cancel;
  TLibMember member;
  member.Method = method;
  member.Flags = flags;
  member.Size = size;
  run.Status = DecodeLibraryMember(member, io);
  run.Detail = member.Detail;
  run.Refused = member.Refused;
  return run;
}

struct TCase {
  const char* Name;
  uint32_t Method;
  Bytes Data;
  uint16_t Flags = 0;  // an LZMA member with its end marker says so in bit 1
};

std::vector<TCase> Cases(const Bytes& plain) {
  return {{"BZip2", kMethodBzip2, Bzip2(plain)},
          {"LZMA", kMethodLzma, Lzma(plain, false)},
          {"LZMA with end marker", kMethodLzma, Lzma(plain, true), kFlagLzmaEndMarker},
          {"XZ", kMethodXz, Xz(plain)},
          {"Zstd", kMethodZstd, Zstd(plain)}};
}

TEST(LibCodecs, EveryMethodWholeAndInSlices) {
  const Bytes plain = Sample();
  for (const TCase& c : Cases(plain)) {
    SCOPED_TRACE(c.Name);
    const TRun run = Decode(c.Method, c.Data, plain.size(), 0, nullptr, c.Flags);
    ASSERT_EQ(run.Status, TCodecStatus::Ok) << run.Detail;
    EXPECT_TRUE(run.Output == plain);
    EXPECT_GT(run.Blocks, 2u);  // progress moves block by block
  }
  // Reads that stop anywhere: the decoders resume at every byte (a shorter member, so slices of
  // one byte stay quick).
  const Bytes part(plain.begin(), plain.begin() + 150000);
  for (const TCase& c : Cases(part)) {
    for (size_t slice : {size_t{1}, size_t{2}, size_t{7}}) {
      SCOPED_TRACE(std::string(c.Name) + " slice " + std::to_string(slice));
      const TRun run = Decode(c.Method, c.Data, part.size(), slice, nullptr, c.Flags);
      EXPECT_EQ(run.Status, TCodecStatus::Ok) << run.Detail << " at " << run.Output.size();
      EXPECT_TRUE(run.Output == part);
    }
  }
}

TEST(LibCodecs, OutputStopsAtTheDeclaredSize) {
  const Bytes plain = Sample();
  for (const TCase& c : Cases(plain)) {
    SCOPED_TRACE(c.Name);
    const uint64_t declared = plain.size() / 3;
    const TRun run = Decode(c.Method, c.Data, declared, 0, nullptr, c.Flags);
    EXPECT_LE(run.Output.size(), declared);
    EXPECT_EQ(run.Status, TCodecStatus::Corrupt);
    EXPECT_NE(run.Detail.find("past the member's size"), std::string::npos) << run.Detail;
    // A size larger than the data: the data ends first, and says so.
    const TRun longer = Decode(c.Method, c.Data, plain.size() + 10, 0, nullptr, c.Flags);
    EXPECT_NE(longer.Status, TCodecStatus::Ok);
    EXPECT_FALSE(longer.Detail.empty());
  }
}

TEST(LibCodecs, TruncatedDataAndCancel) {
  const Bytes plain = Sample();
  for (const TCase& c : Cases(plain)) {
    SCOPED_TRACE(c.Name);
    const Bytes cut(c.Data.begin(), c.Data.begin() + static_cast<std::ptrdiff_t>(c.Data.size() / 2));
    const TRun run = Decode(c.Method, cut, plain.size(), 0, nullptr, c.Flags);
    EXPECT_TRUE(run.Status == TCodecStatus::Truncated || run.Status == TCodecStatus::Corrupt);
    EXPECT_LT(run.Output.size(), plain.size());
    uint8_t cancel = 0;
    const TRun cancelled = Decode(c.Method, c.Data, plain.size(), 0, &cancel, c.Flags);
    EXPECT_EQ(cancelled.Status, TCodecStatus::Cancelled);
    EXPECT_EQ(cancelled.Blocks, 1u) << c.Name;
  }
}

TEST(LibCodecs, LimitsAreRefusedBeforeAnyOutput) {
  const Bytes plain(1000, 'a');
  // An LZMA dictionary of 1 GiB and one byte more; properties byte 225 (lc 9 does not exist);
  // lc + lp above 4; a property size of 4.
  Bytes big = Lzma(plain, false);
  big[5] = 1, big[6] = 0, big[7] = 0, big[8] = 0x40;
  Bytes props = Lzma(plain, false);
  props[4] = 225;
  Bytes lclp = Lzma(plain, false);
  lclp[4] = (2 * 5 + 2) * 9 + 3;
  Bytes size4 = Lzma(plain, false);
  size4[2] = 4;
  for (const auto& [data, says] : {std::pair{big, "LZMA dictionary of 1025 MiB"},
                                   std::pair{props, "LZMA properties out of range"},
                                   std::pair{lclp, "lc=3 lp=2"},
                                   std::pair{size4, "LZMA properties of 4 bytes"}}) {
    SCOPED_TRACE(says);
    const TRun run = Decode(kMethodLzma, data, plain.size());
    EXPECT_EQ(run.Status, TCodecStatus::Unsupported);
    EXPECT_TRUE(run.Refused);
    EXPECT_NE(run.Detail.find(says), std::string::npos) << run.Detail;
    EXPECT_TRUE(run.Output.empty());
  }
  // A dictionary of exactly 1 GiB is taken (liblzma allocates it only as the data needs).
  Bytes limit = Lzma(plain, false);
  limit[5] = 0, limit[6] = 0, limit[7] = 0, limit[8] = 0x40;
  EXPECT_EQ(Decode(kMethodLzma, limit, plain.size()).Status, TCodecStatus::Ok);

  // A Zstandard frame whose window descriptor claims 2 GiB (exponent 21), one raw block.
  Bytes frame = {0x28, 0xB5, 0x2F, 0xFD, 0x00, 21 << 3};
  const uint32_t block = 1 | (static_cast<uint32_t>(plain.size()) << 3);
  frame.push_back(static_cast<uint8_t>(block));
  frame.push_back(static_cast<uint8_t>(block >> 8));
  frame.push_back(static_cast<uint8_t>(block >> 16));
  frame.insert(frame.end(), plain.begin(), plain.end());
  const TRun zstd = Decode(kMethodZstd, frame, plain.size());
  EXPECT_EQ(zstd.Status, TCodecStatus::Unsupported);
  EXPECT_TRUE(zstd.Refused);
  EXPECT_TRUE(zstd.Output.empty());
  frame[5] = 20 << 3;  // 1 GiB: taken
  EXPECT_EQ(Decode(kMethodZstd, frame, plain.size()).Status, TCodecStatus::Ok);

  // An XZ stream whose LZMA2 dictionary is 1.5 GiB.
  lzma_options_lzma options{};
  lzma_lzma_preset(&options, 0);
  options.dict_size = 3u << 29;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes xz(4096);
  size_t pos = 0;
  ASSERT_EQ(lzma_stream_buffer_encode(const_cast<lzma_filter*>(filters), LZMA_CHECK_CRC32, nullptr,
                                      plain.data(), plain.size(), xz.data(), &pos, xz.size()),
            LZMA_OK);
  xz.resize(pos);
  const TRun x = Decode(kMethodXz, xz, plain.size());
  EXPECT_EQ(x.Status, TCodecStatus::Unsupported);
  EXPECT_NE(x.Detail.find("up to 1 GiB"), std::string::npos) << x.Detail;
  EXPECT_TRUE(x.Output.empty());
}

TEST(LibCodecs, DamagedBzip2BlockIsCorrupt) {
  const Bytes plain = Sample();
  Bytes data = Bzip2(plain);
  data[10] ^= 0x55;  // the first block's stored CRC ("BZh9", the block magic, then the CRC)
  const TRun run = Decode(kMethodBzip2, data, plain.size());
  EXPECT_EQ(run.Status, TCodecStatus::Corrupt);
  EXPECT_NE(run.Detail.find("BZip2 data is damaged"), std::string::npos) << run.Detail;
}

}  // namespace
