// Both cores in a zip extraction. Small members: a worker decodes and writes the next ones ahead
// of the walk (arvZipAhead.h), and the walk gives each its name (or writes its bytes) as its own
// decode would have. A large plain deflated member is decoded in stretches by both: a worker
// decodes stretches further on in the data while the calling thread decodes up to them, takes
// them, checksums and writes everything (arvInflateAhead.h). Other large members (Deflate64,
// enciphered): the calling thread reads, deciphers and inflates while a worker checksums and
// writes the blocks it made. Everything a caller sees stays on the calling thread and comes as a
// one-thread run gives it: the progress of a block once the block is written, every report after
// the progress of the blocks before it, a write failure as the exception of the block that
// failed, and a cancel heard at the block it was heard at.
#include <array>
#include <cstring>
#include <deque>
#include <exception>

#include "archive/common/arvInflateAhead.h"
#include "archive/common/arvThreads.h"
#include "archive/zip/arvUnZip.h"
#include "platform/host_positioned.h"

namespace {

// A walk of fewer selected members than this stays on one thread: there is little to overlap.
constexpr int kAheadMinMembers = 4;

// Blocks in flight: one being written, one waiting, one being inflated, one spare so the
// inflate never waits on a write that is about to end. 4 * 256 KiB stays well inside the run's
// memory budget.
constexpr int kPipedBlocks = 4;

}  // namespace

bool TUnZip::InflatePiped(host::THandle out, const TInflateSource& source) {
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
      CountInflated(bytes);
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
      broken = true;  // (no set of volumes comes here: nothing goes on in a next part)
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
  if (broken) return DropRestOfMember();
  return ended || FRemainingOutput == 0;
}

bool TUnZip::InflateSplit(host::THandle out, const TInflateSource& source, const TInflateSkip& skip,
                          host::THandle archive, int64_t dataOffset, int64_t packed) {
  TInflateAheadWorker ahead(
      [archive, dataOffset](uint64_t offset, uint8_t* into, size_t count) -> size_t {
        size_t done = 0;
        while (done < count) {
          const uint32_t want = static_cast<uint32_t>(std::min<size_t>(count - done, 1u << 30));
          const int32_t got = host::FileReadAt(archive, into + done, want,
                                               dataOffset + static_cast<int64_t>(offset + done));
          if (got <= 0) break;
          done += static_cast<size_t>(got);
        }
        return done;
      },
      static_cast<uint64_t>(packed));
  uint8_t* const output = FInflateOutput.get();
  // The 32 KiB of output before where decoding stands, while a run of the worker is delivered.
  std::array<uint8_t, kInflateAheadHistory> history;
  std::array<uint8_t, kInflateAheadHistory> behind;  // the history after the run
  const TInflateAhead* run = nullptr;
  size_t delivered = 0;  // of the run's symbols
  bool ended = false;
  while (FRemainingOutput > 0) {
    if (FCancel) break;
    // Blocks of the same size as a one-thread run's, so the same progress comes.
    const uint32_t chunk =
        static_cast<uint32_t>(std::min<int64_t>(FRemainingOutput, kInflateOutputSize));
    uint32_t filled = 0;
    TInflateStep step = TInflateStep::Full;
    while (filled < chunk) {
      if (run != nullptr) {
        const size_t n = std::min<size_t>(run->Count - delivered, chunk - filled);
        InflateResolveAhead(run->Symbols() + delivered, n, history.data(), output + filled);
        filled += static_cast<uint32_t>(n);
        delivered += n;
        if (delivered < run->Count) break;  // the block is full
        // The history behind the run, then on from its end.
        const size_t count = run->Count;
        if (count >= kInflateAheadHistory) {
          InflateResolveAhead(run->Symbols() + count - kInflateAheadHistory, kInflateAheadHistory,
                              history.data(), behind.data());
        } else {
          std::memcpy(behind.data(), history.data() + count, kInflateAheadHistory - count);
          InflateResolveAhead(run->Symbols(), count, history.data(),
                              behind.data() + kInflateAheadHistory - count);
        }
        const uint64_t endBit = run->EndBit;
        const bool final = run->Final;
        ahead.Release();
        run = nullptr;
        if (!FInflate->SkipTo(endBit, behind.data(), source, skip)) {
          step = TInflateStep::Starved;
          break;
        }
        if (final) {
          step = TInflateStep::End;
          break;
        }
        continue;
      }
      const uint64_t start = ahead.NextStart(FInflate->BitPosition());
      step = FInflate->RunTo(output + filled, chunk - filled, source, start);
      filled += FInflate->Produced();
      if (step != TInflateStep::Block) break;
      step = TInflateStep::Full;
      if (FInflate->BitPosition() == start) {
        run = ahead.Take(start);
        delivered = 0;
        if (run != nullptr) {
          InflateHistory(FInflate->Engine(), history.data());
          ++FStretchesTaken;
        }
      }
    }
    if (filled > 0) {
      WriteBlock(out, output, static_cast<int32_t>(filled), {.CrcKind = kCrcKind32});
      CountInflated(filled);
    }
    if (step == TInflateStep::End) {
      ended = FRemainingOutput == 0;
      break;
    }
    if (step == TInflateStep::Full) continue;
    return DropRestOfMember();
  }
  if (run != nullptr) ahead.Release();
  return ended || FRemainingOutput == 0;
}

void TUnZip::StartDecodeAhead(std::unique_ptr<TStream32>& archive) {
  EndDecodeAhead();
  FAheadTaken = 0;
  FAheadWritten = 0;
  FStretchesTaken = 0;
  FKeysTaken = 0;
  // Sequential by nature, so the walk decodes on its own: a set of volumes or disks (the next one
  // is asked for in the middle of a member), an archive that is not a plain file of its own (the
  // worker opens the file by name), a handful of members, or one thread.
  if (FDiskSpanned || FArcType == atZipMV || FList == nullptr || FList->Count() < kAheadMinMembers)
    return;
  if (dynamic_cast<TFileStream32*>(archive.get()) == nullptr) return;
  if (ExtractionThreads() < 2) return;
  // Where the worker puts what it decodes: a test keeps only checksums; an extraction writes
  // unnamed files in the destination's file system (in memory where it cannot).
  TAheadOutput output;
  output.ChecksumsOnly = FTestOnly;
  if (!FTestOnly) output.Folder = FExtractDir;
  std::vector<TAheadJob> jobs;
  std::vector<std::pair<int, int64_t>> aesMembers;
  // A size the directory does not give stands for more than any room (nothing is written ahead
  // past it until the walk is).
  constexpr int64_t kUnknownSize = int64_t{1} << 52;
  output.BytesBefore.reserve(static_cast<size_t>(FList->Count()) + 1);
  output.BytesBefore.push_back(0);
  for (int i = 0; i < FList->Count(); ++i) {
    const uint8_t* central = FList->Central(i);
    const TCentralFileHeader c =
        central ? TCentralFileHeader::Decode(central) : TCentralFileHeader{};
    const TZipEntryExtra* kept = FList->Extra(i);
    // The directory's sizes as the walk takes them in the common case; where the walk takes them
    // otherwise, the key differs and the walk decodes the member itself.
    const auto size = [](bool keptHas, int64_t keptValue, uint32_t field) -> int64_t {
      if (keptHas) return keptValue;
      return field == kZip64Marker32 ? -1 : static_cast<int64_t>(field);
    };
    const int64_t unpacked =
        central ? size(kept && kept->HasUnpackedSize, kept ? kept->UnpackedSize : 0,
                       c.UnpackedSize)
                : -1;
    output.BytesBefore.push_back(output.BytesBefore.back() +
                                 (unpacked < 0 ? kUnknownSize : std::min(unpacked, kUnknownSize)));
    if (central == nullptr) continue;
    if (c.Method == kMethodAes && (c.Flags & kFlagEncrypted) != 0)
      aesMembers.emplace_back(i, FList->Header(i).LocalOffset);
    if (c.Method != kMethodStored && c.Method != kMethodDeflated) continue;
    TAheadJob job;
    job.Index = i;
    job.LocalOffset = FList->Header(i).LocalOffset;
    job.Method = c.Method;
    job.Flags = c.Flags;
    job.PackedSize = size(kept && kept->HasPackedSize, kept ? kept->PackedSize : 0, c.PackedSize);
    job.UnpackedSize = unpacked;
    if (job.PackedSize <= 0 || job.UnpackedSize <= 0 ||
        job.UnpackedSize > TDecodeAhead::kMemberLimit)
      continue;
    jobs.push_back(job);
  }
  // AES members: their keys are derived ahead once the walk has opened one (then the password is
  // known, whether given or asked for).
  if (aesMembers.size() >= static_cast<size_t>(kAheadMinMembers)) FAesMembers = std::move(aesMembers);
  if (jobs.size() < static_cast<size_t>(kAheadMinMembers)) return;
  // The walk tries the password in use first, then the list, in order.
  std::vector<std::string> passwords;
  if (!FPassword.empty()) passwords.push_back(FPassword);
  for (int i = 0; i < FPasswords.Count(); ++i) passwords.push_back(FPasswords[i]);
  try {
    FAhead = std::make_unique<TDecodeAhead>(FArchiveFile, std::move(jobs), std::move(passwords),
                                            std::move(output));
  } catch (const std::exception&) {
    // No thread or no memory for one: the walk decodes every member itself, as on one thread.
    FAhead.reset();
  }
}

void TUnZip::EndDecodeAhead() {
  FAheadMember.Reset();
  FAheadAt = -1;
  FAhead.reset();
  FKeysAhead.reset();
  FAesMembers.clear();
}

bool TUnZip::StartAes(unsigned strength, const uint8_t* salt, const uint8_t* verifier) {
  TAesDerived derived;
  if (FKeysAhead && FKeysAhead->Take(FCurrentEntry, FPassword, strength, salt, derived)) {
    ++FKeysTaken;
    return FAes.Start(derived, verifier);
  }
  if (!FAes.Start(FPassword, strength, salt, verifier)) return false;
  if (!FKeysAhead && !FAesMembers.empty()) {
    // The first member opened: the keys of the members after it are derived ahead with its
    // password.
    std::vector<std::pair<int, int64_t>> ahead;
    for (const auto& member : FAesMembers)
      if (member.first > FCurrentEntry) ahead.push_back(member);
    FAesMembers.clear();
    try {
      FKeysAhead = std::make_unique<TAesKeysAhead>(FArchiveFile, std::move(ahead), FPassword);
    } catch (const std::exception&) {
      FKeysAhead.reset();  // no thread or no memory: the walk derives every key itself
    }
  }
  return true;
}

host::THandle TUnZip::TakeOutputMadeAhead(TStream32& archive, const TMemberSizes& sizes) {
  FAheadMember.Reset();
  FAheadAt = -1;
  if (!FAhead || IsAesMember(sizes) || sizes.UnpackedSize <= 0) return host::kInvalidHandle;
  if (sizes.Method != kMethodStored && sizes.Method != kMethodDeflated) return host::kInvalidHandle;
  // The key of the walk's own decode: the data after the encryption header the password test
  // has read.
  TAheadKey key;
  key.DataStart = archive.Position();
  key.Method = static_cast<uint16_t>(sizes.Method);
  key.Enciphered = (sizes.Flags & kFlagEncrypted) != 0;
  key.PackedSize = sizes.PackedSize - (key.Enciphered ? kZipEncryptionHeaderSize : 0);
  key.UnpackedSize = sizes.UnpackedSize;
  if (key.Enciphered) key.Password = FPassword;
  if (!FAhead->Take(FCurrentEntry, key, FAheadMember)) return host::kInvalidHandle;
  FAheadAt = FCurrentEntry;
  return FAheadMember.ReleaseFile();
}

bool TUnZip::UseDecodedAhead(host::THandle out, bool& decoded) {
  using TForm = TAheadMember::TForm;
  const TForm form = FAheadAt == FCurrentEntry ? FAheadMember.Form : TForm::None;
  FAheadAt = -1;
  // A file made ahead that could not be given the output's name was closed: decoded afresh (and
  // no more are made where they may not be named).
  if (form == TForm::File && !FOutputAdopted && FAhead) FAhead->WriteNoMoreFiles();
  if (form == TForm::None || (form == TForm::File && !FOutputAdopted) || FAesActive ||
      FRemainingOutput <= 0) {
    FAheadMember.Reset();
    return false;
  }
  ++FAheadTaken;
  FAheadWritten += form == TForm::File;
  // The writes (of bytes in memory; a file holds them already), the counters and the progress of
  // the walk's own decode, block for block: the inflate's output blocks, or the stored copy's.
  const bool write = form == TForm::Bytes;
  const int64_t size = FSizes.UnpackedSize;
  uint8_t* next = FAheadMember.Bytes.data();
  const auto give = [&](int32_t chunk) {
    if (!write) return;
    WriteBlock(out, next, chunk, {.CrcKind = kCrcKind32});
    next += chunk;
  };
  if (!write) FChecksums.Crc32 = FAheadMember.Crc;
  if (FSizes.Method == kMethodDeflated) {
    while (FRemainingOutput > 0) {
      if (FCancel) break;
      const int32_t chunk =
          static_cast<int32_t>(std::min<int64_t>(FRemainingOutput, kInflateOutputSize));
      give(chunk);
      FRemainingOutput -= chunk;
      FRemaining -= chunk;
      ReportProgress(size - FRemainingOutput, size, FTotalUnpacked);
    }
    FRemainingInput = 0;
    decoded = FRemainingOutput == 0;
  } else {
    int64_t left = size;
    while (left > 0) {
      const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(left, kCopyBlockSize));
      left -= chunk;
      FRemaining -= chunk;
      give(chunk);
      ReportProgress(size - left, size, FTotalUnpacked);
      if (FCancel) break;
    }
    decoded = left == 0;
  }
  FAheadMember.Reset();
  return true;
}
