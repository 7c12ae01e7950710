// Helpers for the tests of the lister's format readers: a little-endian byte writer for headers
// built field by field, one call that lists a file both ways (list fill and event-mode walk) and
// keeps what the lister said, running other tools (archivers that make fixtures, lsar as an
// oracle), and the damage sweep that every reader must survive. Header only.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "archive/formats/arvArcova.h"
#include "platform/host.h"

namespace parcelo::test {

// ---- building headers ---------------------------------------------------------------------------
class ByteWriter {
 public:
  ByteWriter& U8(uint32_t v) {
    bytes.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  ByteWriter& U16(uint32_t v) { return U8(v).U8(v >> 8); }
  ByteWriter& U32(uint32_t v) { return U16(v).U16(v >> 16); }
  ByteWriter& Str(const std::string& s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  ByteWriter& Zero(size_t n) {
    bytes.insert(bytes.end(), n, 0);
    return *this;
  }
  // A text field of a fixed width, zero padded (cut when longer).
  ByteWriter& Fixed(const std::string& s, size_t width) {
    for (size_t i = 0; i < width; ++i) U8(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
    return *this;
  }
  ByteWriter& Append(const std::vector<uint8_t>& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
  size_t Size() const { return bytes.size(); }
  void Patch16(size_t at, uint32_t v) {
    bytes[at] = static_cast<uint8_t>(v);
    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
  }
  void Patch32(size_t at, uint32_t v) {
    Patch16(at, v);
    Patch16(at + 2, v >> 16);
  }

  std::vector<uint8_t> bytes;
};

inline void WriteBytes(const std::string& hostPath, const std::vector<uint8_t>& bytes) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << hostPath;
}

inline std::vector<uint8_t> ReadBytes(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ---- other tools --------------------------------------------------------------------------------
inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command; its standard output is returned, its exit status put in `status`.
inline std::string RunTool(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int raw = pclose(pipe);
  if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

// The entry names lsar prints for an archive (folders end in "/"), in its order.
inline std::vector<std::string> LsarNames(const std::string& hostPath) {
  std::vector<std::string> names;
  const std::string out = RunTool("lsar '" + hostPath + "' 2>/dev/null");
  size_t start = 0;
  bool first = true;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(start, end - start);
    start = end + 1;
    if (first) {  // "name.ext: Format"
      first = false;
      continue;
    }
    while (!line.empty() && line[0] == ' ') line.erase(0, 1);
    if (!line.empty()) names.push_back(line);
  }
  return names;
}

// The lister's names with "/" separators, as other tools print them.
inline std::vector<std::string> WithSlashes(std::vector<std::string> names) {
  for (std::string& n : names) std::replace(n.begin(), n.end(), '\\', '/');
  return names;
}

// ---- listing ------------------------------------------------------------------------------------
struct TListerError {
  int code = 0;
  std::string fileName;
  std::string extendedMsg;
};

struct TListing {
  TArcType type = atNA;
  std::vector<std::string> names;     // FillFileList
  std::vector<TArcovaEntry> entries;  // event mode, one per OnRead
  int numFiles = 0;
  int64_t unpacked = 0;
  int64_t packed = 0;
  std::vector<TListerError> errors;       // of the list fill
  std::vector<std::string> volumesAsked;  // the names OnNextVolume was called with
  bool HasError(int code) const {
    return std::any_of(errors.begin(), errors.end(),
                       [code](const TListerError& e) { return e.code == code; });
  }
};

struct TListOptions {
  bool showEmptyDirs = false;
  std::vector<std::string> masks = {"*.*"};
  // Whether OnNextVolume is assigned; it accepts every volume that exists.
  bool nextVolumeHandler = true;
};

inline TListing ListFile(const std::string& hostPath, const TListOptions& options = {}) {
  TListing result;
  TArcova arcova;
  arcova.OnError = [&](TObject*, const std::string& fileName, const std::string& extendedMsg,
                       const std::string&, int code) {
    result.errors.push_back({code, fileName, extendedMsg});
  };
  if (options.nextVolumeHandler) {
    arcova.OnNextVolume = [&](TObject*, std::string& volumeName, const std::string&, bool exists,
                              bool& cancel) {
      result.volumesAsked.push_back(volumeName);
      cancel = !exists;
    };
  }
  arcova.SetArchiveFile(host::FromHostPath(hostPath));
  result.type = arcova.ArcType();
  TStringList spec;
  for (const std::string& m : options.masks) spec.Add(m);
  arcova.SetFileSpec(spec);
  arcova.SetShowEmptyDirs(options.showEmptyDirs);

  TStringList names;
  arcova.FillFileList(names);
  for (const std::string& n : names) result.names.push_back(n);
  result.numFiles = arcova.NumFiles();
  result.unpacked = arcova.UnpackSize();
  result.packed = arcova.PackSize();

  const auto errors = result.errors;
  const auto asked = result.volumesAsked;
  arcova.OnRead = [&](TObject*, int64_t, int filenum) {
    EXPECT_EQ(filenum, arcova.NumFiles());
    result.entries.push_back(arcova.Entry());
  };
  EXPECT_TRUE(arcova.Scan());
  // The event-mode walk sees what the list fill saw.
  EXPECT_EQ(result.entries.size(), result.names.size()) << hostPath;
  EXPECT_EQ(arcova.NumFiles(), result.numFiles) << hostPath;
  result.errors = errors;
  result.volumesAsked = asked;
  return result;
}

// Lists `bytes` of the given type cut at every length and with bytes flipped at random: never a
// crash, hang or sanitizer report; a cut archive lists a leading part of what the whole one lists
// (what came before the cut stays), and no list is longer than the whole's by more than the
// flipped headers could add.
inline void DamageSweep(const std::string& hostPath, const std::vector<uint8_t>& whole,
                        size_t flips = 300) {
  WriteBytes(hostPath, whole);
  const TListing full = ListFile(hostPath, {.nextVolumeHandler = false});
  ASSERT_FALSE(full.names.empty()) << "the sweep needs an archive that lists something";
  // Every cut through the first 512 bytes (where the headers of small archives are), then about
  // 300 more spread over the rest.
  const size_t step = whole.size() <= 512 ? 1 : std::max<size_t>(1, (whole.size() - 512) / 300);
  for (size_t cut = 0; cut < whole.size(); cut += cut < 512 ? 1 : step) {
    WriteBytes(hostPath, std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
    const TListing part = ListFile(hostPath, {.nextVolumeHandler = false});
    ASSERT_LE(part.names.size(), full.names.size()) << "cut at " << cut;
    for (size_t i = 0; i < part.names.size(); ++i)
      ASSERT_EQ(part.names[i], full.names[i]) << "cut at " << cut;
  }
  std::mt19937 random(12345);
  for (size_t round = 0; round < flips; ++round) {
    std::vector<uint8_t> bytes = whole;
    const int count = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < count; ++i)
      bytes[random() % bytes.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    WriteBytes(hostPath, bytes);
    ListFile(hostPath, {.nextVolumeHandler = false});
  }
}

}  // namespace parcelo::test
