// The lister's reader for TAR archives (ustar, GNU and pax forms, and the old form before them):
// one 512-byte header per entry, its data skipped by its size rounded up to whole blocks. Names
// come whole from the ustar prefix, GNU long-name records and pax path records; sizes in the
// base-256 form of very large members read correctly. Entry data is never read.
#include "archive/formats/tar.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/common/arvStreams.h"
#include "archive/formats/format_dates.h"
#include "archive/formats/lister_format.h"

namespace tar {

namespace {

// Header fields: offset and length.
constexpr int kNameOffset = 0, kNameLength = 100;
constexpr int kSizeOffset = 124, kSizeLength = 12;
constexpr int kTimeOffset = 136, kTimeLength = 12;  // Unix seconds
constexpr int kChecksumOffset = 148, kChecksumLength = 8;
constexpr int kTypeOffset = 156;
constexpr int kMagicOffset = 257;
constexpr int kPrefixOffset = 345, kPrefixLength = 155;
static_assert(kPrefixOffset + kPrefixLength <= kBlockSize);

// A field up to its first zero byte.
std::string Field(const uint8_t* block, int offset, int length) {
  const auto* begin = reinterpret_cast<const char*>(block + offset);
  const void* zero = std::memchr(begin, 0, static_cast<size_t>(length));
  return std::string(begin, zero ? static_cast<const char*>(zero) - begin : length);
}

// POSIX ustar ("ustar" NUL "00") keeps the front of a long name in the prefix field; the GNU form
// ("ustar  " NUL) uses that area for other things.
bool IsPosixUstar(const uint8_t* block) {
  return std::memcmp(block + kMagicOffset, "ustar\0", 6) == 0;
}

}  // namespace

bool ParseNumber(const uint8_t* field, int length, uint64_t& value) {
  value = 0;
  if (length <= 0) return false;
  if (field[0] & 0x80) {
    // Base-256: big-endian two's complement with the marker bit; a negative size means nothing.
    if (field[0] & 0x40) return false;
    uint64_t v = field[0] & 0x3F;
    for (int i = 1; i < length; ++i) {
      if (v >> 56) return false;  // does not fit 64 bits
      v = (v << 8) | field[i];
    }
    value = v;
    return true;
  }
  int i = 0;
  while (i < length && field[i] == ' ') ++i;
  bool digits = false;
  for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i) {
    if (value >> 60) return false;
    value = value * 8 + static_cast<uint64_t>(field[i] - '0');
    digits = true;
  }
  return digits && (i == length || field[i] == ' ' || field[i] == 0);
}

bool PaxValue(const std::string& records, const std::string& key, std::string& value) {
  size_t pos = 0;
  bool found = false;
  while (pos < records.size()) {
    // "<decimal length> <key>=<value>\n", the length counting the whole record.
    size_t length = 0;
    size_t i = pos;
    while (i < records.size() && records[i] >= '0' && records[i] <= '9' && length < (1u << 30))
      length = length * 10 + static_cast<size_t>(records[i++] - '0');
    if (i == pos || i >= records.size() || records[i] != ' ' || length <= i - pos + 1) break;
    const size_t end = pos + length;
    if (end > records.size()) break;  // a record cut off where the kept text ends
    const size_t equals = records.find('=', i + 1);
    if (equals != std::string::npos && equals < end) {
      if (records.compare(i + 1, equals - i - 1, key) == 0) {
        size_t valueEnd = end;
        if (valueEnd > equals + 1 && records[valueEnd - 1] == '\n') --valueEnd;
        value = records.substr(equals + 1, valueEnd - equals - 1);
        found = true;  // a later record of the same key wins
      }
    }
    pos = end;
  }
  return found;
}

bool THeaderReader::Header(TArcovaWalk& walk, const uint8_t* block, int64_t offset,
                           const TRecordReader& readRecord, uint64_t& dataSize) {
  dataSize = 0;
  if (!TarHeaderSumOk(block)) return false;
  uint64_t checksum = 0;
  ParseNumber(block + kChecksumOffset, kChecksumLength, checksum);
  if (checksum == 0) return false;
  uint64_t size = 0;
  if (!ParseNumber(block + kSizeOffset, kSizeLength, size)) size = 0;
  const char type = static_cast<char>(block[kTypeOffset]);

  // Records that name or describe the next header.
  if (type == 'L' || type == 'K' || type == 'x' || type == 'g') {
    std::string text;
    if (!readRecord(size, text)) return false;
    if (type == 'L') {
      FLongName = text.substr(0, text.find('\0'));
      FHaveLongName = true;
    } else if (type == 'x') {
      std::string value;
      if (PaxValue(text, "path", value)) {
        FPaxPath = value;
        FHavePaxPath = true;
      }
      if (PaxValue(text, "size", value) && !value.empty() && value.size() < 20 &&
          value.find_first_not_of("0123456789") == std::string::npos) {
        FPaxSize = std::stoull(value);
        FHavePaxSize = true;
      }
    }
    return true;
  }

  std::string name;
  if (FHavePaxPath) {
    name = FPaxPath;
  } else if (FHaveLongName) {
    name = FLongName;
  } else {
    name = Field(block, kNameOffset, kNameLength);
    const std::string prefix =
        IsPosixUstar(block) ? Field(block, kPrefixOffset, kPrefixLength) : std::string();
    if (!prefix.empty()) name = prefix + "/" + name;
  }
  if (FHavePaxSize) size = FPaxSize;
  FHaveLongName = FHavePaxPath = FHavePaxSize = false;
  FLongName.clear();
  FPaxPath.clear();
  dataSize = size;

  // Names come from Unix tools in the system's own character set: no OEM conversion.
  walk.ClearEntry();
  walk.SetFileName(name, false);
  if (walk.FileName().empty()) return false;
  TArcovaEntry& entry = walk.Entry();
  entry.PackedSize = entry.UnpackedSize = static_cast<int64_t>(std::min<uint64_t>(size, INT64_MAX));
  uint64_t modTime = 0;
  if (ParseNumber(block + kTimeOffset, kTimeLength, modTime) && modTime <= UINT32_MAX)
    entry.DosDateTime = UnixToDosDateTime(static_cast<uint32_t>(modTime));
  entry.IsDirectory = type == '5';
  entry.Attributes = entry.IsDirectory ? 0x10 : 0x20;
  walk.FireReadFile();

  std::string matchName = walk.FileName();
  if (!matchName.empty() && matchName.back() == '\\') matchName.pop_back();
  if (!walk.SimpleMatch(matchName)) return true;
  switch (type) {
    case '\0':
    case '0':
    case '1':
    case '2':
      walk.CountEntry();
      walk.ReportEntry(offset);
      break;
    case '5':
      if (walk.ShowEmptyDirs()) {
        walk.CountEntry();
        walk.ReportEntry(offset);
      }
      break;
    default:
      break;  // devices, fifos, volume labels and the like are not listed
  }
  return true;
}

}  // namespace tar

namespace {

class TTarLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override { walk.SetHeaderSize(tar::kBlockSize); }

  void Header(TArcovaWalk& walk) override {
    const auto readRecord = [&walk](uint64_t size, std::string& text) {
      const int64_t start = walk.CurrentOffset;
      const uint64_t padded = (size + tar::kBlockSize - 1) / tar::kBlockSize * tar::kBlockSize;
      if (size > static_cast<uint64_t>(walk.ArchiveSize() - start)) return false;
      text.resize(static_cast<size_t>(std::min(size, tar::kMaxRecordKept)));
      const int32_t got =
          walk.Stream().ReadAt(start, text.data(), static_cast<int32_t>(text.size()));
      if (got != static_cast<int32_t>(text.size())) return false;
      walk.CurrentOffset = start + static_cast<int64_t>(padded);
      return true;
    };
    uint64_t dataSize = 0;
    if (!FReader.Header(walk, walk.Header(), walk.HeaderStart, readRecord, dataSize)) {
      walk.EndWalk();
      return;
    }
    const uint64_t padded = (dataSize + tar::kBlockSize - 1) / tar::kBlockSize * tar::kBlockSize;
    if (dataSize > static_cast<uint64_t>(INT64_MAX) - tar::kBlockSize ||
        padded >= static_cast<uint64_t>(walk.ArchiveSize() - walk.CurrentOffset) + 1) {
      walk.EndWalk();  // the data reaches beyond the end of the file
      return;
    }
    walk.CurrentOffset += static_cast<int64_t>(padded);
  }

 private:
  tar::THeaderReader FReader;
};

}  // namespace

std::unique_ptr<TListerFormat> CreateTarLister() {
  return std::make_unique<TTarLister>();
}
