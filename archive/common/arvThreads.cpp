// How many threads an extraction may use, and the block pipe between two of them.
#include "archive/common/arvThreads.h"

#include <sched.h>

#include <algorithm>

#include <cstdlib>

int ExtractionThreadsFrom(const char* variable, int processors) {
  if (variable != nullptr && *variable != '\0') {
    char* end = nullptr;
    const long wanted = std::strtol(variable, &end, 10);
    // A number, and nothing after it: taken (capped); anything else is as if it were unset.
    if (end != variable && *end == '\0' && wanted >= 1)
      return static_cast<int>(std::min<long>(wanted, kMaxExtractionThreads));
  }
  if (processors < 1) return 1;
  return std::min(processors, kMaxExtractionThreads);
}

int ExtractionThreads() {
  int processors = 0;
  cpu_set_t mask;
  CPU_ZERO(&mask);
  if (sched_getaffinity(0, sizeof(mask), &mask) == 0) processors = CPU_COUNT(&mask);
  return ExtractionThreadsFrom(std::getenv("PARCELO_THREADS"), processors);
}

TBlockPipe::TBlockPipe(size_t blockSize, int blocks, TConsume consume)
    : FBlockSize(blockSize),
      FBlocks(static_cast<uint64_t>(std::max(blocks, 1))),
      FConsume(std::move(consume)),
      FMemory(std::make_unique<uint8_t[]>(blockSize * static_cast<size_t>(FBlocks))),
      FBytes(static_cast<size_t>(FBlocks), 0),
      FWorker([this] { Work(); }) {}

TBlockPipe::~TBlockPipe() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  FWorker.join();
}

uint8_t* TBlockPipe::Acquire() {
  std::unique_lock<std::mutex> lock(FLock);
  FChanged.wait(lock, [this] { return FFailure || FSubmitted - FConsumed < FBlocks; });
  if (FFailure) return nullptr;
  return FMemory.get() + FBlockSize * static_cast<size_t>(FSubmitted % FBlocks);
}

void TBlockPipe::Submit(size_t bytes) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FBytes[static_cast<size_t>(FSubmitted % FBlocks)] = bytes;
    ++FSubmitted;
  }
  FChanged.notify_all();
}

uint64_t TBlockPipe::Consumed(bool wait) {
  std::unique_lock<std::mutex> lock(FLock);
  if (wait) FChanged.wait(lock, [this] { return FFailure || FConsumed == FSubmitted; });
  return FConsumed;
}

std::exception_ptr TBlockPipe::Failure() {
  std::lock_guard<std::mutex> lock(FLock);
  return FFailure;
}

void TBlockPipe::Work() {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    FChanged.wait(lock, [this] { return FStop || FConsumed < FSubmitted; });
    if (FStop) return;
    const size_t slot = static_cast<size_t>(FConsumed % FBlocks);
    const size_t bytes = FBytes[slot];
    lock.unlock();
    std::exception_ptr failure;
    try {
      FConsume(FMemory.get() + FBlockSize * slot, bytes);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    if (failure) {
      FFailure = failure;
      FChanged.notify_all();
      return;
    }
    ++FConsumed;
    FChanged.notify_all();
  }
}
