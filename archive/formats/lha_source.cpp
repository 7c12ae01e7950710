// The member source of LHA and LZH archives, on liblhasa: its reader walks the headers (levels 0
// to 3, also behind a self-extractor's stub or a 128-byte prefix) and decodes every method it
// knows (-lh0- to -lh7-, -lhx-, -lz4-, -lz5-, -lzs-, -pm0- to -pm2-). The library reads the
// archive through callbacks on our file; the CRC-16 of each member is checked here.
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <lhasa.h>
}

#include "archive/codecs/arvBytes.h"
#include "archive/formats/lhacab_io.h"
#include "archive/formats/lhacab_sources.h"
#include "archive/messages/Err_Msgs.h"

namespace {

constexpr int64_t kPrefixSize = 128;   // a MacBinary-like block of zeros in front
constexpr int64_t kBaseHeaderSize = 22;  // less than this left: no header, the archive ends
constexpr size_t kBlockSize = 1 << 16;
constexpr int kRawDateTimeOffset = 15;
constexpr int kRawAttributeOffset = 19;
// Windows FILETIME (100 ns since 1601) to Unix seconds.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

class TLhaSource final : public TMemberSource {
 public:
  TLhaSource(const std::string& hostPath, int64_t start, const TSourceServices& services)
      : FFile(hostPath), FServices(services) {
    if (!FFile.Open()) {
      SetError(kErrOpeningFile, hostPath);
      return;
    }
    uint8_t first = 1;
    if (FFile.ReadAt(start, &first, 1) == 1 && first == 0) start += kPrefixSize;
    FPosition = start;
    static const LHAInputStreamType kType = {&TLhaSource::ReadCallback,
                                             &TLhaSource::SkipCallback, nullptr};
    FStream = lha_input_stream_new(&kType, this);
    if (FStream) FReader = lha_reader_new(FStream);
    if (!FReader) {
      SetError(kErrReadingFileList, hostPath);
      return;
    }
    lha_reader_set_dir_policy(FReader, LHA_READER_DIR_PLAIN);
  }

  ~TLhaSource() override {
    if (FReader) lha_reader_free(FReader);
    if (FStream) lha_input_stream_free(FStream);
  }

  bool Next(TSourceMember& member) override;
  TDecodeResult Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                       const std::string& password) override;

 private:
  static int ReadCallback(void* handle, void* buffer, size_t length) {
    auto* self = static_cast<TLhaSource*>(handle);
    if (self->FHeaderStart < 0) self->FHeaderStart = self->FPosition;
    const size_t got = self->FFile.ReadAt(self->FPosition, buffer, length);
    self->FPosition += static_cast<int64_t>(got);
    if (got < length) self->FHitEnd = true;
    return static_cast<int>(got);
  }
  static int SkipCallback(void* handle, size_t bytes) {
    auto* self = static_cast<TLhaSource*>(handle);
    self->FPosition += static_cast<int64_t>(bytes);
    return self->FPosition <= self->FFile.Size() ? 1 : 0;
  }

  TSourceFile FFile;
  TSourceServices FServices;
  LHAInputStream* FStream = nullptr;
  LHAReader* FReader = nullptr;
  LHAFileHeader* FHeader = nullptr;  // the reader's, valid until the next header is read
  int64_t FPosition = 0;      // where the library's next read starts
  int64_t FHeaderStart = -1;  // where the library's first read of a header step started
  bool FHitEnd = false;
  bool FDecoded = true;
  bool FEnded = false;
};

// liblhasa lower-cases the names of MS-DOS archives; the engine keeps names as stored (so does the
// lister). The text is looked up in the raw header, separators ("/", "\\", 0xFF) and ASCII case
// aside, and takes the stored case back.
void RestoreStoredCase(std::string& text, const uint8_t* raw, size_t rawLength) {
  if (text.empty() || !raw || rawLength < text.size()) return;
  auto fold = [](uint8_t c) -> uint8_t {
    if (c == '\\' || c == 0xFF) return '/';
    return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c;
  };
  for (size_t at = 0; at + text.size() <= rawLength; ++at) {
    size_t k = 0;
    while (k < text.size() && fold(raw[at + k]) == fold(static_cast<uint8_t>(text[k]))) ++k;
    if (k < text.size()) continue;
    for (k = 0; k < text.size(); ++k) {
      const uint8_t c = raw[at + k];
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) text[k] = static_cast<char>(c);
    }
    return;
  }
}

std::string StoredText(const char* text, bool oem) {
  if (!text) return {};
  return oem ? host::OemToAnsi(text) : std::string(text);
}

bool TLhaSource::Next(TSourceMember& member) {
  if (!FReader || FEnded) return false;
  FHeaderStart = -1;
  FHitEnd = false;
  FHeader = lha_reader_next_file(FReader);
  if (!FHeader) {
    FEnded = true;
    // The archive ends at its end, at a zero header size, or where no whole header is left;
    // anything else is a header the library could not read.
    uint8_t first = 0;
    const int64_t at = FHeaderStart < 0 ? FPosition : FHeaderStart;
    const bool clean = at + kBaseHeaderSize > FFile.Size() ||
                       (FFile.ReadAt(at, &first, 1) == 1 && first == 0);
    if (!clean) SetError(kErrBadFileHeader, "at offset " + std::to_string(at));
    return false;
  }
  FDecoded = false;
  const LHAFileHeader& h = *FHeader;
  const bool oem = h.os_type != LHA_OS_TYPE_UNIX;
  member = TSourceMember{};
  std::string path = h.path ? h.path : "";
  std::string file = h.filename ? h.filename : "";
  while (!path.empty() && path.back() == '/') path.pop_back();
  RestoreStoredCase(path, h.raw_data, h.raw_data_len);
  RestoreStoredCase(file, h.raw_data, h.raw_data_len);
  if (h.path && !path.empty()) path += '/';
  std::string name = StoredText(path.c_str(), oem);
  const bool isDirEntry = std::strcmp(h.compress_method, LHA_COMPRESS_TYPE_DIR) == 0;
  if (h.symlink_target) {
    member.Kind = TMemberKind::Symlink;
    member.LinkTarget = StoredText(h.symlink_target, oem);
  } else if (isDirEntry) {
    member.Kind = TMemberKind::Folder;
  }
  if (h.filename) {
    if (!name.empty() && name.back() != '/') name += '/';
    name += StoredText(file.c_str(), oem);
  }
  if (member.Kind == TMemberKind::Folder && !name.empty() && name.back() != '/') name += '/';
  member.Name = std::move(name);
  member.Size = member.Kind == TMemberKind::File ? static_cast<int64_t>(h.length) : 0;
  member.PackedSize = static_cast<int64_t>(h.compressed_length);
  const uint8_t level = h.header_level;
  if (level < 2 && h.raw_data && h.raw_data_len > kRawAttributeOffset) {
    member.DosDateTime = GetLe32(h.raw_data + kRawDateTimeOffset);
    member.Attributes = h.raw_data[kRawAttributeOffset];
  } else {
    member.HasExactTime = true;
    member.UnixTime = h.timestamp;
  }
  if (LHA_FILE_HAVE_EXTRA(&h, LHA_FILE_WINDOWS_TIMESTAMPS) &&
      h.win_modification_time >= kFileTimeUnixEpoch) {
    const uint64_t ticks = h.win_modification_time - kFileTimeUnixEpoch;
    member.HasExactTime = true;
    member.UnixTime = static_cast<int64_t>(ticks / 10000000);
    member.Nanoseconds = static_cast<uint32_t>(ticks % 10000000) * 100;
  }
  if (LHA_FILE_HAVE_EXTRA(&h, LHA_FILE_UNIX_PERMS)) member.Mode = h.unix_perms;
  std::string method(h.compress_method);
  if (method.size() == 5 && method.front() == '-' && method.back() == '-')
    method = method.substr(1, 3);
  member.Method = method;
  return true;
}

TDecodeResult TLhaSource::Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                                 const std::string&) {
  if (!FHeader || FDecoded) {
    SetError(kErrReadingFile, "no member to decode");
    return TDecodeResult::Damaged;
  }
  FDecoded = true;
  if (std::strcmp(FHeader->compress_method, LHA_COMPRESS_TYPE_DIR) == 0) return TDecodeResult::Ok;
  char method[sizeof FHeader->compress_method];
  std::memcpy(method, FHeader->compress_method, sizeof method);
  method[sizeof method - 1] = '\0';
  if (!lha_decoder_for_name(method)) {
    SetError(kErrUnsupportedMethod, method);
    return TDecodeResult::Unsupported;
  }
  const uint64_t expected = FHeader->length;
  const uint16_t crc = FHeader->crc;
  const int64_t dataEnd = FPosition + static_cast<int64_t>(FHeader->compressed_length);
  std::vector<uint8_t> block(kBlockSize);
  uint32_t actual = 0;
  uint64_t total = 0;
  for (;;) {
    if (SourceCancelled(FServices.Cancel)) {
      SetError(kErrUserCanceled);
      return TDecodeResult::Cancelled;
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(block.size(), expected - total));
    if (want == 0) break;
    const size_t got = lha_reader_read(FReader, block.data(), want);
    if (got == 0) break;
    actual = Crc16Update(actual, block.data(), got);
    total += got;
    sink(block.data(), got);
  }
  if (total < expected) {
    const bool shortData = FHitEnd || dataEnd > FFile.Size();
    SetError(shortData ? kErrReadingFile : kErrBadBlock, FHeader->compress_method);
    return shortData ? TDecodeResult::Truncated : TDecodeResult::Damaged;
  }
  if ((actual & 0xFFFF) != crc) {
    SetError(kErrCrcCheck);
    return TDecodeResult::ChecksumFailed;
  }
  return TDecodeResult::Ok;
}

}  // namespace

std::unique_ptr<TMemberSource> CreateLhaSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services) {
  return std::make_unique<TLhaSource>(hostPath, start, services);
}
