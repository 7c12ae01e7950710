// The thread count rule and the block pipe: blocks consumed in order, never more in flight than
// the pipe holds, a consumer's exception kept and nothing consumed after it.
#include "archive/common/arvThreads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

TEST(ExtractionThreads, TheVariableWinsThenTheAffinityMaskBothCapped) {
  EXPECT_EQ(ExtractionThreadsFrom("1", 2), 1);  // the one-thread path, forced
  EXPECT_EQ(ExtractionThreadsFrom("2", 1), 2);  // more than the mask allows: asked for
  EXPECT_EQ(ExtractionThreadsFrom("1000", 2), kMaxExtractionThreads);
  EXPECT_EQ(ExtractionThreadsFrom(nullptr, 2), 2);
  EXPECT_EQ(ExtractionThreadsFrom(nullptr, 64), kMaxExtractionThreads);
  EXPECT_EQ(ExtractionThreadsFrom(nullptr, 0), 1);  // the mask could not be read
  // Not a whole number of at least 1: as if unset.
  for (const char* junk : {"", "0", "-3", "two", "2x", " "}) {
    SCOPED_TRACE(junk);
    EXPECT_EQ(ExtractionThreadsFrom(junk, 2), 2);
  }
  const int here = ExtractionThreads();
  EXPECT_GE(here, 1);
  EXPECT_LE(here, kMaxExtractionThreads);
}

TEST(BlockPipe, BlocksAreConsumedInOrderWithABoundInFlight) {
  std::vector<uint32_t> seen;
  std::atomic<int> consuming{0};
  {
    TBlockPipe pipe(64, 3, [&](uint8_t* block, size_t bytes) {
      ++consuming;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      uint32_t value;
      ASSERT_EQ(bytes, sizeof value);
      std::memcpy(&value, block, sizeof value);
      seen.push_back(value);
    });
    for (uint32_t i = 0; i < 50; ++i) {
      uint8_t* block = pipe.Acquire();
      ASSERT_NE(block, nullptr);
      EXPECT_LE(pipe.Submitted() - pipe.Consumed(false), 2u);  // this one makes the third
      std::memcpy(block, &i, sizeof i);
      pipe.Submit(sizeof i);
    }
    EXPECT_EQ(pipe.Consumed(true), 50u);
    EXPECT_EQ(pipe.Failure(), nullptr);
  }
  ASSERT_EQ(seen.size(), 50u);
  for (uint32_t i = 0; i < 50; ++i) EXPECT_EQ(seen[i], i);
}

TEST(BlockPipe, AFailureStopsTheConsumerAndIsKept) {
  int consumed = 0;
  TBlockPipe pipe(16, 4, [&](uint8_t* block, size_t) {
    if (block[0] == 3) throw std::runtime_error("disk full");
    ++consumed;
  });
  uint64_t handed = 0;
  for (uint8_t i = 0; i < 20; ++i) {
    uint8_t* block = pipe.Acquire();
    if (block == nullptr) break;
    block[0] = i;
    pipe.Submit(1);
    ++handed;
  }
  EXPECT_EQ(pipe.Consumed(true), 3u);  // blocks 0, 1 and 2; the one that threw is not counted
  EXPECT_EQ(consumed, 3);
  EXPECT_EQ(pipe.Acquire(), nullptr);
  ASSERT_NE(pipe.Failure(), nullptr);
  EXPECT_THROW(std::rethrow_exception(pipe.Failure()), std::runtime_error);
  EXPECT_LE(handed, 20u);
}

TEST(BlockPipe, DestroyedWithBlocksInFlightDropsThem) {
  std::atomic<int> consumed{0};
  {
    TBlockPipe pipe(16, 4, [&](uint8_t*, size_t) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ++consumed;
    });
    for (int i = 0; i < 4; ++i) {
      ASSERT_NE(pipe.Acquire(), nullptr);
      pipe.Submit(1);
    }
  }  // joins after the block the worker is on
  EXPECT_LT(consumed.load(), 4);
}

}  // namespace
