// A large deflated member on two cores: the calling thread reads, deciphers and inflates while a
// worker checksums and writes the blocks it made. Everything a caller sees stays on the calling
// thread and comes as a one-thread run gives it: the progress of a block once the block is
// written, every prompt and report after the progress of the blocks before it, a write failure
// as the exception of the block that failed, and a cancel heard at the block it was heard at.
#include <deque>
#include <exception>

#include "archive/common/arvThreads.h"
#include "archive/zip/arvUnZip.h"

namespace {

// Blocks in flight: one being written, one waiting, one being inflated, one spare so the
// inflate never waits on a write that is about to end. 4 * 256 KiB stays well inside the run's
// memory budget.
constexpr int kPipedBlocks = 4;

}  // namespace

bool TUnZip::InflatePiped(std::unique_ptr<TStream32>& archive, host::THandle out,
                          const TInflateSource& source) {
  const int64_t size = FSizes.UnpackedSize;
  TBlockPipe pipe(static_cast<size_t>(kInflateOutputSize), kPipedBlocks,
                  [this, out](uint8_t* block, size_t bytes) {
                    WriteBlock(out, block, static_cast<int32_t>(bytes), {.CrcKind = kCrcKind32});
                  });
  std::deque<uint32_t> handedOn;  // sizes of the blocks handed on and not yet delivered
  uint64_t delivered = 0;
  // A cancel heard in the progress of a block with later blocks already made: a one-thread run
  // would never have made them, so nothing of them is counted or told.
  bool cutShort = false;
  // The counters and the progress a one-thread run gives after each block it wrote, for every
  // block the worker has written since the last call.
  const auto deliver = [&](bool wait) {
    const uint64_t consumed = pipe.Consumed(wait);
    for (; delivered < consumed; ++delivered) {
      const uint32_t bytes = handedOn.front();
      handedOn.pop_front();
      if (cutShort) continue;
      FRemainingOutput -= bytes;
      FRemaining -= bytes;
      ReportProgress(size - FRemainingOutput, size, FTotalUnpacked);
      if (FCancel && delivered + 1 < pipe.Submitted()) cutShort = true;
    }
  };

  int64_t outputLeft = FRemainingOutput;  // what this thread has still to make
  bool ended = false;
  bool broken = false;
  try {
    while (outputLeft > 0) {
      deliver(false);
      if (FCancel) break;
      uint8_t* const block = pipe.Acquire();  // waits while every block is in flight
      if (block == nullptr) break;            // a write failed: said below
      deliver(false);
      if (FCancel) break;
      const uint32_t chunk =
          static_cast<uint32_t>(std::min<int64_t>(outputLeft, kInflateOutputSize));
      const TInflateStep step = FInflate->Run(block, chunk, source);
      const uint32_t produced = FInflate->Produced();
      if (produced > 0) {
        handedOn.push_back(produced);
        pipe.Submit(produced);
        outputLeft -= produced;
      }
      if (step == TInflateStep::End) {
        ended = outputLeft == 0;
        break;
      }
      if (step == TInflateStep::Full) continue;
      if (step == TInflateStep::Starved && (FDiskSpanned || FArcType == atZipMV) &&
          outputLeft > 0) {
        // The next part is asked for after everything before it is written and told, and only
        // when a one-thread run would ask for it.
        deliver(true);
        if (pipe.Failure() || cutShort) break;
        if (ContinueOnNextPart(archive)) continue;
        break;
      }
      broken = true;
      break;
    }
  } catch (...) {
    // A read failure or a prompt handler's exception: the blocks before it are told first; a
    // write that failed before it is what a one-thread run would have met first.
    deliver(true);
    if (const std::exception_ptr failure = pipe.Failure()) std::rethrow_exception(failure);
    throw;
  }
  deliver(true);
  if (const std::exception_ptr failure = pipe.Failure()) std::rethrow_exception(failure);
  if (cutShort) return false;  // the member is cut short at the cancel, as with one thread
  if (broken) {
    // Broken or cut-short data: the member's checksum test reports it.
    FRemaining -= FRemainingOutput;
    FRemainingOutput = 0;
    FRemainingInput = 0;
    return false;
  }
  return ended || FRemainingOutput == 0;
}
