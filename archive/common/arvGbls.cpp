// Wildcard masks and the name, path and percentage helpers shared by the archive engine. The date
// conversions live in arvDates.cpp; nothing here touches the disk except through the host layer.
#include "archive/common/arvGbls.h"

#include <array>
#include <cstring>
#include <utility>

#include "archive/common/arvStreams.h"

namespace {

// Runs the mask compiler over the text. With `items` null it only counts; otherwise it fills
// exactly the count it returns (the end item included).
int CompileMask(const std::string& mask, TInternalMask::TMaskItem* items) {
  int count = 0;
  bool pendingStar = false;
  for (const char ch : mask) {
    const auto c = static_cast<uint8_t>(ch);
    if (c == '*') {
      pendingStar = true;  // a run of stars acts as one
    } else if (c == '?') {
      if (pendingStar) continue;  // "*?" acts as "*"
      if (items) {
        items[count].Star = false;
        items[count].Kind = 1;
        items[count].Character = 0;
      }
      ++count;
    } else {
      if (items) {
        items[count].Star = pendingStar;
        items[count].Kind = 0;
        items[count].Character = UpperAscii(c);
      }
      ++count;
      pendingStar = false;
    }
  }
  if (items) {  // the end item matches only the end of the name
    items[count].Star = pendingStar;
    items[count].Kind = 0;
    items[count].Character = 0;
  }
  return count + 1;
}

inline bool InSet(const TInternalMask::TMaskItem& item, uint8_t c) {
  const bool member = item.Set && item.Set->test(UpperAscii(c));
  return member != item.Negate;
}

}  // namespace

// ---- masks --------------------------------------------------------------------------------------
TInternalMask::TInternalMask(const std::string& mask) {
  FItemCount = CompileMask(mask, nullptr);
  FItems = std::make_unique<TMaskItem[]>(static_cast<size_t>(FItemCount));
  CompileMask(mask, FItems.get());
  FEndsWithDot = !mask.empty() && mask.back() == '.';
}

TInternalMask::TInternalMask(std::vector<TMaskItem> items, bool endsWithDot)
    : FEndsWithDot(endsWithDot) {
  const bool hasEnd = !items.empty() && items.back().Kind == 0 && items.back().Character == 0;
  if (!hasEnd) items.emplace_back();  // kind 0, character 0
  FItemCount = static_cast<int>(items.size());
  FItems = std::make_unique<TMaskItem[]>(items.size());
  for (size_t i = 0; i < items.size(); ++i) FItems[i] = std::move(items[i]);
}

TInternalMask::~TInternalMask() = default;  // the items own their sets

// Walks the items against the name. A star item first skips to the first position where its own
// item can match, and remembers the next position as the place to retry from. Only the newest
// retry point is ever needed: items between stars have fixed widths, so the first time a star item
// is reached is at the leftmost position possible, and from there the star can absorb anything an
// earlier star's retry would have absorbed. So a failed attempt resumes at the latest star, and a
// test costs at most (name length) x (item count) steps, whatever the number of stars.
bool TInternalMask::Matches(const std::string& name) const {
  const size_t nameLength = name.size();
  // A mask ending in "." tests a name without "." as if it had one appended (no copy is made).
  const bool appendDot = FEndsWithDot && name.find('.') == std::string::npos;
  const size_t length = nameLength + (appendDot ? 1 : 0);
  const auto byteAt = [&](size_t p) -> uint8_t {
    return p < nameLength ? static_cast<uint8_t>(name[p]) : static_cast<uint8_t>('.');
  };
  const int lastItem = FItemCount - 1;

  size_t p = 0;
  int i = 0;
  bool haveRetry = false;
  size_t retryPosition = 0;
  int retryItem = 0;
  for (;;) {
    bool failed = false;
    for (; i <= lastItem; ++i) {
      const TMaskItem& item = FItems[static_cast<size_t>(i)];
      const bool isEnd = i == lastItem;
      if (item.Star) {
        if (isEnd) {
          p = length;
        } else if (item.Kind == 0) {
          while (p < length && UpperAscii(byteAt(p)) != item.Character) ++p;
        } else if (item.Kind == 2) {
          while (p < length && !InSet(item, byteAt(p))) ++p;
        }  // kind 1 after a star: any character will do, nothing to skip
        haveRetry = p < length;
        retryPosition = p + 1;
        retryItem = i;
      }
      bool ok;
      if (isEnd) {
        ok = p == length;
      } else if (p >= length) {
        ok = false;
      } else if (item.Kind == 0) {
        ok = UpperAscii(byteAt(p)) == item.Character;
      } else if (item.Kind == 1) {
        ok = true;
      } else {
        ok = InSet(item, byteAt(p));
      }
      if (!ok) {
        failed = true;
        break;
      }
      ++p;
    }
    if (!failed) return true;
    if (!haveRetry) return false;
    p = retryPosition;
    i = retryItem;
    haveRetry = false;
  }
}

bool MaskMatches(const std::string& name, const std::string& mask) {
  const TInternalMask compiled(mask);
  return compiled.Matches(name);
}

// ---- names and paths ----------------------------------------------------------------------------
std::string ConvertStoredName(const std::string& name, bool translateOem) {
  if (name.empty()) return name;
  return SlashToBackslash(translateOem ? host::OemToAnsi(name) : name);
}

std::string AppendBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + '\\';
}

std::string RemoveBackslash(const std::string& path) {
  if (!path.empty() && path.back() == '\\') return path.substr(0, path.size() - 1);
  return path;
}

std::string LhaPathToDos(const std::string& name) {
  std::string result = name;
  for (size_t i = 0; i < result.size(); ++i) {
    const auto b = static_cast<uint8_t>(result[i]);
    if ((b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFD)) {
      ++i;  // lead byte of a double-byte character: its second byte is not a separator
      continue;
    }
    if (b == '/' || b == 0xFF) result[i] = '\\';
  }
  // Trim spaces and control characters (bytes up to 0x20) at both ends; this also drops the
  // extended header's leading type byte.
  const auto isBlank = [](char c) { return static_cast<uint8_t>(c) <= 0x20; };
  size_t first = 0;
  while (first < result.size() && isBlank(result[first])) ++first;
  size_t last = result.size();
  while (last > first && isBlank(result[last - 1])) --last;
  return result.substr(first, last - first);
}

bool IsDirectory(const std::string& path) {
  const uint32_t attributes = host::GetFileAttributes(path);
  return attributes != host::kInvalidAttributes && (attributes & host::faDirectory) != 0;
}

// Critical-error dialogs do not exist on this host, so there is nothing to switch off around the
// creation.
bool MakeDirPath(const std::string& path) {
  if (path.empty()) return false;
  if (host::DirectoryExists(path)) return true;
  const std::string full = AppendBackslash(host::ExpandFileName(path));
  // Every prefix that ends just before a "\", from the root down (the drive itself included);
  // prefixes that exist already or cannot be made are passed over.
  for (size_t i = 0; i < full.size(); ++i) {
    if (full[i] == '\\' && i > 0) host::CreateDirectory(full.substr(0, i));
  }
  return host::DirectoryExists(path);
}

bool FileExistsWild(const std::string& pattern) {
  host::DirSearch search;
  host::TSearchRec rec;
  const bool found = search.First(pattern, host::faAnyFile, rec);
  search.Close();
  return found;
}

std::string SplitToken(std::string& text, const std::string& delimiter) {
  const size_t at = delimiter.empty() ? std::string::npos : text.find(delimiter);
  if (at == std::string::npos) return std::exchange(text, std::string());
  std::string token = text.substr(0, at);
  text.erase(0, at + delimiter.size());
  return token;
}

bool IsAllDigits(const std::string& text) {
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

int BaseNameLength(const char* name) {
  if (!name) return 0;
  int length = 0;
  while (name[length] != '\0' && name[length] != '.') ++length;
  return length;
}

bool IsUncPath(const std::string& path) {
  return path.size() >= 3 && path[0] == '\\' && path[1] == '\\';
}

bool IsGZipMagic(uint16_t value) {
  switch (value) {
    case 0x1E1F:  // 1F 1E: packed
    case 0x8B1F:  // 1F 8B: gzip
    case 0x9D1F:  // 1F 9D: compress
    case 0x9E1F:  // 1F 9E: old gzip
    case 0xA01F:  // 1F A0: SCO compress -H
      return true;
    default:
      return false;
  }
}

uint32_t SwapWords(uint32_t value) {
  return (value << 16) | (value >> 16);
}

namespace {

// Reads up to `count` bytes at `position` into a zeroed buffer (at least count + 1 bytes) and
// returns the length of the string they hold (up to the first zero byte, at most count).
size_t ReadStringAt(TStream32& stream, int64_t position, char* buffer, int32_t count) {
  std::memset(buffer, 0, static_cast<size_t>(count) + 1);
  if (count == 0) return 0;
  stream.Seek64(position, host::kSeekBegin);
  const int32_t got = stream.Read(buffer, count);
  const int32_t kept = got < 0 ? 0 : (got > count ? count : got);
  std::memset(buffer + kept, 0, static_cast<size_t>(count - kept) + 1);
  return std::strlen(buffer);
}

}  // namespace

std::string ReadZString(TStream32& stream, int64_t& position) {
  constexpr int32_t kMaxZString = 256;
  std::array<char, kMaxZString + 1> buffer;
  const size_t length = ReadStringAt(stream, position, buffer.data(), kMaxZString);
  position += static_cast<int64_t>(length) + 1;
  return std::string(buffer.data(), length);
}

std::string ReadFixedString(TStream32& stream, int64_t& position, int n) {
  constexpr int kMaxFixedString = 255;
  if (n < 0) n = 0;
  if (n > kMaxFixedString) n = kMaxFixedString;
  std::array<char, kMaxFixedString + 1> buffer;
  const size_t length = ReadStringAt(stream, position, buffer.data(), n);
  position += n;
  return std::string(buffer.data(), length);
}

namespace {

__extension__ typedef __int128 TInt128;  // part x 100 does not fit 64 bits for huge sizes

// numerator / denominator rounded to the nearest integer, halves to the even neighbour;
// numerator >= 0, denominator > 0, quotient at most 100.
int DivideRoundHalfEven(TInt128 numerator, TInt128 denominator) {
  auto quotient = static_cast<int>(numerator / denominator);
  const TInt128 twiceRemainder = 2 * (numerator % denominator);
  if (twiceRemainder > denominator || (twiceRemainder == denominator && (quotient & 1) != 0))
    ++quotient;
  return quotient;
}

}  // namespace

int Percent(int64_t part, int64_t whole) {
  if (whole <= 0 || part <= 0) return 0;
  if (part >= whole) return 100;
  return DivideRoundHalfEven(static_cast<TInt128>(part) * 100, whole);
}

int PercentSaved(int64_t whole, int64_t part) {
  if (whole <= 0 || part >= whole) return 0;
  if (part <= 0) return 100;  // a negative packed size from a damaged header saves no more
  return DivideRoundHalfEven((static_cast<TInt128>(whole) - part) * 100, whole);
}

// ---- ASCII case ---------------------------------------------------------------------------------
