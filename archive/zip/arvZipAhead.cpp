// The worker that decodes small zip members ahead of the walk, through its own handle.
#include "archive/zip/arvZipAhead.h"

#include <algorithm>

#include "archive/codecs/arvCrypt.h"
#include "archive/codecs/arvZipConsts.h"
#include "archive/common/arvStreams.h"
#include "archive/records/arvZipRecs.h"
#include "platform/host_positioned.h"

namespace {

constexpr int kRawDeflate = -15;             // raw deflate data: no zlib header or trailer
constexpr int32_t kAheadInputSize = 65536;   // compressed bytes read at a time
constexpr size_t kLocalFlagsAt = 6, kLocalMethodAt = 8, kLocalTimeAt = 10, kLocalCrcAt = 14;
constexpr size_t kLocalNameLengthAt = 26, kLocalExtraLengthAt = 28;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool SameKey(const TAheadKey& a, const TAheadKey& b) {
  return a.DataStart == b.DataStart && a.Method == b.Method && a.PackedSize == b.PackedSize &&
         a.UnpackedSize == b.UnpackedSize && a.Enciphered == b.Enciphered &&
         (!a.Enciphered || a.Password == b.Password);
}

}  // namespace

TAheadMember& TAheadMember::operator=(TAheadMember&& other) noexcept {
  if (this != &other) {
    Reset();
    Form = other.Form;
    Key = std::move(other.Key);
    Bytes = std::move(other.Bytes);
    File = other.File;
    Crc = other.Crc;
    other.File = host::kInvalidHandle;
    other.Form = TForm::None;
  }
  return *this;
}

void TAheadMember::Reset() {
  if (File >= 0) host::FileClose(File);
  File = host::kInvalidHandle;
  Form = TForm::None;
  Bytes.clear();
}

host::THandle TAheadMember::ReleaseFile() {
  const host::THandle file = File;
  File = host::kInvalidHandle;
  return file;
}

TDecodeAhead::TDecodeAhead(const std::string& archiveFile, std::vector<TAheadJob> jobs,
                           std::vector<std::string> passwords, TAheadOutput output)
    : FPasswords(std::move(passwords)),
      FJobs(std::move(jobs)),
      FLeft(FJobs.size(), false),
      FOutput(std::move(output)),
      FFiles(FOutput.Folder.empty() || FOutput.ChecksumsOnly
                 ? nullptr
                 : std::make_unique<host::TUnnamedFiles>(FOutput.Folder)),
      FHandle(host::FileOpen(archiveFile, host::fmOpenRead | host::fmShareDenyNone)),
      FWorker([this] { Work(); }) {}

TDecodeAhead::~TDecodeAhead() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  FWorker.join();
  if (FHandle >= 0) host::FileClose(FHandle);
}

bool TDecodeAhead::Take(int index, const TAheadKey& key, TAheadMember& member) {
  member.Reset();
  std::unique_lock<std::mutex> lock(FLock);
  FWalkAt = std::max(FWalkAt, index);
  FFloor = std::max(FFloor, index);
  while (!FDone.empty() && FDone.begin()->first < index) {
    FWaitingBytes -= static_cast<int64_t>(FDone.begin()->second.Bytes.size());
    FDone.erase(FDone.begin());
  }
  FChanged.notify_all();
  // The worker is on this very member: waiting for it costs less than decoding it again.
  FChanged.wait(lock, [&] { return FWorkingOn != index; });
  bool taken = false;
  const auto it = FDone.find(index);
  if (it != FDone.end()) {
    FWaitingBytes -= static_cast<int64_t>(it->second.Bytes.size());
    if (SameKey(it->second.Key, key)) {
      member = std::move(it->second);
      taken = true;
      ++FTaken;
    }
    FDone.erase(it);
  }
  FFloor = std::max(FFloor, index + 1);  // the worker skips it if it has not begun it
  FChanged.notify_all();
  return taken;
}

TAheadMember::TForm TDecodeAhead::FormFor(const TAheadJob& job, int walkAt, TAheadMember& member) {
  using TForm = TAheadMember::TForm;
  if (FOutput.ChecksumsOnly) return TForm::Checksum;
  if (FFiles && !FNoMoreFiles) {
    // Written ahead only while the destination has room for every member from the walk's up to
    // this one: a full disk then meets the member a one-thread run meets it at.
    const std::vector<int64_t>& before = FOutput.BytesBefore;
    const size_t from = static_cast<size_t>(std::max(walkAt, 0));
    const size_t to = static_cast<size_t>(job.Index) + 1;
    if (to < before.size() && from <= to) {
      const int64_t needed = before[to] - before[from] + kRoomMargin;
      if (FFiles->FreeBytes() >= needed) {
        member.File = FFiles->Create();
        if (member.File >= 0) return TForm::File;
      }
    }
  }
  // In memory a plain stored member would only gain a copy.
  if (job.Method == kMethodStored && (job.Flags & kFlagEncrypted) == 0) return TForm::None;
  return TForm::Bytes;
}

void TDecodeAhead::Work() {
  if (FHandle < 0) return;
  for (size_t j = 0; j < FJobs.size(); ++j) {
    const TAheadJob& job = FJobs[j];
    int walkAt = 0;
    {
      std::unique_lock<std::mutex> lock(FLock);
      const auto passed = [&] { return job.Index <= FWalkAt; };
      // Bounded: the next member waits until the walk has taken enough (in memory: bytes).
      FChanged.wait(lock, [&] {
        return FStop || passed() ||
               (FDone.size() < kWaitingCap &&
                (FWaitingBytes == 0 || FWaitingBytes + job.UnpackedSize <= kMemoryCap));
      });
      if (FStop) return;
      if (passed()) continue;
      // A member the walk would reach before it is done here is the walk's: begun here it would
      // only make the walk wait for it. The walk reaches it after the members between: those
      // done here cost it little, those left to it a decode each. So while the walk is near,
      // the worker takes a member only when the walk has at least as many bytes of its own to
      // decode before it; the two then share the work whatever their speeds (a worker that
      // keeps ahead decodes everything).
      int64_t walkOwn = 0;
      size_t between = 0;
      for (size_t k = j; k-- > 0 && FJobs[k].Index > FWalkAt && between < kNearJobs;) {
        ++between;
        if (FLeft[k]) walkOwn += FJobs[k].UnpackedSize;
      }
      if (between < kNearJobs && walkOwn < job.UnpackedSize) {
        FLeft[j] = true;
        continue;
      }
      FWorkingOn = job.Index;
      walkAt = FWalkAt;
    }
    TAheadMember done;
    done.Form = FormFor(job, walkAt, done);
    bool decoded = false;
    try {
      if (done.Form == TAheadMember::TForm::Bytes) {
        done.Bytes.resize(static_cast<size_t>(job.UnpackedSize));
        decoded = Decode(job, done.Key, done.Bytes.data());
      } else if (done.Form != TAheadMember::TForm::None) {
        // A member on its way to a file or a checksum passes through one buffer, made once.
        if (!FDecoded) FDecoded = std::make_unique_for_overwrite<uint8_t[]>(kMemberLimit);
        decoded = Decode(job, done.Key, FDecoded.get()) &&
                  Keep(FDecoded.get(), static_cast<size_t>(job.UnpackedSize), done);
      }
    } catch (const std::bad_alloc&) {
      decoded = false;  // no memory for it: the walk decodes it
    }
    {
      std::lock_guard<std::mutex> lock(FLock);
      FWorkingOn = -1;
      if (decoded && job.Index >= FFloor) {
        FWaitingBytes += static_cast<int64_t>(done.Bytes.size());
        FDone.emplace(job.Index, std::move(done));
      }
    }
    FChanged.notify_all();
  }
}

bool TDecodeAhead::Keep(const uint8_t* bytes, size_t size, TAheadMember& member) {
  member.Crc = Crc32Update(0xFFFFFFFF, bytes, size);
  if (member.Form != TAheadMember::TForm::File) return true;
  // A failure here is said by no one: the walk writes the member itself and says why it could
  // not.
  return host::FileWrite(member.File, bytes, static_cast<uint32_t>(size)) ==
         static_cast<int32_t>(size);
}

bool TDecodeAhead::ReadAt(uint8_t* buffer, int64_t count, int64_t offset) {
  while (count > 0) {
    if (FStop) return false;
    const uint32_t want = static_cast<uint32_t>(std::min<int64_t>(count, kMemberLimit));
    if (host::FileReadAt(FHandle, buffer, want, offset) != static_cast<int32_t>(want)) return false;
    buffer += want;
    count -= want;
    offset += want;
  }
  return true;
}

bool TDecodeAhead::Decode(const TAheadJob& job, TAheadKey& key, uint8_t* output) {
  uint8_t local[kLocalHeaderSize];
  if (!ReadAt(local, kLocalHeaderSize, job.LocalOffset) || Le32(local) != kLocalSig) return false;
  if (Le16(local + kLocalMethodAt) != job.Method) return false;
  key.DataStart = job.LocalOffset + static_cast<int64_t>(kLocalHeaderSize) +
                  Le16(local + kLocalNameLengthAt) + Le16(local + kLocalExtraLengthAt);
  key.Method = job.Method;
  key.PackedSize = job.PackedSize;
  key.UnpackedSize = job.UnpackedSize;
  key.Enciphered = (job.Flags & kFlagEncrypted) != 0;
  TZipCipher cipher;
  if (key.Enciphered) {
    // The walk's password test, with the candidates in the walk's order.
    uint8_t header[2 * kZipEncryptionHeaderSize];
    if (!ReadAt(header + kZipEncryptionHeaderSize, kZipEncryptionHeaderSize, key.DataStart))
      return false;
    bool opened = false;
    for (const std::string& password : FPasswords) {
      if (TestZipPassword(cipher, password, header, Le16(local + kLocalFlagsAt),
                          Le16(local + kLocalTimeAt), Le32(local + kLocalCrcAt))) {
        key.Password = password;
        opened = true;
        break;
      }
    }
    if (!opened) return false;
    key.DataStart += kZipEncryptionHeaderSize;
    key.PackedSize -= kZipEncryptionHeaderSize;
  }
  if (key.PackedSize < 0) return false;
  if (job.Method == kMethodStored) {
    if (key.PackedSize != key.UnpackedSize) return false;
    if (!ReadAt(output, key.PackedSize, key.DataStart)) return false;
    if (key.Enciphered) cipher.DecipherBuffer(output, static_cast<size_t>(key.PackedSize));
    return true;
  }
  // Deflated: the whole member in one run of the engine; anything but its exact end within the
  // member's compressed bytes is left to the walk.
  if (!FInflate) {
    FInput.resize(static_cast<size_t>(kAheadInputSize));
    FInflate = std::make_unique<TInflateDriver>(FInput.data(), kAheadInputSize);
  }
  TInflateDriver& inflate = *FInflate;
  if (inflate.Start(kRawDeflate, false) != kInflateOk) return false;
  int64_t at = key.DataStart;
  int64_t left = key.PackedSize;
  const TInflateSource source = [&](uint8_t* buffer, int32_t room) -> int32_t {
    if (FStop) return kInflateSourceCancelled;
    const int32_t want = static_cast<int32_t>(std::min<int64_t>(left, room));
    if (want <= 0) return 0;
    const int32_t got = host::FileReadAt(FHandle, buffer, static_cast<uint32_t>(want), at);
    if (got <= 0) return 0;
    if (key.Enciphered) cipher.DecipherBuffer(buffer, static_cast<size_t>(got));
    at += got;
    left -= got;
    return got;
  };
  const TInflateStep step =
      inflate.Run(output, static_cast<uint32_t>(job.UnpackedSize), source);
  return step == TInflateStep::End && inflate.Produced() == job.UnpackedSize;
}

// ---- TAesKeysAhead -------------------------------------------------------------------------------
TAesKeysAhead::TAesKeysAhead(const std::string& archiveFile,
                             std::vector<std::pair<int, int64_t>> localOffsets,
                             std::string password)
    : FJobs(std::move(localOffsets)),
      FPassword(std::move(password)),
      FHandle(host::FileOpen(archiveFile, host::fmOpenRead | host::fmShareDenyNone)),
      FWorker([this] { Work(); }) {}

TAesKeysAhead::~TAesKeysAhead() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  FWorker.join();
  if (FHandle >= 0) host::FileClose(FHandle);
}

bool TAesKeysAhead::Take(int index, const std::string& password, unsigned strength,
                         const uint8_t* salt, TAesDerived& derived) {
  std::unique_lock<std::mutex> lock(FLock);
  FFloor = std::max(FFloor, index);
  FDone.erase(FDone.begin(), FDone.lower_bound(index));
  FChanged.notify_all();
  // The worker is on this very member: waiting costs less than deriving again.
  FChanged.wait(lock, [&] { return FWorkingOn != index; });
  bool taken = false;
  const auto it = FDone.find(index);
  if (it != FDone.end()) {
    const TDone& done = *it->second;
    if (password == FPassword && strength == done.Derived.Strength &&
        std::equal(salt, salt + AesSaltSize(strength), done.Salt)) {
      derived = done.Derived;
      taken = true;
      ++FTaken;
    }
    FDone.erase(it);
  }
  FFloor = std::max(FFloor, index + 1);  // the worker skips it if it has not begun it
  FChanged.notify_all();
  return taken;
}

void TAesKeysAhead::Work() {
  if (FHandle < 0) return;
  size_t next = 0;  // the next job the worker has not passed
  for (;;) {
    int index = 0;
    int64_t localOffset = 0;
    {
      std::unique_lock<std::mutex> lock(FLock);
      FChanged.wait(lock, [&] { return FStop || FDone.size() < kWaitingCap; });
      if (FStop) return;
      // Every other member is the walk's to derive; of the others, those the walk is not past.
      while (next < FJobs.size() && (FJobs[next].first < FFloor || next % 2 == 0)) ++next;
      if (next >= FJobs.size()) return;
      index = FJobs[next].first;
      localOffset = FJobs[next].second;
      ++next;
      FWorkingOn = index;
    }
    auto done = std::make_unique<TDone>();
    const bool derived = Derive(localOffset, *done);
    {
      std::lock_guard<std::mutex> lock(FLock);
      FWorkingOn = -1;
      if (derived && index >= FFloor) FDone.emplace(index, std::move(done));
    }
    FChanged.notify_all();
  }
}

bool TAesKeysAhead::Derive(int64_t localOffset, TDone& done) {
  uint8_t local[kLocalHeaderSize];
  if (host::FileReadAt(FHandle, local, kLocalHeaderSize, localOffset) !=
          static_cast<int32_t>(kLocalHeaderSize) ||
      Le32(local) != kLocalSig || Le16(local + kLocalMethodAt) != kMethodAes)
    return false;
  // The strength from the local header's AES field, as the walk takes it.
  const uint16_t nameLength = Le16(local + kLocalNameLengthAt);
  const uint16_t extraLength = Le16(local + kLocalExtraLengthAt);
  std::vector<uint8_t> extra(extraLength);
  const int64_t extraAt = localOffset + static_cast<int64_t>(kLocalHeaderSize) + nameLength;
  if (extraLength == 0 ||
      host::FileReadAt(FHandle, extra.data(), extraLength, extraAt) != extraLength)
    return false;
  const TZipExtra fields = ParseZipExtraFields(extra.data(), extra.size(), false, TZip64Wanted{});
  const unsigned strength = fields.AesStrength;
  const size_t saltSize = AesSaltSize(strength);
  if (!fields.HasAes || saltSize == 0) return false;
  if (host::FileReadAt(FHandle, done.Salt, static_cast<uint32_t>(saltSize),
                       extraAt + extraLength) != static_cast<int32_t>(saltSize))
    return false;
  return DeriveAesKeys(FPassword, strength, done.Salt, done.Derived);
}
