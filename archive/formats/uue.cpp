// The lister's reader for uuencoded files: the name on the first "begin " line of the file's first
// 32 KiB is the one entry. Nothing is decoded; later "begin " lines are not looked at.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "archive/formats/lister_format.h"

namespace {

constexpr int32_t kSearchSize = 32768;
constexpr size_t kMaxNameSearch = 256;  // the line end is looked for this far
constexpr char kBegin[] = "begin ";
constexpr size_t kBeginLength = sizeof kBegin - 1;

// The name of the first "begin <mode> <name>" line; empty when there is none.
std::string FirstBeginName(const uint8_t* text, size_t length) {
  const char* data = reinterpret_cast<const char*>(text);
  for (size_t lineStart = 0; lineStart < length;) {
    if (length - lineStart >= kBeginLength &&
        std::memcmp(data + lineStart, kBegin, kBeginLength) == 0) {
      size_t i = lineStart + kBeginLength;
      while (i < length && data[i] != ' ' && data[i] != '\r' && data[i] != '\n') ++i;  // the mode
      if (i < length && data[i] == ' ') ++i;
      const size_t limit = std::min(length, i + kMaxNameSearch);
      size_t end = i;
      while (end < limit && data[end] != '\r' && data[end] != '\n') ++end;
      std::string name(data + i, end - i);
      const size_t blank = name.find(' ');
      if (blank != std::string::npos) name.resize(blank);
      return name;
    }
    const void* lineFeed = std::memchr(data + lineStart, '\n', length - lineStart);
    if (!lineFeed) break;
    lineStart = static_cast<size_t>(static_cast<const char*>(lineFeed) - data) + 1;
  }
  return {};
}

class TUueLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override {
    walk.ReadNothing();  // everything happens here
    const int32_t want = static_cast<int32_t>(std::min<int64_t>(kSearchSize, walk.ArchiveSize()));
    int32_t got = 0;
    const uint8_t* text = want > 0 ? walk.Stream().Peek(0, want, got) : nullptr;
    if (!text) return;
    std::string name = FirstBeginName(text, static_cast<size_t>(got));
    if (name.empty()) return;
    walk.ClearEntry();
    walk.SetFileNameRaw(std::move(name));  // as written: no character-set conversion
    walk.FireReadFile();
    walk.ReportEntry(0);  // no mask test, not counted
  }
  void Header(TArcovaWalk&) override {}
};

}  // namespace

std::unique_ptr<TListerFormat> CreateUueLister() {
  return std::make_unique<TUueLister>();
}
