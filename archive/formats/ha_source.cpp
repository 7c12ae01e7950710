// The HA member source: "HA" and a 16-bit member count, then per member a header (version in the
// high nibble of its first byte, method in the low one; packed and original sizes, CRC-32, Unix
// time), the zero-terminated path (folders separated by 0xFF, ending in one) and name, a block of
// machine-specific information behind its own length byte (MS-DOS: type 1 and the attribute
// byte; Unix: type 2, the 16-bit mode, user and group), and the packed data.
#include "archive/formats/ha_source.h"

#include <algorithm>
#include <vector>

#include "archive/codecs/arvBytes.h"
#include "archive/codecs/arvHa.h"
#include "archive/common/arvGbls.h"
#include "archive/common/arvStreams.h"
#include "archive/formats/old_sources.h"
#include "archive/messages/Err_Msgs.h"

namespace {

constexpr int32_t kFixedHeader = 17;     // method byte, sizes, CRC-32, time
constexpr size_t kMaxNamePart = 4096;    // a longer path or name is no HA header
constexpr uint8_t kHaSeparator = 0xFF;
constexpr uint8_t kMachineDos = 1;
constexpr uint8_t kMachineUnix = 2;

const char* MethodName(unsigned method) {
  switch (method) {
    case kHaMethodCpy:
      return "CPY";
    case kHaMethodAsc:
      return "ASC";
    case kHaMethodHsc:
      return "HSC";
    case kHaMethodDirectory:
      return "DIR";
    default:
      return "Special";
  }
}

class THaSource final : public TMemberSource {
 public:
  THaSource(const std::string& hostPath, int64_t start, const TSourceServices& services)
      : FFile(hostPath, host::fmOpenRead | host::fmShareDenyNone), FServices(services) {
    if (FFile.Handle() < 0) {
      SetError(kErrOpeningFile, hostPath);
      return;
    }
    uint8_t head[4];
    if (FFile.ReadAt(start, head, 4) != 4 || head[0] != 'H' || head[1] != 'A') {
      SetError(kErrBadFileHeader, hostPath);
      return;
    }
    FLeft = GetLe16(head + 2);
    FNext = start + 4;
    FFileSize = FFile.GetSize();
    FOpen = true;
  }

  bool Next(TSourceMember& member) override {
    FHaveMember = false;
    if (!FOpen || FLeft == 0 || FNext >= FFileSize) return false;
    uint8_t h[kFixedHeader];
    if (FFile.ReadAt(FNext, h, kFixedHeader) != kFixedHeader) return Fail(kErrReadingFile);
    int64_t position = FNext + kFixedHeader;
    std::string path, name;
    if (!ReadZString(position, path) || !ReadZString(position, name)) return Fail(kErrBadFileHeader);
    uint8_t machineLength = 0;
    if (FFile.ReadAt(position, &machineLength, 1) != 1) return Fail(kErrReadingFile);
    ++position;
    uint8_t machine[256] = {};
    if (machineLength > 0 &&
        FFile.ReadAt(position, machine, machineLength) != static_cast<int32_t>(machineLength))
      return Fail(kErrReadingFile);
    position += machineLength;

    FMethod = h[0] & 0x0F;
    FPacked = GetLe32(h + 1);
    FSize = GetLe32(h + 5);
    FCrc = GetLe32(h + 9);
    FData = position;
    FNext = position + FPacked;
    --FLeft;

    std::string full = path + name;
    for (char& c : full) {
      if (static_cast<uint8_t>(c) == kHaSeparator) c = '/';
    }
    const bool dos = machineLength >= 2 && machine[0] == kMachineDos;
    member = TSourceMember{};
    member.Name = dos ? ConvertStoredName(full, true) : full;
    member.Kind = FMethod == kHaMethodDirectory ? TMemberKind::Folder : TMemberKind::File;
    member.Size = FMethod == kHaMethodDirectory ? 0 : FSize;
    member.PackedSize = FPacked;
    member.HasExactTime = true;
    member.UnixTime = GetLe32(h + 13);
    member.Method = MethodName(FMethod);
    if (dos) member.Attributes = machine[1];
    if (machineLength >= 3 && machine[0] == kMachineUnix) member.Mode = GetLe16(machine + 1);
    FHaveMember = true;
    return true;
  }

  TDecodeResult Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                       const std::string&) override {
    if (!FHaveMember) return TDecodeResult::Damaged;
    FHaveMember = false;
    if (FMethod == kHaMethodDirectory) return TDecodeResult::Ok;
    if (FMethod != kHaMethodCpy && FMethod != kHaMethodAsc) {
      SetError(kErrUnsupportedMethod, MethodName(FMethod));
      return TDecodeResult::Unsupported;
    }
    if (FData + FPacked > FFileSize) {
      SetError(kErrReadingFile);
      return TDecodeResult::Truncated;
    }
    uint32_t crc = 0xFFFFFFFF;
    TCodecIo io;
    io.Read = TPackedBytes(FFile, FData, FPacked);
    io.Write = [&](const uint8_t* bytes, size_t count) {
      crc = Crc32Update(crc, bytes, count);
      sink(bytes, count);
    };
    io.Cancel = FServices.Cancel;
    const THaResult result = DecodeHaMember(FMethod, io, FSize);
    switch (result.Status) {
      case TCodecStatus::Ok:
        break;
      case TCodecStatus::Cancelled:
        return TDecodeResult::Cancelled;
      case TCodecStatus::Truncated:
        SetError(kErrReadingFile);
        return TDecodeResult::Truncated;
      case TCodecStatus::Unsupported:
        SetError(kErrUnsupportedMethod, MethodName(FMethod));
        return TDecodeResult::Unsupported;
      case TCodecStatus::Corrupt:
        SetError(kErrBadBlock);
        return TDecodeResult::Damaged;
    }
    if (result.Written != FSize) {
      SetError(kErrReadingFile);
      return TDecodeResult::Truncated;
    }
    if (~crc != FCrc) {
      SetError(kErrCrcCheck);
      return TDecodeResult::ChecksumFailed;
    }
    return TDecodeResult::Ok;
  }

 private:
  bool Fail(int code) {
    SetError(code);
    FOpen = false;
    return false;
  }
  bool ReadZString(int64_t& position, std::string& out) {
    out.clear();
    uint8_t block[256];
    for (;;) {
      const int32_t got = FFile.ReadAt(position, block, sizeof block);
      if (got <= 0) return false;
      for (int32_t i = 0; i < got; ++i) {
        if (block[i] == 0) {
          position += i + 1;
          return true;
        }
        out += static_cast<char>(block[i]);
        if (out.size() > kMaxNamePart) return false;
      }
      position += got;
    }
  }

  TFileStream32 FFile;
  TSourceServices FServices;
  bool FOpen = false;
  bool FHaveMember = false;
  unsigned FLeft = 0;
  int64_t FNext = 0;
  int64_t FFileSize = 0;
  unsigned FMethod = 0;
  uint32_t FPacked = 0;
  uint32_t FSize = 0;
  uint32_t FCrc = 0;
  int64_t FData = 0;
};

}  // namespace

std::unique_ptr<TMemberSource> CreateHaSource(const std::string& hostPath, int64_t start,
                                              const TSourceServices& services) {
  return std::make_unique<THaSource>(hostPath, start, services);
}
