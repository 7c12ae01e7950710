// The member source of the formats libarchive reads: TAR (v7, ustar, GNU, pax, sparse files) plain
// or compressed, cpio, ISO 9660, 7z, RAR 4 and 5 (multi-volume sets too) and single compressed
// files (gzip, bzip2, xz, lzma, zstd, lz4, lzip, compress), whose one member is named after the
// file (or after the name a gzip header holds). The archive is read from its start offset through
// our own callbacks, in fixed blocks, so memory does not grow with the archive. Nothing here writes
// a file or decides what is extracted.
#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/codecs/arvInflate.h"
#include "archive/common/arvGbls.h"
#include "archive/common/arvStreams.h"
#include "archive/formats/arvMemberSource.h"
#include "archive/formats/format_dates.h"
#include "archive/formats/rar_unpack.h"
#include "archive/messages/Err_Msgs.h"
#include "platform/host.h"

namespace {

constexpr size_t kReadBlock = 1 << 18;  // the archive is read in blocks of 256 KiB
constexpr size_t kZeroBlock = 1 << 16;  // holes of sparse files are handed out in these
// A dictionary or window larger than this is refused before decoding starts: a stream that asks
// for more is hostile or made for machines far larger than the one it is opened on.
constexpr uint64_t kMaxDictionary = uint64_t{1} << 30;
// The oldest RAR compression the library decodes (RAR 2.9).
constexpr uint8_t kLibarchiveRarVersion = 29;
constexpr char kCannotDecrypt[] = "encrypted with a method Parcelo cannot decrypt here";

bool IsSingleStreamType(TArcType type) {
  switch (type) {
    case atGZip:
    case atXz:
    case atBZip2:
    case atZstd:
    case atLz4:
    case atLzip:
      return true;
    default:
      return false;
  }
}

bool ContainsText(const char* text, const char* part) {
  if (!text) return false;
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return lower.find(part) != std::string::npos;
}

bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<uint8_t>(text[i]);
    const size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

// A name as UTF-8: UTF-8 as it is; otherwise RAR's names were written in the OEM code page, and
// the Unix formats' in Latin-1 most often.
std::string ToUtf8(const char* bytes, TArcType type) {
  const std::string text = bytes;
  if (IsUtf8(text)) return text;
  if (type == atRar || type == atRarExe) return ConvertStoredName(text, true);
  std::string utf8;
  for (const char c : text) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | b >> 6);
      utf8 += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return utf8;
}

// ---- the file(s) behind the archive -------------------------------------------------------------
// One volume: a file read from `start` on (the archive after a self-extracting program).
struct TVolumeFile {
  std::string Path;
  int64_t Start = 0;
  std::FILE* File = nullptr;
};

// The name a single compressed file's member gets: the gzip header's stored name when there is
// one (its file part only), else the file's own name without the compression's extension.
std::string SingleMemberName(const std::string& hostPath, TArcType type, int64_t start) {
  std::string name = hostPath.substr(hostPath.find_last_of('/') + 1);
  if (type == atGZip) {
    if (std::FILE* f = std::fopen(hostPath.c_str(), "rb")) {
      uint8_t head[10];
      std::string stored;
      constexpr uint8_t kFlagExtra = 0x04, kFlagName = 0x08;
      if (std::fseek(f, static_cast<long>(start), SEEK_SET) == 0 &&
          std::fread(head, 1, sizeof head, f) == sizeof head && head[0] == 0x1F &&
          head[1] == 0x8B && (head[3] & kFlagName)) {
        bool ok = true;
        if (head[3] & kFlagExtra) {
          uint8_t length[2];
          ok = std::fread(length, 1, 2, f) == 2 &&
               std::fseek(f, length[0] | length[1] << 8, SEEK_CUR) == 0;
        }
        for (int c; ok && (c = std::fgetc(f)) > 0 && stored.size() < 1024;)
          stored += static_cast<char>(c);
      }
      std::fclose(f);
      // The file part only: a stored name never places the file elsewhere.
      const size_t cut = stored.find_last_of("/\\");
      if (cut != std::string::npos) stored.erase(0, cut + 1);
      if (!stored.empty() && stored != "." && stored != "..") return stored;
    }
  }
  static const char* const kSuffixes[] = {".gz", ".z", ".xz", ".lzma", ".bz2", ".bz",
                                          ".zst", ".zstd", ".lz4", ".lz", ".taz", ".tgz"};
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  for (const char* suffix : kSuffixes) {
    const size_t length = std::strlen(suffix);
    if (lower.size() > length && lower.compare(lower.size() - length, length, suffix) == 0) {
      name.erase(name.size() - length);
      if (std::strcmp(suffix, ".tgz") == 0 || std::strcmp(suffix, ".taz") == 0) name += ".tar";
      return name;
    }
  }
  return name + ".out";
}

// ---- dictionary sizes read ahead of libarchive ---------------------------------------------------
// xz: the first block's LZMA2 filter gives its dictionary size (a byte of properties).
uint64_t XzDictionary(const uint8_t* bytes, size_t count) {
  constexpr size_t kStreamHeader = 12;
  if (count < kStreamHeader + 8 || std::memcmp(bytes, "\xFD" "7zXZ\0", 6) != 0) return 0;
  const uint8_t* block = bytes + kStreamHeader;
  const size_t blockSize = (static_cast<size_t>(block[0]) + 1) * 4;
  if (block[0] == 0 || kStreamHeader + blockSize > count) return 0;
  size_t at = 2;
  const uint8_t flags = block[1];
  auto varint = [&](uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 63 && at < blockSize; shift += 7) {
      const uint8_t b = block[at++];
      value |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) return true;
    }
    return false;
  };
  uint64_t ignored = 0;
  if ((flags & 0x40) && !varint(ignored)) return 0;
  if ((flags & 0x80) && !varint(ignored)) return 0;
  const int filters = (flags & 3) + 1;
  for (int i = 0; i < filters; ++i) {
    uint64_t id = 0, propsSize = 0;
    if (!varint(id) || !varint(propsSize) || at + propsSize > blockSize) return 0;
    constexpr uint64_t kLzma2 = 0x21;
    if (id == kLzma2 && propsSize == 1) {
      const uint8_t bits = block[at] & 0x3F;
      if (bits > 40) return UINT64_MAX;
      if (bits == 40) return 0xFFFFFFFF;
      return (2u | (bits & 1u)) << (bits / 2 + 11);
    }
    at += propsSize;
  }
  return 0;
}

// zstd: the first frame's window (its descriptor, or the content size of a single-segment frame).
uint64_t ZstdWindow(const uint8_t* bytes, size_t count) {
  if (count < 6 || std::memcmp(bytes, "\x28\xB5\x2F\xFD", 4) != 0) return 0;
  const uint8_t descriptor = bytes[4];
  const bool singleSegment = descriptor & 0x20;
  if (!singleSegment) {
    const uint8_t window = bytes[5];
    const int exponent = window >> 3;
    const uint64_t base = uint64_t{1} << (10 + exponent);
    return base + (base / 8) * (window & 7);
  }
  static constexpr int kDictIdSize[] = {0, 1, 2, 4};
  static constexpr int kContentSize[] = {1, 2, 4, 8};
  const size_t at = 5 + static_cast<size_t>(kDictIdSize[descriptor & 3]);
  const int length = kContentSize[descriptor >> 6];
  if (at + static_cast<size_t>(length) > count) return 0;
  uint64_t size = 0;
  for (int i = length - 1; i >= 0; --i) size = size << 8 | bytes[at + static_cast<size_t>(i)];
  if (length == 2) size += 256;
  return size;
}

// lzip: the coded dictionary size of the first member.
uint64_t LzipDictionary(const uint8_t* bytes, size_t count) {
  if (count < 6 || std::memcmp(bytes, "LZIP", 4) != 0) return 0;
  const uint8_t coded = bytes[5];
  const uint64_t size = uint64_t{1} << (coded & 0x1F);
  return size - (size / 16) * ((coded >> 5) & 7);
}

// ---- gzip streams, inflated by our own engine ---------------------------------------------------
// A gzip file (RFC 1952, members one after another) read from its start: the engine inflates each
// member's deflate data, and the member's CRC-32 and length are checked against its trailer, which
// libarchive's own gzip reader leaves unchecked. What it hands out is the uncompressed stream;
// libarchive reads the TAR (or the one file) in it.
class TGzipInflater {
 public:
  static constexpr size_t kInputSize = 1 << 16;

  explicit TGzipInflater(std::FILE* file) : FFile(file), FInput(kInputSize) {}
  ~TGzipInflater() {
    if (FMade) InflateEnd(FStream);
  }
  TGzipInflater(const TGzipInflater&) = delete;
  TGzipInflater& operator=(const TGzipInflater&) = delete;

  // Up to `room` bytes of the uncompressed stream; 0 at its end; -1 on a failure (Error()).
  int64_t Read(uint8_t* out, size_t room) {
    // A failed check is said at the read after the member's last bytes went out, so that it
    // belongs to the member they made up.
    if (!FError.empty()) return -1;
    size_t done = 0;
    while (done < room && !FEnded) {
      if (!FInMember) {
        if (!StartMember()) return FError.empty() ? static_cast<int64_t>(done) : -1;
        continue;
      }
      if (FStream.avail_in == 0 && !Refill()) {
        Fail("the gzip data ends early");
        return done > 0 ? static_cast<int64_t>(done) : -1;
      }
      FStream.next_out = out + done;
      FStream.avail_out = static_cast<uint32_t>(std::min<size_t>(room - done, 1u << 30));
      const uint32_t before = FStream.avail_out;
      const int rc = Inflate(FStream, kInflateNoFlush);
      const size_t produced = before - FStream.avail_out;
      FCrc = Crc32Update(FCrc, out + done, produced);
      FLength += produced;
      done += produced;
      if (rc == kInflateStreamEnd) {
        if (!EndMember()) return done > 0 ? static_cast<int64_t>(done) : -1;
      } else if (rc != kInflateOk && !(rc == kInflateBufError && produced > 0)) {
        Fail("the deflate data of the gzip stream is damaged");
        return done > 0 ? static_cast<int64_t>(done) : -1;
      }
    }
    return static_cast<int64_t>(done);
  }
  const std::string& Error() const { return FError; }
  // Reads the stream to its end, so that the checks of its last member are made also when the
  // archive inside ended before it (a TAR's end blocks); false when one fails.
  bool Drain(uint8_t* scratch, size_t size) {
    int64_t got = 0;
    while ((got = Read(scratch, size)) > 0) {
    }
    return got == 0;
  }

 private:
  bool Refill() {
    const size_t got = std::fread(FInput.data(), 1, FInput.size(), FFile);
    FStream.next_in = FInput.data();
    FStream.avail_in = static_cast<uint32_t>(got);
    return got > 0;
  }
  // One byte of the stream outside deflate data; -1 at the end of the file.
  int Byte() {
    if (FStream.avail_in == 0 && !Refill()) return -1;
    --FStream.avail_in;
    return *FStream.next_in++;
  }
  int64_t Fail(const std::string& text) {
    FError = text;
    return -1;
  }
  bool StartMember() {
    // After a member: the end of the file, or padding of zeros, ends the stream.
    const int id1 = Byte();
    if (id1 <= 0 && FMembers > 0) {
      FEnded = true;
      return false;
    }
    const int id2 = Byte(), method = Byte(), flags = Byte();
    if (id1 != 0x1F || id2 != 0x8B || method != 8 || flags < 0 || (flags & 0xE0)) {
      if (FMembers > 0) {
        FEnded = true;  // trailing bytes after the last member, as gzip takes them
        return false;
      }
      Fail("not a gzip stream of deflate data");
      return false;
    }
    constexpr int kFlagCrc = 0x02, kFlagExtra = 0x04, kFlagName = 0x08, kFlagComment = 0x10;
    for (int i = 0; i < 6; ++i)
      if (Byte() < 0) return Fail("the gzip header ends early"), false;
    if (flags & kFlagExtra) {
      const int low = Byte(), high = Byte();
      if (high < 0) return Fail("the gzip header ends early"), false;
      for (int n = low | high << 8; n > 0; --n)
        if (Byte() < 0) return Fail("the gzip header ends early"), false;
    }
    for (const int flag : {kFlagName, kFlagComment}) {
      if (!(flags & flag)) continue;
      for (int c; (c = Byte()) != 0;)
        if (c < 0) return Fail("the gzip header ends early"), false;
    }
    if ((flags & kFlagCrc) && (Byte() < 0 || Byte() < 0))
      return Fail("the gzip header ends early"), false;
    const int rc = FMade ? InflateReset(FStream)
                         : InflateInit(FStream, -15, kInflateStreamSize);
    if (rc != kInflateOk) return Fail("out of memory"), false;
    FMade = true;
    FCrc = 0xFFFFFFFF;
    FLength = 0;
    FInMember = true;
    ++FMembers;
    return true;
  }
  bool EndMember() {
    FInMember = false;
    uint8_t trailer[8];
    for (uint8_t& b : trailer) {
      const int c = Byte();
      if (c < 0) return Fail("the gzip data ends early"), false;
      b = static_cast<uint8_t>(c);
    }
    const uint32_t crc = trailer[0] | trailer[1] << 8 | trailer[2] << 16 | uint32_t{trailer[3]} << 24;
    const uint32_t length =
        trailer[4] | trailer[5] << 8 | trailer[6] << 16 | uint32_t{trailer[7]} << 24;
    if (crc != ~FCrc) return Fail("the gzip stream fails its CRC-32 check"), false;
    if (length != static_cast<uint32_t>(FLength))
      return Fail("the gzip stream fails its length check"), false;
    return true;
  }

  std::FILE* FFile;
  std::vector<uint8_t> FInput;
  TInflateStream FStream{};
  bool FMade = false;
  bool FInMember = false;
  bool FEnded = false;
  int FMembers = 0;
  uint32_t FCrc = 0;
  uint64_t FLength = 0;
  std::string FError;
};

// ---- the source ----------------------------------------------------------------------------------
class TLibarchiveSource;

// One callback record per volume; libarchive hands the record of the volume it reads.
struct TCallbackData {
  TLibarchiveSource* Source;
  TVolumeFile* Volume;
  std::vector<uint8_t>* Buffer;
  int64_t* BytesRead;
  TGzipInflater* Gzip;  // the volume is a gzip stream we inflate ourselves, else nullptr
  std::vector<uint8_t>* Inflated;
};

class TLibarchiveSource final : public TMemberSource {
 public:
  TLibarchiveSource(TArcType type, const TSourceServices& services)
      : FType(type), FServices(services) {}
  // Before Open, or after it failed, the source has no member.
  ~TLibarchiveSource() override { CloseLibrary(); }
  TLibarchiveSource(const TLibarchiveSource&) = delete;
  TLibarchiveSource& operator=(const TLibarchiveSource&) = delete;

  bool Open(const std::string& hostPath, int64_t start);
  // Opens the archive with libarchive (`rawOnly`: a compressed file read as the one file it holds,
  // never as a TAR or cpio); CloseLibrary lets go of it and of the files.
  bool OpenLibrary(bool rawOnly);
  void CloseLibrary();
  bool Next(TSourceMember& member) override;
  TDecodeResult Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                       const std::string& password) override;
  int64_t BytesRead() const override { return FBytesRead; }

 private:
  static la_ssize_t ReadCallback(struct archive*, void* data, const void** buffer);
  static la_int64_t SeekCallback(struct archive*, void* data, la_int64_t offset, int whence);
  static la_int64_t SkipCallback(struct archive*, void* data, la_int64_t request);
  static int SwitchCallback(struct archive*, void* from, void* to);

  // The failure of the library's last call as a decoding result, with its text kept.
  TDecodeResult Failure(TDecodeResult otherwise);
  // True (the error said) when the member Decode failed on is a RAR file packed the RAR 1.5 or
  // 2.0 way, which the library does not decode.
  bool OldRarCompression();
  void CollectVolumes(const std::string& hostPath, int64_t start);
  bool DictionaryTooLarge(const std::string& hostPath, int64_t start);

  TArcType FType;
  TSourceServices FServices;
  struct archive* FArchive = nullptr;
  std::vector<TVolumeFile> FVolumes;
  std::vector<TCallbackData> FCallbacks;
  std::unique_ptr<TGzipInflater> FGzip;
  std::vector<uint8_t> FInflated;
  std::vector<uint8_t> FBuffer;
  std::vector<uint8_t> FZeros;
  int64_t FBytesRead = 0;
  bool FSingle = false;  // a single compressed file: one member, named by us
  bool FRawOnly = false;
  int FMembersSeen = 0;
  std::vector<TRarUnpack> FRarFiles;  // read by OldRarCompression when first needed
  bool FRarFilesRead = false;
  std::string FHostPath;
  int64_t FStart = 0;
  std::string FSingleName;
  bool FStanding = false;  // Next stands on a member not decoded yet
  bool FEncrypted = false;
  bool FDead = false;  // the library cannot read on
  // A failure for the next Next to say (Open's, or the end a member's data made of the archive).
  int FPendingCode = 0;
  std::string FPendingDetail;
  void Pend(int code, std::string detail) {
    FPendingCode = code;
    FPendingDetail = std::move(detail);
  }
  int64_t FSize = -1;    // the member's size, when its header gives one
};

la_ssize_t TLibarchiveSource::ReadCallback(struct archive* a, void* data, const void** buffer) {
  auto* d = static_cast<TCallbackData*>(data);
  std::FILE* f = d->Volume->File;
  if (!f) {
    archive_set_error(a, EIO, "the volume could not be opened");
    return -1;
  }
  if (d->Gzip) {
    const int64_t made = d->Gzip->Read(d->Inflated->data(), d->Inflated->size());
    if (made < 0) {
      archive_set_error(a, EINVAL, "%s", d->Gzip->Error().c_str());
      return -1;
    }
    *buffer = d->Inflated->data();
    *d->BytesRead = static_cast<int64_t>(std::ftell(f)) - d->Volume->Start;
    return static_cast<la_ssize_t>(made);
  }
  const size_t got = std::fread(d->Buffer->data(), 1, d->Buffer->size(), f);
  if (got == 0 && std::ferror(f)) {
    archive_set_error(a, EIO, "read error");
    return -1;
  }
  *buffer = d->Buffer->data();
  *d->BytesRead += static_cast<int64_t>(got);
  return static_cast<la_ssize_t>(got);
}

la_int64_t TLibarchiveSource::SeekCallback(struct archive*, void* data, la_int64_t offset,
                                           int whence) {
  auto* d = static_cast<TCallbackData*>(data);
  std::FILE* f = d->Volume->File;
  if (!f) return ARCHIVE_FATAL;
  int64_t target = offset;
  if (whence == SEEK_SET) {
    target += d->Volume->Start;
  } else if (whence == SEEK_CUR) {
    target += static_cast<int64_t>(std::ftell(f));
  } else {
    if (std::fseek(f, 0, SEEK_END) != 0) return ARCHIVE_FATAL;
    target += static_cast<int64_t>(std::ftell(f));
  }
  if (target < d->Volume->Start) return ARCHIVE_FATAL;
  if (std::fseek(f, static_cast<long>(target), SEEK_SET) != 0) return ARCHIVE_FATAL;
  return target - d->Volume->Start;
}

la_int64_t TLibarchiveSource::SkipCallback(struct archive*, void* data, la_int64_t request) {
  auto* d = static_cast<TCallbackData*>(data);
  std::FILE* f = d->Volume->File;
  if (!f || request <= 0) return 0;
  const long here = std::ftell(f);
  if (std::fseek(f, 0, SEEK_END) != 0) return 0;
  const long end = std::ftell(f);
  const int64_t step = std::min<int64_t>(request, static_cast<int64_t>(end - here));
  if (std::fseek(f, here + static_cast<long>(step), SEEK_SET) != 0) return 0;
  return step;
}

int TLibarchiveSource::SwitchCallback(struct archive*, void*, void* to) {
  auto* d = static_cast<TCallbackData*>(to);
  if (d && d->Volume->File) std::fseek(d->Volume->File, static_cast<long>(d->Volume->Start), SEEK_SET);
  return ARCHIVE_OK;
}

void TLibarchiveSource::CollectVolumes(const std::string& hostPath, int64_t start) {
  FVolumes.push_back({hostPath, start, nullptr});
  if (FType != atRar && FType != atRarExe) return;
  // A RAR set: "name.part1.rar", "name.part2.rar", ... or "name.rar", "name.r00", "name.r01", ...
  auto exists = [](const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
  };
  const size_t slash = hostPath.find_last_of('/');
  const size_t dot = hostPath.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return;
  const std::string stem = hostPath.substr(0, dot);
  const size_t part = stem.rfind(".part");
  if (part != std::string::npos && part + 5 < stem.size() &&
      stem.find_first_not_of("0123456789", part + 5) == std::string::npos) {
    const size_t digits = stem.size() - part - 5;
    const int first = std::atoi(stem.c_str() + part + 5);
    for (int n = first + 1; n < 10000; ++n) {
      char number[16];
      std::snprintf(number, sizeof number, "%0*d", static_cast<int>(digits), n);
      const std::string next = stem.substr(0, part + 5) + number + hostPath.substr(dot);
      if (!exists(next)) break;
      FVolumes.push_back({next, 0, nullptr});
    }
    return;
  }
  for (int n = 0; n < 1000; ++n) {
    char suffix[8];
    const char letter = static_cast<char>('r' + n / 100);
    std::snprintf(suffix, sizeof suffix, ".%c%02d", letter, n % 100);
    const std::string next = stem + suffix;
    if (!exists(next)) break;
    FVolumes.push_back({next, 0, nullptr});
  }
}

bool TLibarchiveSource::DictionaryTooLarge(const std::string& hostPath, int64_t start) {
  std::FILE* f = std::fopen(hostPath.c_str(), "rb");
  if (!f) return false;
  uint8_t head[64] = {};
  size_t got = 0;
  if (std::fseek(f, static_cast<long>(start), SEEK_SET) == 0) got = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  uint64_t size = 0;
  const char* what = "dictionary";
  if (FType == atXz) size = XzDictionary(head, got);
  if (FType == atZstd) {
    size = ZstdWindow(head, got);
    what = "window";
  }
  if (FType == atLzip) size = LzipDictionary(head, got);
  if (size <= kMaxDictionary) return false;
  Pend(kErrUnsupportedMethod, std::string("the compressed data asks for a ") + what + " of " +
                                      std::to_string(size >> 20) +
                                      " MiB; more than 1024 MiB is refused");
  return true;
}

bool TLibarchiveSource::Open(const std::string& hostPath, int64_t start) {
  const host::TUtf8TextScope utf8;
  FSingle = IsSingleStreamType(FType);
  FDead = true;  // until the library has opened the archive
  FHostPath = hostPath;
  FStart = start;
  if (DictionaryTooLarge(hostPath, start)) return false;
  return OpenLibrary(false);
}

void TLibarchiveSource::CloseLibrary() {
  if (FArchive) archive_read_free(FArchive);
  FArchive = nullptr;
  FCallbacks.clear();
  FGzip.reset();
  for (TVolumeFile& volume : FVolumes)
    if (volume.File) std::fclose(volume.File);
  FVolumes.clear();
  FBytesRead = 0;
}

bool TLibarchiveSource::OpenLibrary(bool rawOnly) {
  const std::string& hostPath = FHostPath;
  const int64_t start = FStart;
  FRawOnly = rawOnly;
  FArchive = archive_read_new();
  if (!FArchive) {
    Pend(kErrReadingFileList, "out of memory");
    return false;
  }
  // A gzip stream of deflate data is inflated by our own engine, which checks each member's CRC-32;
  // other compressed files take their own filter only, so that the one file a compressed file
  // holds comes out as it is, even when it is itself compressed.
  bool ownGzip = false;
  if (FType == atGZip || FType == atTarGZip) {
    if (std::FILE* f = std::fopen(hostPath.c_str(), "rb")) {
      uint8_t magic[3] = {};
      ownGzip = std::fseek(f, static_cast<long>(start), SEEK_SET) == 0 &&
                std::fread(magic, 1, 3, f) == 3 && magic[0] == 0x1F && magic[1] == 0x8B &&
                magic[2] == 8;
      std::fclose(f);
    }
  }
  switch (FType) {
    case atXz:
      archive_read_support_filter_xz(FArchive);
      archive_read_support_filter_lzma(FArchive);
      break;
    case atBZip2:
      archive_read_support_filter_bzip2(FArchive);
      break;
    case atZstd:
      archive_read_support_filter_zstd(FArchive);
      break;
    case atLz4:
      archive_read_support_filter_lz4(FArchive);
      break;
    case atLzip:
      archive_read_support_filter_lzip(FArchive);
      break;
    default:
      if (!ownGzip) archive_read_support_filter_all(FArchive);
      break;
  }
  switch (FType) {
    case at7Zip:
      archive_read_support_format_7zip(FArchive);
      break;
    case atRar:
    case atRarExe:
      archive_read_support_format_rar(FArchive);
      archive_read_support_format_rar5(FArchive);
      break;
    case atCpio:
      archive_read_support_format_cpio(FArchive);
      break;
    case atIso9660:
      archive_read_support_format_iso9660(FArchive);
      break;
    default:
      // TAR in every dialect; a compressed stream holds a TAR or cpio, or is one file (raw).
      if (!rawOnly) {
        archive_read_support_format_tar(FArchive);
        archive_read_support_format_gnutar(FArchive);
      }
      if (FSingle) {
        if (!rawOnly) archive_read_support_format_cpio(FArchive);
        archive_read_support_format_raw(FArchive);
      }
      break;
  }
  FBuffer.resize(kReadBlock);
  CollectVolumes(hostPath, start);
  for (TVolumeFile& volume : FVolumes) {
    volume.File = std::fopen(volume.Path.c_str(), "rb");
    if (volume.File && volume.Start > 0)
      std::fseek(volume.File, static_cast<long>(volume.Start), SEEK_SET);
  }
  if (!FVolumes.front().File) {
    Pend(kErrOpeningFile, hostPath);
    return false;
  }
  if (ownGzip) {
    FGzip = std::make_unique<TGzipInflater>(FVolumes.front().File);
    FInflated.resize(kReadBlock);
  }
  // Every volume shares the one read buffer; libarchive reads them in turn.
  FCallbacks.reserve(FVolumes.size());
  for (TVolumeFile& volume : FVolumes)
    FCallbacks.push_back(TCallbackData{this, &volume, &FBuffer, &FBytesRead, FGzip.get(), &FInflated});
  archive_read_set_read_callback(FArchive, ReadCallback);
  if (!ownGzip) {
    // Inflated data is read in turn; only the file itself can be skipped through or sought in.
    archive_read_set_seek_callback(FArchive, SeekCallback);
    archive_read_set_skip_callback(FArchive, SkipCallback);
  }
  archive_read_set_switch_callback(FArchive, SwitchCallback);
  archive_read_set_callback_data(FArchive, &FCallbacks[0]);
  for (size_t i = 1; i < FCallbacks.size(); ++i)
    archive_read_append_callback_data(FArchive, &FCallbacks[i]);
  if (archive_read_open1(FArchive) != ARCHIVE_OK) {
    const char* text = archive_error_string(FArchive);
    Pend(ContainsText(text, "encrypt") ? kErrUnsupportedMethod : kErrReadingFileList,
             ContainsText(text, "encrypt") ? kCannotDecrypt : (text ? text : ""));
    return false;
  }
  if (FSingle) FSingleName = SingleMemberName(hostPath, FType, start);
  FDead = false;
  return true;
}

bool TLibarchiveSource::Next(TSourceMember& member) {
  const host::TUtf8TextScope utf8;
  FStanding = false;
  SetError(0);
  if (FPendingCode != 0) {
    SetError(FPendingCode, FPendingDetail);  // said once, by the first Next after it happened
    FPendingCode = 0;
  }
  if (FDead || !FArchive) return false;
  struct archive_entry* entry = nullptr;
  int rc = archive_read_next_header(FArchive, &entry);
  if (rc == ARCHIVE_EOF && FSingle && !FRawOnly && FMembersSeen == 0 &&
      archive_format(FArchive) != ARCHIVE_FORMAT_RAW) {
    // What looked like an empty TAR (a compressed file that begins with zero blocks, a disk
    // image say) is one file after all.
    CloseLibrary();
    if (!OpenLibrary(true)) {
      FDead = true;
      SetError(FPendingCode, FPendingDetail);
      FPendingCode = 0;
      return false;
    }
    rc = archive_read_next_header(FArchive, &entry);
  }
  if (rc == ARCHIVE_EOF) {
    FDead = true;
    if (FGzip && !FGzip->Drain(FInflated.data(), FInflated.size()))
      SetError(ContainsText(FGzip->Error().c_str(), "check") ? kErrCrcCheck : kErrReadingFile,
               FGzip->Error());
    return false;
  }
  // A name the library could not convert to the locale's character set is no loss: we take it
  // in UTF-8 (or convert it ourselves) below.
  if (rc == ARCHIVE_WARN && FServices.Warning &&
      !ContainsText(archive_error_string(FArchive), "can't be converted")) {
    const char* text = archive_error_string(FArchive);
    FServices.Warning(kErrBadFileHeader, text ? text : "");
  }
  if (rc < ARCHIVE_WARN) {
    const char* text = archive_error_string(FArchive);
    if (ContainsText(text, "encrypt")) {
      SetError(kErrUnsupportedMethod, kCannotDecrypt);
    } else {
      SetError(kErrBadFileHeader, text ? text : "");
    }
    FDead = true;
    return false;
  }
  ++FMembersSeen;
  member = TSourceMember{};
  const bool raw = archive_format(FArchive) == ARCHIVE_FORMAT_RAW;
  if (raw) {
    member.Name = FSingleName;
  } else if (const char* utf8 = archive_entry_pathname_utf8(entry)) {
    member.Name = utf8;
  } else if (const char* name = archive_entry_pathname(entry)) {
    member.Name = ToUtf8(name, FType);
  }
  const mode_t type = archive_entry_filetype(entry);
  const char* hardlink = archive_entry_hardlink_utf8(entry);
  if (!hardlink) hardlink = archive_entry_hardlink(entry);
  if (hardlink && *hardlink) {
    member.Kind = TMemberKind::Hardlink;
    member.LinkTarget = ToUtf8(hardlink, FType);
  } else if (type == AE_IFDIR) {
    member.Kind = TMemberKind::Folder;
  } else if (type == AE_IFLNK) {
    member.Kind = TMemberKind::Symlink;
    const char* target = archive_entry_symlink_utf8(entry);
    if (!target) target = archive_entry_symlink(entry);
    member.LinkTarget = target ? ToUtf8(target, FType) : "";
  } else if (type == AE_IFCHR || type == AE_IFBLK || type == AE_IFSOCK) {
    member.Kind = TMemberKind::Device;
  } else if (type == AE_IFIFO) {
    member.Kind = TMemberKind::Fifo;
  }
  member.Size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
  FSize = member.Kind == TMemberKind::File || member.Kind == TMemberKind::Hardlink ? member.Size : -1;
  if (archive_entry_mtime_is_set(entry)) {
    member.HasExactTime = true;
    member.UnixTime = archive_entry_mtime(entry);
    const long nanoseconds = archive_entry_mtime_nsec(entry);
    member.Nanoseconds =
        nanoseconds >= 0 && nanoseconds < 1000000000 ? static_cast<uint32_t>(nanoseconds) : 0;
    if (member.UnixTime >= 0 && member.UnixTime <= 0xFFFFFFFFll)
      member.DosDateTime = UnixToDosDateTime(static_cast<uint32_t>(member.UnixTime));
  }
  if (!raw) member.Mode = static_cast<uint32_t>(archive_entry_mode(entry));
  const int encrypted = archive_entry_is_encrypted(entry);
  member.Encrypted = encrypted > 0;
  FEncrypted = member.Encrypted;
  const char* filter = archive_filter_count(FArchive) > 1 ? archive_filter_name(FArchive, 0) : nullptr;
  member.Method = raw && filter ? filter : (archive_format_name(FArchive) ? archive_format_name(FArchive) : "");
  FStanding = true;
  return true;
}

TDecodeResult TLibarchiveSource::Failure(TDecodeResult otherwise) {
  const char* text = archive_error_string(FArchive);
  const std::string detail = text ? text : "";
  if (ContainsText(text, "encrypt") || ContainsText(text, "decrypt")) {
    SetError(kErrUnsupportedMethod, kCannotDecrypt);
    return TDecodeResult::EncryptedUnsupported;
  }
  if (ContainsText(text, "crc") || ContainsText(text, "checksum") ||
      ContainsText(text, "length check")) {
    SetError(kErrCrcCheck, detail);
    return TDecodeResult::ChecksumFailed;
  }
  if (ContainsText(text, "unsupported") || ContainsText(text, "not supported")) {
    SetError(kErrUnsupportedMethod, detail);
    return TDecodeResult::Unsupported;
  }
  if (ContainsText(text, "truncated") || ContainsText(text, "premature") ||
      ContainsText(text, "unexpected end") || ContainsText(text, "ends early")) {
    SetError(kErrReadingFile, detail);
    return TDecodeResult::Truncated;
  }
  SetError(otherwise == TDecodeResult::Truncated ? kErrReadingFile : kErrBadBlock, detail);
  return otherwise;
}

bool TLibarchiveSource::OldRarCompression() {
  if (FType != atRar && FType != atRarExe) return false;
  if (!FRarFilesRead) {
    FRarFilesRead = true;
    std::vector<std::pair<std::string, int64_t>> volumes;
    for (const TVolumeFile& volume : FVolumes) volumes.emplace_back(volume.Path, volume.Start);
    FRarFiles = ReadRarUnpackVersions(volumes);
  }
  const size_t index = static_cast<size_t>(FMembersSeen) - 1;
  if (FMembersSeen < 1 || index >= FRarFiles.size()) return false;
  const TRarUnpack& file = FRarFiles[index];
  if (file.Version >= kLibarchiveRarVersion || !file.Packed()) return false;
  SetError(kErrUnsupportedMethod, "RAR " + std::to_string(file.Version / 10) + "." +
                                      std::to_string(file.Version % 10) +
                                      " compression, which Parcelo does not decode");
  return true;
}

TDecodeResult TLibarchiveSource::Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                                        const std::string&) {
  const host::TUtf8TextScope utf8;
  if (!FStanding) {
    SetError(kErrReadingFile, "no member to decode");
    return TDecodeResult::Damaged;
  }
  FStanding = false;
  SetError(0);
  if (FEncrypted) {
    SetError(kErrUnsupportedMethod, kCannotDecrypt);
    return TDecodeResult::EncryptedUnsupported;
  }
  int64_t position = 0;  // where the next byte of the member goes
  for (;;) {
    if (FServices.Cancel && *FServices.Cancel) return TDecodeResult::Cancelled;
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    const int rc = archive_read_data_block(FArchive, &block, &size, &offset);
    if (rc == ARCHIVE_EOF) {
      // A sparse file may end in a hole.
      if (FSize > position) {
        if (FZeros.empty()) FZeros.assign(kZeroBlock, 0);
        while (position < FSize) {
          const size_t step = static_cast<size_t>(std::min<int64_t>(FSize - position, kZeroBlock));
          sink(FZeros.data(), step);
          position += static_cast<int64_t>(step);
        }
      }
      return TDecodeResult::Ok;
    }
    if (rc == ARCHIVE_WARN) {
      // A sparse file's map or a header detail the library could not take: said, not fatal.
      if (FServices.Warning) {
        const char* text = archive_error_string(FArchive);
        FServices.Warning(kErrBadFileHeader, text ? text : "");
      }
    } else if (rc < ARCHIVE_WARN) {
      TDecodeResult result = Failure(TDecodeResult::Damaged);
      if (result != TDecodeResult::EncryptedUnsupported && OldRarCompression())
        result = TDecodeResult::Unsupported;
      if (rc == ARCHIVE_FATAL) {
        FDead = true;
        // A checksum that fails at the end of the data has lost nothing after it.
        if (result != TDecodeResult::ChecksumFailed)
          Pend(kErrReadingFileList, "the archive cannot be read past the member before");
      }
      return result;
    }
    // A hole of a sparse file comes out as zeros.
    if (offset > position) {
      if (FZeros.empty()) FZeros.assign(kZeroBlock, 0);
      while (position < offset) {
        const size_t step = static_cast<size_t>(std::min<int64_t>(offset - position, kZeroBlock));
        sink(FZeros.data(), step);
        position += static_cast<int64_t>(step);
      }
    }
    if (size > 0) {
      sink(static_cast<const uint8_t*>(block), size);
      position += static_cast<int64_t>(size);
    }
  }
}

}  // namespace

std::unique_ptr<TMemberSource> CreateLibarchiveSource(TArcType type, const std::string& hostPath,
                                                      int64_t start,
                                                      const TSourceServices& services) {
  auto source = std::make_unique<TLibarchiveSource>(type, services);
  if (!hostPath.empty()) source->Open(hostPath, start);  // a failure is the source's error; Next then says there is none
  return source;
}
