// ACE extraction without the file writes, for ace_bench.sh: `ace_bench test ARCHIVE...` walks every
// member with the ACE member source, decodes it and checks its CRC (exit 1 on any failure), like a
// reader's test command; `ace_bench make OUT MEGABYTES` writes a solid-free ACE 2.0 archive of
// text-like data, packed with a simple greedy matcher through the tests' stream writer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/formats/old_sources.h"
#include "support/AceWriter.h"

namespace {

int Test(int count, char** paths) {
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    auto source = CreateAceSource(paths[i], 0, TSourceServices{});
    TSourceMember member;
    while (source->Next(member)) {
      uint64_t bytes = 0;
      const TDecodeResult result =
          source->Decode([&bytes](const uint8_t*, size_t n) { bytes += n; }, "");
      if (result != TDecodeResult::Ok) {
        std::fprintf(stderr, "%s: %s: failed (%d)\n", paths[i], member.Name.c_str(),
                     static_cast<int>(result));
        ++failures;
      }
    }
    if (source->ErrorCode() != 0) ++failures;
  }
  return failures == 0 ? 0 : 1;
}

std::string TextLike(size_t size) {
  static const char* words[] = {"archive ", "member ",  "the ",    "of ",     "decoder ",
                                "window ",  "table ",   "stream ", "block ",  "and ",
                                "volume ",  "filter\n", "delta ",  "offset ", "length "};
  std::string text;
  uint32_t seed = 12345;
  while (text.size() < size) {
    seed = seed * 1103515245 + 12345;
    text += words[(seed >> 16) % 15];
    if ((seed >> 8) % 7 == 0) text += std::to_string(seed % 1000) + " ";
  }
  text.resize(size);
  return text;
}

// One member: greedy matches of at least 4 bytes found through a hash of the next 4 bytes.
testsupport::TAceEntry Pack(const std::string& name, const std::string& data) {
  testsupport::TAceStreamWriter w;
  std::vector<int64_t> last(1 << 16, -1);
  auto hash = [&](size_t p) {
    uint32_t v;
    std::memcpy(&v, data.data() + p, 4);
    return (v * 2654435761u) >> 16;
  };
  size_t p = 0;
  while (p < data.size()) {
    if (p + 4 <= data.size()) {
      const uint32_t h = hash(p);
      const int64_t candidate = last[h];
      last[h] = static_cast<int64_t>(p);
      if (candidate >= 0 && p - static_cast<size_t>(candidate) < (1u << 20)) {
        const size_t from = static_cast<size_t>(candidate);
        size_t length = 0;
        while (p + length < data.size() && length < 257 && data[from + length] == data[p + length])
          ++length;
        if (length >= 4) {
          w.Match(static_cast<uint32_t>(p - from), static_cast<unsigned>(length));
          p += length;
          continue;
        }
      }
    }
    w.Literal(static_cast<uint8_t>(data[p++]));
  }
  return testsupport::AcePacked(name, data, w);
}

int Make(const char* out, int megabytes) {
  std::vector<testsupport::TAceEntry> entries;
  for (int i = 0; i < megabytes; ++i)
    entries.push_back(Pack("part" + std::to_string(i) + ".txt", TextLike(1 << 20)));
  const std::vector<uint8_t> bytes = testsupport::AceArchive(entries);
  FILE* file = std::fopen(out, "wb");
  if (!file) return 1;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  return std::fclose(file) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "test") == 0) return Test(argc - 2, argv + 2);
  if (argc == 4 && std::strcmp(argv[1], "make") == 0) return Make(argv[2], std::atoi(argv[3]));
  std::fprintf(stderr, "usage: ace_bench test ARCHIVE... | make OUT MEGABYTES\n");
  return 2;
}
