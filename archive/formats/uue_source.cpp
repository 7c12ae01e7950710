// The member source of uuencoded files: the one member the lister lists, named on the first
// "begin <mode> <name>" line of the file's first 32 KiB, decoded from the lines after it up to the
// line of length 0 (or "end"). Each line gives its byte count in its first character; four
// characters carry three bytes, each character the value (c - 32) & 63 (a backquote stands for 0).
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/formats/lhacab_io.h"
#include "archive/formats/lhacab_sources.h"
#include "archive/messages/Err_Msgs.h"

namespace {

constexpr size_t kSearchSize = 32768;  // where the lister looks for the "begin" line
constexpr size_t kMaxNameSearch = 256;
constexpr size_t kBlockSize = 1 << 16;
constexpr size_t kMaxLine = 1 << 12;  // a longer line is no uuencoded line
constexpr char kBegin[] = "begin ";
constexpr size_t kBeginLength = sizeof kBegin - 1;

// Reads a file line by line from a position, through a block buffer.
class TLineReader {
 public:
  TLineReader(TSourceFile& file, int64_t position) : FFile(file), FPosition(position) {}
  // The next line without its end ("\n", "\r\n" or "\r"); false at the end of the file. A line
  // longer than kMaxLine comes back cut, `tooLong` set.
  bool Next(std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    for (;;) {
      if (FStart == FEnd && !Fill()) return !line.empty();
      const uint8_t* begin = FBuffer.data() + FStart;
      const uint8_t* end = FBuffer.data() + FEnd;
      const uint8_t* stop = begin;
      while (stop < end && *stop != '\n') ++stop;
      const size_t take = static_cast<size_t>(stop - begin);
      if (line.size() < kMaxLine) line.append(reinterpret_cast<const char*>(begin), std::min(take, kMaxLine - line.size()));
      if (line.size() >= kMaxLine) tooLong = true;
      FStart += take;
      if (stop < end) {
        ++FStart;  // the line feed
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
    }
  }

 private:
  bool Fill() {
    FBuffer.resize(kBlockSize);
    const size_t got = FFile.ReadAt(FPosition, FBuffer.data(), kBlockSize);
    FPosition += static_cast<int64_t>(got);
    FStart = 0;
    FEnd = got;
    return got > 0;
  }

  TSourceFile& FFile;
  int64_t FPosition;
  std::vector<uint8_t> FBuffer;
  size_t FStart = 0;
  size_t FEnd = 0;
};

class TUueSource final : public TMemberSource {
 public:
  TUueSource(const std::string& hostPath, const TSourceServices& services)
      : FFile(hostPath), FServices(services) {
    if (!FFile.Open()) {
      SetError(kErrOpeningFile, hostPath);
      return;
    }
    FindBegin();
  }

  bool Next(TSourceMember& member) override {
    if (FWalked || FDataStart < 0) return false;
    FWalked = true;
    member = TSourceMember{};
    member.Name = FName;
    member.Mode = FMode;
    member.Method = "uuencoded";
    return true;
  }

  TDecodeResult Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                       const std::string&) override;

 private:
  // The name and mode of the first "begin" line, and where the data starts behind it.
  void FindBegin();

  TSourceFile FFile;
  TSourceServices FServices;
  std::string FName;
  uint32_t FMode = 0;
  int64_t FDataStart = -1;
  bool FWalked = false;
  bool FDecoded = false;
};

void TUueSource::FindBegin() {
  std::vector<char> head(static_cast<size_t>(std::min<int64_t>(kSearchSize, FFile.Size())));
  const size_t length = FFile.ReadAt(0, head.data(), head.size());
  const char* data = head.data();
  for (size_t lineStart = 0; lineStart < length;) {
    if (length - lineStart >= kBeginLength && std::memcmp(data + lineStart, kBegin, kBeginLength) == 0) {
      size_t i = lineStart + kBeginLength;
      uint32_t mode = 0;
      bool octal = true;
      while (i < length && data[i] != ' ' && data[i] != '\r' && data[i] != '\n') {
        if (data[i] < '0' || data[i] > '7' || mode > 07777) octal = false;
        else mode = mode * 8 + static_cast<uint32_t>(data[i] - '0');
        ++i;
      }
      if (i < length && data[i] == ' ') ++i;
      const size_t limit = std::min(length, i + kMaxNameSearch);
      size_t end = i;
      while (end < limit && data[end] != '\r' && data[end] != '\n') ++end;
      std::string name(data + i, end - i);
      const size_t blank = name.find(' ');
      if (blank != std::string::npos) name.resize(blank);
      if (name.empty()) return;  // as the lister: the first "begin" line decides
      FName = name;
      FMode = octal ? mode & 07777 : 0;
      // The data starts on the line after this one.
      const void* lineFeed = std::memchr(data + i, '\n', length - i);
      FDataStart = lineFeed ? static_cast<const char*>(lineFeed) - data + 1 : FFile.Size();
      return;
    }
    const void* lineFeed = std::memchr(data + lineStart, '\n', length - lineStart);
    if (!lineFeed) break;
    lineStart = static_cast<size_t>(static_cast<const char*>(lineFeed) - data) + 1;
  }
}

inline uint8_t UuValue(char c) {
  return static_cast<uint8_t>((static_cast<uint8_t>(c) - 32) & 63);
}

TDecodeResult TUueSource::Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                                 const std::string&) {
  if (!FWalked || FDecoded) {
    SetError(kErrReadingFile, "no member to decode");
    return TDecodeResult::Damaged;
  }
  FDecoded = true;
  TLineReader reader(FFile, FDataStart);
  std::vector<uint8_t> out;
  out.reserve(kBlockSize + 64);
  std::string line;
  bool tooLong = false;
  size_t lines = 0;
  while (reader.Next(line, tooLong)) {
    if (line.empty()) continue;  // a blank line (some writers add them)
    if (line == "end") break;
    if (tooLong) {
      SetError(kErrBadBlock, "a line of more than 4096 characters");
      return TDecodeResult::Damaged;
    }
    const char first = line[0];
    if (first < ' ' || first > '`') {
      SetError(kErrBadBlock, "line " + std::to_string(lines + 1));
      return TDecodeResult::Damaged;
    }
    const size_t count = UuValue(first);
    if (count == 0) {
      if (!out.empty()) sink(out.data(), out.size());
      return TDecodeResult::Ok;
    }
    // Trailing blanks may have been cut by mail: missing characters count as zero.
    const size_t groups = (count + 2) / 3;
    size_t produced = 0;
    for (size_t g = 0; g < groups; ++g) {
      uint8_t v[4];
      for (size_t k = 0; k < 4; ++k) {
        const size_t at = 1 + g * 4 + k;
        const char c = at < line.size() ? line[at] : ' ';
        if (c < ' ' || c > '`') {
          SetError(kErrBadBlock, "line " + std::to_string(lines + 1));
          return TDecodeResult::Damaged;
        }
        v[k] = UuValue(c);
      }
      const uint8_t bytes[3] = {static_cast<uint8_t>(v[0] << 2 | v[1] >> 4),
                                static_cast<uint8_t>(v[1] << 4 | v[2] >> 2),
                                static_cast<uint8_t>(v[2] << 6 | v[3])};
      for (size_t k = 0; k < 3 && produced < count; ++k, ++produced) out.push_back(bytes[k]);
    }
    ++lines;
    if (out.size() >= kBlockSize) {
      if (SourceCancelled(FServices.Cancel)) {
        SetError(kErrUserCanceled);
        return TDecodeResult::Cancelled;
      }
      sink(out.data(), out.size());
      out.clear();
    }
  }
  if (!out.empty()) sink(out.data(), out.size());
  if (line == "end") return TDecodeResult::Ok;  // "end" without the empty line before it
  SetError(kErrReadingFile, "no end line");
  return TDecodeResult::Truncated;
}

}  // namespace

std::unique_ptr<TMemberSource> CreateUueSource(const std::string& hostPath, int64_t,
                                               const TSourceServices& services) {
  return std::make_unique<TUueSource>(hostPath, services);
}
