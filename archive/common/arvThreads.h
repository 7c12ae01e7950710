// The engine's use of a second core: how many threads an extraction may use, and the block pipe
// through which one thread hands finished blocks to a worker that consumes them (checksums and
// writes them) while it makes the next ones.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// At most this many threads for one extraction, whatever the machine has: beyond a few, the
// disk and the memory bus are the limit, not the processors.
constexpr int kMaxExtractionThreads = 8;

// The threads an extraction may use: PARCELO_THREADS when it holds a whole number of at least 1
// (PARCELO_THREADS=1 forces the one-thread path), else the processors the process may run on
// (its affinity mask); never more than kMaxExtractionThreads, never less than 1.
int ExtractionThreads();
// The same rule over given values, for tests: `variable` is the environment's text (nullptr when
// unset), `processors` what the affinity mask allows (0 when it could not be read).
int ExtractionThreadsFrom(const char* variable, int processors);

// Blocks handed from a producer (the calling thread) to one consumer thread, in order. The pipe
// owns `blocks` buffers of `blockSize` bytes: the producer takes a free one (Acquire), fills it
// and hands it on (Submit); the worker runs `consume` on each block in the order handed on and
// frees it. At most `blocks` blocks are in flight, so memory stays at blocks * blockSize.
//
// When `consume` throws, the worker stops there: the exception is kept (Failure), the block that
// threw is not counted as consumed, no later block is consumed, and Acquire returns nullptr. The
// destructor stops the worker after the block it is on and joins it; blocks not yet consumed are
// dropped.
class TBlockPipe {
 public:
  using TConsume = std::function<void(uint8_t* block, size_t bytes)>;

  TBlockPipe(size_t blockSize, int blocks, TConsume consume);
  ~TBlockPipe();
  TBlockPipe(const TBlockPipe&) = delete;
  TBlockPipe& operator=(const TBlockPipe&) = delete;

  // A free block, waiting while every block is in flight; nullptr once the worker has failed.
  uint8_t* Acquire();
  // Hands the block of the last Acquire on, with the number of bytes it holds.
  void Submit(size_t bytes);
  // Blocks consumed so far (the first Consumed() blocks handed on, in order). With `wait`, first
  // waits until every block handed on is consumed or the worker has failed.
  uint64_t Consumed(bool wait);
  // Blocks handed on so far.
  uint64_t Submitted() const { return FSubmitted; }
  // What `consume` threw (null while it has thrown nothing).
  std::exception_ptr Failure();

 private:
  void Work();

  const size_t FBlockSize;
  const uint64_t FBlocks;
  TConsume FConsume;
  std::unique_ptr<uint8_t[]> FMemory;
  std::vector<size_t> FBytes;  // per buffer, what its block holds
  std::mutex FLock;
  std::condition_variable FChanged;
  uint64_t FSubmitted = 0;  // written by the producer under FLock
  uint64_t FConsumed = 0;   // written by the worker under FLock
  bool FStop = false;
  std::exception_ptr FFailure;
  std::thread FWorker;  // last: started once everything above is made
};
