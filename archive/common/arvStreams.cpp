// Checksums (CRC-32 braided over four lanes, CRC-16/ARC, the TAR header sum) and the
// 64-bit stream classes: the base stream, handle and file streams on host handles, and the
// decompressing stream over the inflate engine. Deflate itself lives in arvInflate; nothing here
// compresses.
#include "archive/common/arvStreams.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "archive/codecs/arvCrc32Clmul.h"
#include "archive/messages/Err_Msgs.h"
#include "platform/host_positioned.h"

// ---- checksums ----------------------------------------------------------------------------------
namespace {

// Braided CRC-32: the input is taken as words of 8 bytes dealt round-robin to 4 lanes, and each
// lane folds its words into a register of its own as if the other lanes' bytes were zeros. Table k
// maps byte k of a word to its contribution once the lane's next word is due, that is after
// 7 - k more bytes of its own word and 3 * 8 bytes of the other lanes; by linearity the lanes'
// registers are combined at the last block. The lanes are independent chains, so the look-ups
// (one per byte, as in the plain loop) overlap instead of waiting on each other. Four lanes ran
// fastest here; the upper half of each word is indexed straight from memory, which saves the
// shifts that would otherwise compete with the look-ups.
constexpr int kCrcLanes = 4;
constexpr int kCrcWordSize = 8;
constexpr size_t kCrcBlockSize = kCrcLanes * kCrcWordSize;  // bytes per round of all lanes
struct TCrc32Braid {
  uint32_t t[kCrcWordSize][256];
};
constexpr uint32_t Crc32ZeroBytes(uint32_t crc, int count) {
  for (int i = 0; i < count; ++i) crc = kCrc32Table[crc & 0xFF] ^ (crc >> 8);
  return crc;
}
constexpr TCrc32Braid MakeCrc32Braid() {
  TCrc32Braid b{};
  for (int k = 0; k < kCrcWordSize; ++k) {
    for (int n = 0; n < 256; ++n) {
      b.t[k][n] =
          Crc32ZeroBytes(kCrc32Table[n], (kCrcWordSize - 1 - k) + (kCrcLanes - 1) * kCrcWordSize);
    }
  }
  return b;
}
alignas(64) constexpr TCrc32Braid kCrc32Braid = MakeCrc32Braid();

// The plain step over one 8-byte word.
inline uint32_t Crc32Word(uint64_t word) {
  for (int k = 0; k < kCrcWordSize; ++k) word = (word >> 8) ^ kCrc32Table[word & 0xFF];
  return static_cast<uint32_t>(word);
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, size_t count) {
  if (bytes == nullptr) return crc;
  // Long buffers go to the carry-less-multiplication fold where the processor has it.
  if (count >= kCrc32ClmulMinimum && Crc32ClmulAvailable())
    return Crc32FoldClmul(crc, bytes, count);
  while (count > 0 && (reinterpret_cast<uintptr_t>(bytes) & (kCrcWordSize - 1)) != 0) {
    crc = Crc32Step(crc, *bytes++);
    --count;
  }
  // The braid needs at least two rounds: all but the last run on lanes, the last combines them.
  if (const size_t rounds = count / kCrcBlockSize; rounds >= 2) {
    const auto& t = kCrc32Braid.t;
    uint32_t lane[kCrcLanes] = {crc};  // the running register enters lane 0
    for (size_t r = 1; r < rounds; ++r) {
#pragma GCC unroll 4
      for (int i = 0; i < kCrcLanes; ++i) {
        const uint8_t* q = bytes + i * kCrcWordSize;
        const uint32_t low = GetLe32(q) ^ lane[i];
        lane[i] = t[0][low & 0xFF] ^ t[1][(low >> 8) & 0xFF] ^ t[2][(low >> 16) & 0xFF] ^
                  t[3][low >> 24] ^ t[4][q[4]] ^ t[5][q[5]] ^ t[6][q[6]] ^ t[7][q[7]];
      }
      bytes += kCrcBlockSize;
      count -= kCrcBlockSize;
    }
    uint64_t combined = 0;
    for (int i = 0; i < kCrcLanes; ++i) {
      combined = Crc32Word(lane[i] ^ GetLe64(bytes + i * kCrcWordSize) ^ combined);
    }
    crc = static_cast<uint32_t>(combined);
    bytes += kCrcBlockSize;
    count -= kCrcBlockSize;
  }
  while (count > 0) {
    crc = Crc32Step(crc, *bytes++);
    --count;
  }
  return crc;
}

uint32_t Crc16Update(uint32_t crc, const uint8_t* bytes, size_t count) {
  if (bytes == nullptr) return crc;
  for (size_t i = 0; i < count; ++i) crc = kCrc16Table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

bool TarHeaderSumOk(const uint8_t header[512]) {
  constexpr size_t kHeaderSize = 512;
  constexpr size_t kSumField = 148;  // 8 bytes of octal digits, counted as spaces in the sum
  constexpr size_t kSumFieldSize = 8;
  uint32_t sum = 0;
  for (size_t i = 0; i < kHeaderSize; ++i) {
    const bool inField = i >= kSumField && i < kSumField + kSumFieldSize;
    sum += inField ? uint32_t{' '} : header[i];
  }
  size_t i = kSumField;
  const size_t end = kSumField + kSumFieldSize;
  while (i < end && header[i] == ' ') ++i;
  uint32_t stored = 0;
  size_t digits = 0;
  for (; i < end && header[i] >= '0' && header[i] <= '7'; ++i, ++digits) {
    stored = stored * 8 + (header[i] - '0');
  }
  return digits > 0 && stored == sum;
}

void TRunningChecksums::UpdateCrc(int kind, const uint8_t* bytes, size_t count) {
  if (kind == kCrcKind32) {
    Crc32 = Crc32Update(Crc32, bytes, count);
  } else if (kind == kCrcKind16) {
    Crc16 = Crc16Update(Crc16, bytes, count);
  }
}

// ---- TStream32 ----------------------------------------------------------------------------------
namespace {

constexpr char kRangeCheckError[] = "Range check error";
constexpr char kSeekNotImplemented[] = "Seek not implemented";
constexpr char kStreamReadError[] = "Stream read error";
constexpr char kStreamWriteError[] = "Stream write error";

bool FitsInt32(int64_t value) {
  return value >= std::numeric_limits<int32_t>::min() &&
         value <= std::numeric_limits<int32_t>::max();
}
int32_t CheckedInt32(int64_t value) {
  if (!FitsInt32(value)) throw ERangeError(kRangeCheckError);
  return static_cast<int32_t>(value);
}

}  // namespace

int64_t TStream32::GetSize() {
  const int64_t position = Seek64(0, host::kSeekCurrent);
  const int64_t size = Seek64(0, host::kSeekEnd);
  Seek64(position, host::kSeekBegin);
  return size;
}

void TStream32::SetSize(int32_t) {}

void TStream32::SetSize64(int64_t newSize) {
  SetSize(CheckedInt32(newSize));
}

int32_t TStream32::Seek(int32_t offset, int origin) {
  if (!HasSeek64()) throw EStreamError(kSeekNotImplemented);
  const int64_t position = Seek64(offset, origin);
  return position < 0 ? static_cast<int32_t>(position) : CheckedInt32(position);
}

int64_t TStream32::Seek64(int64_t offset, int origin) {
  return Seek(CheckedInt32(offset), origin);
}

int64_t TStream32::CopyFrom(TStream32& source, const uint8_t* cancel,
                            std::function<void(TStream32&)> progress, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  OnProgress = std::move(progress);
  if (count <= 0) return 0;
  const auto cancelled = [cancel] { return cancel != nullptr && *cancel != 0; };
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, kCopyChunkSize)));
  int64_t copied = 0;
  while (count > 0 && !cancelled()) {
    const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(count, kCopyChunkSize));
    host::ProcessMessages();
    if (cancelled()) break;  // the pump may have delivered the click on Cancel
    source.ReadBuffer(buffer.data(), chunk);
    WriteBuffer(buffer.data(), chunk);
    count -= chunk;
    copied += chunk;
  }
  return copied;
}

int32_t TStream32::ReadUpTo(void* buffer, int32_t count) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  int32_t total = 0;
  while (total < count) {
    int32_t got = 0;
    try {
      got = Read(bytes + total, count - total);
    } catch (const EStreamError&) {
      got = 0;  // a failed read is a short read
    }
    if (got <= 0) break;
    total += got;
  }
  return total;
}

int32_t TStream32::ReadAt(int64_t position, void* buffer, int32_t count) {
  if (position < 0 || count <= 0) return 0;
  if (Seek64(position, host::kSeekBegin) != position) return 0;
  return ReadUpTo(buffer, count);
}

void TStream32::ReadBuffer(void* buffer, int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError(kStreamReadError);
}

void TStream32::WriteBuffer(const void* buffer, int32_t count) {
  if (count == 0) return;
  host::SetLastError(host::kErrorSuccess);  // a stale "disk full" must not label this write
  if (Write(buffer, count) == count) return;
  if (host::LastError() == host::kErrorDiskFull) throw EWriteError(LoadStr(kErrDiskFull));
  throw EWriteError(kStreamWriteError);
}

void TStream32::Progress() {
  if (OnProgress) OnProgress(*this);
}

// ---- THandleStream32, TFileStream32 -------------------------------------------------------------
int64_t THandleStream32::GetSize() {
  const int64_t size = host::FileSize(FHandle);
  return size < 0 ? 0 : size;
}

void THandleStream32::SetSize(int32_t newSize) {
  SetSize64(newSize);
}

void THandleStream32::SetSize64(int64_t newSize) {
  if (Seek64(newSize, host::kSeekBegin) != newSize || !host::SetEndOfFile(FHandle)) {
    throw EStreamError(host::SysErrorMessage(host::LastError()));
  }
}

int32_t THandleStream32::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int32_t got = host::FileRead(FHandle, buffer, static_cast<uint32_t>(count));
  return got < 0 ? 0 : got;
}

int32_t THandleStream32::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int32_t put = host::FileWrite(FHandle, buffer, static_cast<uint32_t>(count));
  return put < 0 ? 0 : put;
}

int32_t THandleStream32::Seek(int32_t offset, int origin) {
  const int64_t position = host::FileSeek(FHandle, offset, origin);
  return position < 0 ? -1 : CheckedInt32(position);
}

int64_t THandleStream32::Seek64(int64_t offset, int origin) {
  return host::FileSeek(FHandle, offset, origin);
}

TFileStream32::TFileStream32(const std::string& fileName, uint32_t mode)
    : THandleStream32(mode == fmCreate ? host::FileCreate(fileName)
                                       : host::FileOpen(fileName, mode)) {}

TFileStream32::~TFileStream32() {
  if (FHandle >= 0) host::FileClose(FHandle);
}

// ---- TArchiveFileStream --------------------------------------------------------------------------
TArchiveFileStream::TArchiveFileStream(const std::string& fileName)
    : TFileStream32(fileName, host::fmOpenRead | host::fmShareDenyWrite) {}

void TArchiveFileStream::SetSize64(int64_t newSize) {
  FWindowHave = 0;
  FReadEnd = -1;
  THandleStream32::SetSize64(newSize);  // through the handle's own position
  FPosition = newSize;
}

int64_t TArchiveFileStream::Seek64(int64_t offset, int origin) {
  int64_t target = -1;
  if (origin == host::kSeekBegin) {
    target = offset;
  } else if (origin == host::kSeekCurrent) {
    if (offset <= std::numeric_limits<int64_t>::max() - FPosition) target = FPosition + offset;
  }
  if (target >= 0) {
    FPosition = target;
    return target;
  }
  // From the end, or to where the handle cannot go: the handle says where, or why not.
  const int64_t moved = host::FileSeek(FHandle, origin == host::kSeekEnd ? offset : target,
                                       origin == host::kSeekEnd ? origin : host::kSeekBegin);
  if (moved >= 0) FPosition = moved;
  return moved;
}

int32_t TArchiveFileStream::Seek(int32_t offset, int origin) {
  const int64_t position = Seek64(offset, origin);
  return position < 0 ? -1 : CheckedInt32(position);
}

int32_t TArchiveFileStream::Write(const void* buffer, int32_t count) {
  FWindowHave = 0;
  FReadEnd = -1;
  if (count <= 0 || host::FileSeek(FHandle, FPosition, host::kSeekBegin) != FPosition) return 0;
  const int32_t put = THandleStream32::Write(buffer, count);
  FPosition += put;
  return put;
}

int32_t TArchiveFileStream::ReadFromFile(uint8_t* out, int32_t count) {
  const int32_t got = host::FileReadAt(FHandle, out, static_cast<uint32_t>(count), FPosition);
  if (got < 0) return -1;
  FReadEnd = FPosition + got;
  return got;
}

int32_t TArchiveFileStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || FHandle < 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const int32_t wanted = count - done;
    if (FPosition >= FWindowStart && FPosition < FWindowStart + FWindowHave) {
      const int32_t from = static_cast<int32_t>(FPosition - FWindowStart);
      const int32_t n = std::min(wanted, FWindowHave - from);
      std::memcpy(out + done, FWindow.get() + from, static_cast<size_t>(n));
      done += n;
      FPosition += n;
      continue;
    }
    if (wanted >= kWindowSize / 2) {
      const int32_t got = ReadFromFile(out + done, wanted);
      if (got <= 0) break;
      done += got;
      FPosition += got;
      break;
    }
    if (!FWindow) FWindow = std::make_unique<uint8_t[]>(kWindowSize);
    const int32_t fill = FPosition == FReadEnd ? kWindowSize : std::max(kProbeSize, wanted);
    FWindowStart = FPosition;
    FWindowHave = 0;
    const int32_t got = ReadFromFile(FWindow.get(), fill);
    if (got <= 0) break;
    FWindowHave = got;
  }
  return done;
}

// ---- TCustomStream, TDecompressStream -----------------------------------------------------------
TCustomStream::TCustomStream(TStream32& source)
    : FSource(&source),
      FSourcePosition(source.Position()),
      FInput(std::make_unique_for_overwrite<uint8_t[]>(kInputBufferSize)) {}

// ---- the inflate driver -------------------------------------------------------------------------
TInflateDriver::~TInflateDriver() {
  if (FMade) InflateEnd(FStream);
}

int TInflateDriver::Start(int windowBits, bool deflate64) {
  int code = kInflateOk;
  if (FMade && windowBits == FWindowBits && deflate64 == FDeflate64) {
    code = InflateReset(FStream);
  } else {
    if (FMade) InflateEnd(FStream);
    FStream = TInflateStream{};
    code = InflateInit(FStream, windowBits, kInflateStreamSize, deflate64);
    FMade = code == kInflateOk;
    FWindowBits = windowBits;
    FDeflate64 = deflate64;
  }
  DropInput();
  FLastCode = code;
  return code;
}

int TInflateDriver::Reset() {
  if (!FMade) {
    DropInput();
    return FLastCode;
  }
  return Start(FWindowBits, FDeflate64);
}

void TInflateDriver::DropInput() {
  FStream.next_in = FInput;
  FStream.avail_in = 0;
}

TInflateStep TInflateDriver::Run(uint8_t* output, uint32_t room, const TInflateSource& source) {
  return RunTo(output, room, source, UINT64_MAX);
}

TInflateStep TInflateDriver::RunTo(uint8_t* output, uint32_t room, const TInflateSource& source,
                                   uint64_t stopBit) {
  FProduced = 0;
  if (!FMade) return TInflateStep::Broken;
  FStream.next_out = output;
  FStream.avail_out = room;
  const bool stops = stopBit != UINT64_MAX;
  const auto arrived = [&] { return InflateAtBlockStart(FStream) && BitPosition() >= stopBit; };
  if (stops && arrived()) return TInflateStep::Block;
  TInflateStep step = TInflateStep::Full;
  while (FStream.avail_out > 0) {
    if (FStream.avail_in == 0) {
      const int32_t got = source(FInput, FInputSize);
      if (got == kInflateSourceCancelled) {
        step = TInflateStep::Cancelled;
        break;
      }
      FStream.next_in = FInput;
      FStream.avail_in = got > 0 ? static_cast<uint32_t>(got) : 0;
    }
    const uint32_t inBefore = FStream.avail_in;
    const uint32_t outBefore = FStream.avail_out;
    const uint64_t bitBefore = stops ? BitPosition() : 0;
    FLastCode = Inflate(FStream, stops ? kInflateBlock : kInflateNoFlush);
    if (FLastCode == kInflateStreamEnd) {
      step = TInflateStep::End;
      break;
    }
    if (FLastCode == kInflateBufError) {  // nothing moved: the engine needs input the source lacks
      step = TInflateStep::Starved;
      break;
    }
    if (FLastCode == kInflateOk && FStream.avail_in == inBefore && FStream.avail_out == outBefore &&
        (!stops || BitPosition() == bitBefore)) {
      FLastCode = kInflateDataError;  // an engine that cannot move on
      step = TInflateStep::Broken;
      break;
    }
    if (FLastCode != kInflateOk) {
      // Nobody can give the engine the dictionary it asks for; its next call would refuse.
      if (FLastCode == kInflateNeedDict) FLastCode = kInflateStreamError;
      step = TInflateStep::Broken;
      break;
    }
    if (stops && arrived()) {
      step = TInflateStep::Block;
      break;
    }
  }
  FProduced = room - FStream.avail_out;
  return step;
}

bool TInflateDriver::SkipTo(uint64_t bit, const uint8_t* history, const TInflateSource& source,
                            const TInflateSkip& skip) {
  if (!FMade || bit < BitPosition()) return false;
  // Whole bytes past those the engine has taken are dropped here; the engine drops the rest.
  const uint64_t taken = FStream.total_in * 8;
  uint64_t dropBytes = bit > taken ? (bit - taken) / 8 : 0;
  while (dropBytes > 0) {
    if (FStream.avail_in == 0 && dropBytes >= static_cast<uint64_t>(FInputSize) && skip &&
        skip(dropBytes)) {
      FStream.total_in += dropBytes;
      break;
    }
    if (FStream.avail_in == 0) {
      const int32_t got = source(FInput, FInputSize);
      if (got <= 0) return false;
      FStream.next_in = FInput;
      FStream.avail_in = static_cast<uint32_t>(got);
    }
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(dropBytes, FStream.avail_in));
    FStream.next_in += n;
    FStream.avail_in -= n;
    FStream.total_in += n;
    dropBytes -= n;
  }
  if (bit > FStream.total_in * 8 && FStream.avail_in == 0) {
    const int32_t got = source(FInput, FInputSize);
    if (got <= 0) return false;
    FStream.next_in = FInput;
    FStream.avail_in = static_cast<uint32_t>(got);
  }
  FLastCode = InflateContinueAt(FStream, history, kInflateAheadHistory, bit - BitPosition());
  return FLastCode == kInflateOk;
}

// ---- the decompressing stream -------------------------------------------------------------------
TDecompressStream::TDecompressStream(TStream32& source, int windowBits, bool deflate64,
                                     TZipCipher* cipher, const uint8_t* cancel)
    : TCustomStream(source),
      FDriver(FInput.get(), kInputBufferSize),
      FCipher(cipher),
      FStartKeys(cipher != nullptr ? *cipher : TZipCipher{}),
      FCancel(cancel),
      FStartPosition(FSourcePosition) {
  FInitResult = FDriver.Start(windowBits, deflate64);
}

TDecompressStream::~TDecompressStream() {
  if (FReadAny) {
    try {
      // Read-ahead that the engine did not use goes back, so the source stands right after the
      // member's last compressed byte.
      FSource->SetPosition(FSourcePosition - FDriver.InputLeft());
    } catch (const EArvException&) {  // a destructor reports nothing; the owner finds the
    }                                 // position wrong
  }
}

int32_t TDecompressStream::FillInput(uint8_t* buffer, int32_t room) {
  if (FSource->Position() != FSourcePosition) FSource->SetPosition(FSourcePosition);
  const int32_t got = FSource->Read(buffer, room);
  if (got <= 0) return 0;
  FReadAny = true;
  FSourcePosition += got;
  if (FCipher != nullptr) FCipher->DecipherBuffer(buffer, static_cast<size_t>(got));
  Progress();
  return got;
}

int32_t TDecompressStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  if (FInitResult != kInflateOk) return FInitResult;
  if (FEndOfStream) return count;
  const TInflateStep step = FDriver.Run(static_cast<uint8_t*>(buffer), static_cast<uint32_t>(count),
                                        [this](uint8_t* input, int32_t room) {
                                          if (FCancel != nullptr && *FCancel != 0)
                                            return kInflateSourceCancelled;
                                          return FillInput(input, room);
                                        });
  switch (step) {
    case TInflateStep::Full:
    case TInflateStep::Block:  // (Run never stops at blocks)
      return count;
    case TInflateStep::End:
      FEndOfStream = true;
      return count;
    case TInflateStep::Cancelled:
      return 0;
    case TInflateStep::Starved:
    case TInflateStep::Broken:
      break;
  }
  return FDriver.LastCode();
}

int32_t TDecompressStream::Write(const void*, int32_t) {
  return -1;
}

int32_t TDecompressStream::Seek(int32_t offset, int origin) {
  return TStream32::Seek(offset, origin);
}

int64_t TDecompressStream::Seek64(int64_t offset, int origin) {
  CheckedInt32(offset);
  if (origin == host::kSeekBegin && offset == 0) {
    Restart();
    return 0;
  }
  const auto produced = static_cast<int64_t>(TotalOut());
  if (origin == host::kSeekCurrent && offset >= 0) {
    DiscardForward(offset);
  } else if (origin == host::kSeekBegin && offset > produced) {
    DiscardForward(offset - produced);
  }
  return static_cast<int64_t>(TotalOut());
}

void TDecompressStream::AttachSource(TStream32& source, int64_t position) {
  FSource = &source;
  FSourcePosition = position;
  FStartPosition = position;
  FSource->SetPosition(position);
}

void TDecompressStream::DiscardForward(int64_t bytes) {
  uint8_t scrap[kDiscardBlockSize];
  while (bytes > 0 && !FEndOfStream) {
    const auto step = static_cast<int32_t>(std::min<int64_t>(bytes, kDiscardBlockSize));
    ReadBuffer(scrap, step);
    bytes -= step;
  }
}

void TDecompressStream::Restart() {
  FDriver.Reset();
  FEndOfStream = false;
  if (FCipher != nullptr) *FCipher = FStartKeys;
  FSourcePosition = FStartPosition;
  FSource->SetPosition(FStartPosition);
}
