// The carry-less-multiplication CRC-32 against the table step, byte by byte: every length around
// the fold sizes, odd alignments and arbitrary running registers, and through Crc32Update.
#include "archive/codecs/arvCrc32Clmul.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "archive/codecs/arvCrcTables.h"
#include "archive/common/arvStreams.h"

namespace {

uint32_t Bytewise(uint32_t crc, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) crc = Crc32Step(crc, p[i]);
  return crc;
}

TEST(Crc32Clmul, MatchesTheTableForEveryShape) {
  if (!Crc32ClmulAvailable()) GTEST_SKIP() << "no carry-less multiplication on this processor";
  std::mt19937 rng(20240601);
  std::vector<uint8_t> data(300000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t length = 64; length < 700; ++length) {
    const size_t offset = length % 17;
    const uint32_t init = rng();
    ASSERT_EQ(Crc32FoldClmul(init, data.data() + offset, length),
              Bytewise(init, data.data() + offset, length))
        << length;
  }
  for (int i = 0; i < 200; ++i) {
    const size_t offset = rng() % 64, length = 64 + rng() % 250000;
    const uint32_t init = rng();
    ASSERT_EQ(Crc32FoldClmul(init, data.data() + offset, length),
              Bytewise(init, data.data() + offset, length))
        << length;
  }
}

TEST(Crc32Clmul, Crc32UpdateGivesTheCheckValueWhateverTheSplit) {
  std::vector<uint8_t> data(100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
  const uint32_t whole = Crc32Update(0xFFFFFFFF, data.data(), data.size());
  EXPECT_EQ(whole, Bytewise(0xFFFFFFFF, data.data(), data.size()));
  uint32_t pieces = 0xFFFFFFFF;
  for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 % 4099 + 1)
    pieces = Crc32Update(pieces, data.data() + at, std::min(step, data.size() - at));
  EXPECT_EQ(pieces, whole);
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(~Crc32Update(0xFFFFFFFF, check, sizeof check), 0xCBF43926u);
}

}  // namespace
