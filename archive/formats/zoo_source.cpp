// The member source of ZOO archives, walking the directory chain as the lister does: the archive
// header names the first entry, each entry the next, and an entry whose next offset is 0 closes
// the chain; deleted entries are skipped. Members are stored (method 0), LZW (1, our lzd decoder)
// or lh5 (2, liblhasa's decoder of the -lh5- stream); the CRC-16 of each is checked here.
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <lhasa.h>
}

#include "archive/codecs/arvBytes.h"
#include "archive/codecs/arvLzd.h"
#include "archive/formats/lhacab_io.h"
#include "archive/formats/lhacab_sources.h"
#include "archive/messages/Err_Msgs.h"

namespace {

constexpr int32_t kEntrySize = 58;  // the fixed fields of an entry, with the two name lengths
constexpr size_t kShortNameSize = 13;
constexpr uint8_t kLongEntryType = 2;
constexpr size_t kBlockSize = 1 << 16;

class TZooSource final : public TMemberSource {
 public:
  TZooSource(const std::string& hostPath, int64_t start, const TSourceServices& services)
      : FFile(hostPath), FServices(services) {
    if (!FFile.Open()) {
      SetError(kErrOpeningFile, hostPath);
      return;
    }
    uint8_t h[kEntrySize];
    if (FFile.ReadAt(start, h, sizeof h) != sizeof h) return;  // nothing listed, nothing here
    const uint32_t first = GetLe32(h + 24);
    const uint32_t negated = GetLe32(h + 28);
    if (static_cast<uint32_t>(first + negated) != 0) {
      SetError(kErrBadFileHeader, hostPath);
      return;
    }
    FNext = first;
    FLast = start;
  }

  bool Next(TSourceMember& member) override;
  TDecodeResult Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                       const std::string& password) override;

 private:
  TSourceFile FFile;
  TSourceServices FServices;
  int64_t FNext = -1;  // the entry to read next (-1: the chain has ended)
  int64_t FLast = 0;   // the previous entry: the chain only goes forward
  // The member Next stands on.
  uint8_t FMethod = 0;
  int64_t FDataOffset = 0;
  int64_t FPacked = 0;
  int64_t FSize = 0;
  uint16_t FCrc = 0;
  bool FDecoded = true;
};

std::string CutAtZero(std::string text) {
  const size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

bool TZooSource::Next(TSourceMember& member) {
  FDecoded = true;
  for (;;) {
    if (FNext <= FLast) return false;  // the closing entry, or a chain that turns back
    const int64_t at = FNext;
    uint8_t h[kEntrySize];
    if (FFile.ReadAt(at, h, sizeof h) != sizeof h) return false;
    const auto next = static_cast<int32_t>(GetLe32(h + 6));
    FLast = at;
    FNext = next <= 0 ? -1 : next;
    if (next <= 0) return false;
    const uint8_t type = h[4];
    size_t shortLength = 0;
    while (shortLength < kShortNameSize && h[38 + shortLength] != 0) ++shortLength;
    std::string name(reinterpret_cast<const char*>(h + 38), shortLength);
    uint32_t mode = 0;
    const uint16_t variableLength = GetLe16(h + 51);
    if (type == kLongEntryType && variableLength != 0) {
      const uint8_t nameLength = h[56];
      const uint8_t folderLength = h[57];
      // The long name and the folder, then the system (2) and the attributes (3).
      const size_t want = static_cast<size_t>(nameLength + folderLength) + 5;
      std::string variable(want, '\0');
      const size_t got = FFile.ReadAt(at + kEntrySize, variable.data(), want);
      if (got < static_cast<size_t>(nameLength + folderLength)) return false;  // past the end
      std::string longName = CutAtZero(variable.substr(0, nameLength));
      std::string folder = CutAtZero(variable.substr(nameLength, folderLength));
      if (!longName.empty()) name = longName;
      while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
      if (!folder.empty()) name = folder + '/' + name;
      if (got == want && variableLength >= nameLength + folderLength + 2 + 2 + 3) {
        const auto* a = reinterpret_cast<const uint8_t*>(variable.data()) + nameLength + folderLength + 2;
        const uint32_t attributes = a[0] | a[1] << 8 | static_cast<uint32_t>(a[2]) << 16;
        if ((attributes >> 22) == 1) mode = attributes & 0xFFFF;  // Unix mode bits
      }
    }
    if (h[30] != 0) continue;  // deleted: no member any more
    member = TSourceMember{};
    member.Name = host::OemToAnsi(name);
    member.Mode = mode & 07777;
    member.DosDateTime = static_cast<uint32_t>(GetLe16(h + 14)) << 16 | GetLe16(h + 16);
    FMethod = h[5];
    FDataOffset = GetLe32(h + 10);
    FCrc = GetLe16(h + 18);
    FSize = GetLe32(h + 20);
    FPacked = GetLe32(h + 24);
    member.Size = FSize;
    member.PackedSize = FPacked;
    member.Method = FMethod == 0 ? "Stored" : FMethod == 1 ? "LZW" : FMethod == 2 ? "lh5"
                                                           : "method " + std::to_string(FMethod);
    FDecoded = false;
    return true;
  }
}

struct TLh5Input {
  TSourceFile* File;
  int64_t Position;
  int64_t End;
  bool Short = false;
};

size_t Lh5Read(void* buffer, size_t length, void* data) {
  auto* input = static_cast<TLh5Input*>(data);
  const auto left = static_cast<size_t>(std::max<int64_t>(0, input->End - input->Position));
  const size_t want = std::min(length, left);
  const size_t got = input->File->ReadAt(input->Position, buffer, want);
  input->Position += static_cast<int64_t>(got);
  if (got < want) input->Short = true;
  return got;
}

TDecodeResult TZooSource::Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                                 const std::string&) {
  if (FDecoded) {
    SetError(kErrReadingFile, "no member to decode");
    return TDecodeResult::Damaged;
  }
  FDecoded = true;
  uint32_t crc = 0;
  uint64_t written = 0;
  auto write = [&](const uint8_t* bytes, size_t count) {
    crc = Crc16Update(crc, bytes, count);
    written += count;
    sink(bytes, count);
  };
  const int64_t end = FDataOffset + FPacked;
  const bool dataShort = end > FFile.Size();
  TDecodeResult result = TDecodeResult::Ok;
  if (FMethod == 0) {
    std::vector<uint8_t> block(kBlockSize);
    int64_t position = FDataOffset;
    const int64_t stop = FDataOffset + FSize;
    while (position < stop) {
      if (SourceCancelled(FServices.Cancel)) {
        SetError(kErrUserCanceled);
        return TDecodeResult::Cancelled;
      }
      const size_t want = static_cast<size_t>(std::min<int64_t>(kBlockSize, stop - position));
      const size_t got = FFile.ReadAt(position, block.data(), want);
      if (got > 0) write(block.data(), got);
      position += static_cast<int64_t>(got);
      if (got < want) break;
    }
    if (position < stop) result = TDecodeResult::Truncated;
  } else if (FMethod == 1) {
    int64_t position = FDataOffset;
    TCodecIo io;
    io.Read = [&](uint8_t* buffer, size_t count) {
      const auto want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), std::max<int64_t>(0, end - position)));
      const size_t got = FFile.ReadAt(position, buffer, want);
      position += static_cast<int64_t>(got);
      return got;
    };
    io.Write = write;
    io.Cancel = FServices.Cancel;
    switch (LzdDecode(io, static_cast<uint64_t>(FSize))) {
      case TCodecStatus::Ok:
        break;
      case TCodecStatus::Truncated:
        result = dataShort ? TDecodeResult::Truncated : TDecodeResult::Damaged;
        break;
      case TCodecStatus::Cancelled:
        SetError(kErrUserCanceled);
        return TDecodeResult::Cancelled;
      default:
        result = TDecodeResult::Damaged;
        break;
    }
  } else if (FMethod == 2) {
    char name[] = "-lh5-";
    TLh5Input input{&FFile, FDataOffset, end};
    LHADecoder* decoder = lha_decoder_new(lha_decoder_for_name(name), &Lh5Read, &input,
                                          static_cast<size_t>(FSize));
    if (!decoder) {
      SetError(kErrUnsupportedMethod, "lh5");
      return TDecodeResult::Unsupported;
    }
    std::vector<uint8_t> block(kBlockSize);
    try {
      while (written < static_cast<uint64_t>(FSize)) {
        if (SourceCancelled(FServices.Cancel)) {
          lha_decoder_free(decoder);
          SetError(kErrUserCanceled);
          return TDecodeResult::Cancelled;
        }
        const size_t got = lha_decoder_read(decoder, block.data(), block.size());
        if (got == 0) break;
        write(block.data(), got);
      }
    } catch (...) {
      lha_decoder_free(decoder);
      throw;
    }
    lha_decoder_free(decoder);
    if (written < static_cast<uint64_t>(FSize))
      result = input.Short || dataShort ? TDecodeResult::Truncated : TDecodeResult::Damaged;
  } else {
    SetError(kErrUnsupportedMethod, "ZOO method " + std::to_string(FMethod));
    return TDecodeResult::Unsupported;
  }
  if (result == TDecodeResult::Ok && written != static_cast<uint64_t>(FSize))
    result = TDecodeResult::Damaged;
  if (result == TDecodeResult::Ok && (crc & 0xFFFF) != FCrc) {
    SetError(kErrCrcCheck);
    return TDecodeResult::ChecksumFailed;
  }
  if (result == TDecodeResult::Truncated) SetError(kErrReadingFile);
  else if (result == TDecodeResult::Damaged) SetError(kErrBadBlock);
  return result;
}

}  // namespace

std::unique_ptr<TMemberSource> CreateZooSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services) {
  return std::make_unique<TZooSource>(hostPath, start, services);
}
