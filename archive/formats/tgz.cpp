// The lister's walk through a gzip-compressed TAR (.tar.gz, .tgz): the deflate data is inflated by
// our own engine in fixed pieces and the TAR headers are read from the stream as they come; member
// data is inflated into a scratch buffer and dropped, so memory stays the same however large the
// archive. Concatenated gzip members continue the stream. Nothing is written anywhere.
#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/codecs/arvInflate.h"
#include "archive/common/arvStreams.h"
#include "archive/formats/gzip.h"
#include "archive/formats/lister_format.h"
#include "archive/formats/tar.h"
#include "archive/records/arvZipRecs.h"

namespace tgz {

namespace {

constexpr int32_t kInputPiece = 1 << 16;
constexpr int32_t kScratchSize = 1 << 16;
constexpr int32_t kTrailerSize = 8;  // CRC-32 and size of each gzip member
static_assert(kInputPiece <= TWalkStream::kWindowSize);

// The decompressed bytes of the gzip members from a given header on.
class TGzipReader {
 public:
  TGzipReader(TWalkStream& stream, int64_t fileSize, int64_t dataStart)
      : FStream(stream), FFileSize(fileSize), FInputPos(dataStart) {
    FOk = FDriver.Start(kRawDeflateWindowBits, false) == kInflateOk;
  }
  TGzipReader(const TGzipReader&) = delete;
  TGzipReader& operator=(const TGzipReader&) = delete;

  // Up to `count` bytes into `out`; fewer only at the end of the data or on a failure.
  size_t Read(uint8_t* out, size_t count) {
    const TInflateSource source = [this](uint8_t* buffer, int32_t room) -> int32_t {
      const auto want = static_cast<int32_t>(std::min<int64_t>(room, FFileSize - FInputPos));
      int32_t got = 0;
      const uint8_t* bytes = want > 0 ? FStream.Peek(FInputPos, want, got) : nullptr;
      if (!bytes || got <= 0) return 0;
      std::memcpy(buffer, bytes, static_cast<size_t>(got));
      FInputPos += got;
      return got;
    };
    size_t done = 0;
    while (done < count && FOk && !FEnded && !FTruncated) {
      const auto room = static_cast<uint32_t>(std::min<size_t>(count - done, UINT32_MAX));
      const TInflateStep step = FDriver.Run(out + done, room, source);
      done += FDriver.Produced();
      if (step == TInflateStep::End) {
        NextMember();
      } else if (step == TInflateStep::Starved) {
        FTruncated = true;  // the file ends inside the deflate data
      } else if (step != TInflateStep::Full) {
        FOk = false;  // the deflate data is corrupt
      }
    }
    FProduced += done;
    return done;
  }

  // How many decompressed bytes were handed out so far.
  uint64_t Produced() const { return FProduced; }

  // Drops `count` bytes of the stream; false when fewer were there.
  bool Skip(uint64_t count) {
    while (count > 0) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(count, kScratchSize));
      const size_t got = Read(FScratch.get(), piece);
      count -= got;
      if (got < piece) return false;
    }
    return true;
  }

  // The data stopped early: corrupt deflate data, or the file ends inside it.
  bool Broken() const { return !FOk || FTruncated; }

 private:
  // Behind a member's trailer another member may follow (concatenated gzip files).
  void NextMember() {
    // The engine stopped right behind the member's data; what it did not take was read ahead.
    const int64_t next = FInputPos - FDriver.InputLeft() + kTrailerSize;
    gzip::THeaderInfo info;
    if (next < FFileSize && gzip::ReadHeader(FStream, next, FFileSize, info) &&
        info.Magic == gzip::kMagicGzip && info.Method == gzip::kMethodDeflate &&
        FDriver.Reset() == kInflateOk) {
      FInputPos = info.DataStart;
      return;
    }
    FEnded = true;
  }

  TWalkStream& FStream;
  int64_t FFileSize;
  int64_t FInputPos;  // the file position of the next input byte not yet read into FInput
  std::unique_ptr<uint8_t[]> FInput = std::make_unique_for_overwrite<uint8_t[]>(kInputPiece);
  TInflateDriver FDriver{FInput.get(), kInputPiece};
  std::unique_ptr<uint8_t[]> FScratch = std::make_unique_for_overwrite<uint8_t[]>(kScratchSize);
  uint64_t FProduced = 0;
  bool FOk = false;
  bool FEnded = false;
  bool FTruncated = false;
};

uint64_t Padded(uint64_t size) {
  return (size + tar::kBlockSize - 1) / tar::kBlockSize * tar::kBlockSize;
}

}  // namespace

bool ListTar(TArcovaWalk& walk, const gzip::THeaderInfo& info) {
  TGzipReader reader(walk.Stream(), walk.ArchiveSize(), info.DataStart);
  uint8_t block[tar::kBlockSize];
  if (reader.Read(block, sizeof block) != sizeof block || !TarHeaderSumOk(block)) return false;

  tar::THeaderReader headers;
  const auto readRecord = [&reader](uint64_t size, std::string& text) {
    const size_t keep = static_cast<size_t>(std::min(size, tar::kMaxRecordKept));
    text.resize(keep);
    if (reader.Read(reinterpret_cast<uint8_t*>(text.data()), keep) != keep) return false;
    return reader.Skip(Padded(size) - keep);
  };
  uint64_t offset = 0;  // of the header in the decompressed stream
  for (;;) {
    offset = reader.Produced() - tar::kBlockSize;
    uint64_t dataSize = 0;
    if (!headers.Header(walk, block, static_cast<int64_t>(offset), readRecord, dataSize)) break;
    if (walk.Cancelled()) break;
    if (!reader.Skip(Padded(dataSize))) break;
    if (reader.Read(block, sizeof block) != sizeof block) break;
  }
  if (reader.Broken() && !walk.Cancelled())
    walk.ReportError(walk.ArchiveFile(), kErrReadingFile);
  return true;
}

}  // namespace tgz
