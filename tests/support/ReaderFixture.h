// Helpers for the tests of the lister's format readers: a little-endian byte writer for headers
// built field by field, one call that lists a file both ways (the wizard's list fill and the
// event-mode walk) and keeps what the lister said, running other tools (archivers that make
// fixtures, lsar as an oracle), and the damage every reader must survive (cuts and flipped
// bytes). Header only.
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

using Bytes = std::vector<uint8_t>;

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

// Runs a shell command in `dir`; true when it exits with 0.
inline bool RunIn(const std::string& dir, const std::string& command) {
  return std::system(("cd '" + dir + "' && (" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

// The lines a command run in `dir` prints.
inline std::vector<std::string> LinesOf(const std::string& dir, const std::string& command) {
  const std::string out = RunTool("cd '" + dir + "' && (" + command + ") 2>/dev/null");
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
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

// "a/b" -> "a\b", as the lister names entries.
inline std::string Backslashed(std::string name) {
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

// ---- listing ------------------------------------------------------------------------------------
struct TListerError {
  int code = 0;
  std::string fileName;
  std::string extendedMsg;
};

struct TListing {
  TArcType type = atNA;
  std::vector<std::string> names;      // FillFileList
  std::vector<TArcovaEntry> entries;   // event mode, one per OnRead
  std::vector<std::string> readFiles;  // OnReadFile during the list fill
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
  // Whether OnNextVolume is assigned.
  bool nextVolumeHandler = true;
  // The handler's answer: true takes the volume (whose name it may change), false cancels. When
  // empty, every volume that exists is taken.
  std::function<bool(std::string& volumeName)> nextVolume = nullptr;
};

// Lists the file as the wizard does (FillFileList), then walks it again in event mode, which must
// see the same entries and be asked for the same volumes, answered as the list fill was. `hostPath`
// is a host path.
inline TListing ListFile(const std::string& hostPath, const TListOptions& options = {}) {
  TListing result;
  TArcova arcova;
  arcova.OnError = [&](TObject*, const std::string& fileName, const std::string& extendedMsg,
                       const std::string&, int code) {
    result.errors.push_back({code, fileName, extendedMsg});
  };
  arcova.OnReadFile = [&](TObject*, const std::string& name) { result.readFiles.push_back(name); };
  struct TAnswer {
    std::string asked, given;
    bool cancel;
  };
  std::vector<TAnswer> answers;
  if (options.nextVolumeHandler) {
    arcova.OnNextVolume = [&](TObject*, std::string& volumeName, const std::string&, bool exists,
                              bool& cancel) {
      result.volumesAsked.push_back(volumeName);
      const std::string asked = volumeName;
      cancel = options.nextVolume ? !options.nextVolume(volumeName) : !exists;
      answers.push_back({asked, volumeName, cancel});
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

  // The second walk must not reach the caller's handler again: it replays the answers.
  arcova.OnError = nullptr;
  arcova.OnReadFile = nullptr;
  size_t replayed = 0;  // outlives the handler below, which the event walk calls
  if (options.nextVolumeHandler) {
    arcova.OnNextVolume = [&](TObject*, std::string& volumeName, const std::string&, bool,
                              bool& cancel) {
      if (replayed >= answers.size()) {
        ADD_FAILURE() << hostPath << ": the event walk asks for " << volumeName
                      << ", the list fill did not";
        cancel = true;
        return;
      }
      const TAnswer& answer = answers[replayed++];
      EXPECT_EQ(volumeName, answer.asked) << hostPath;
      volumeName = answer.given;
      cancel = answer.cancel;
    };
  }
  arcova.OnRead = [&](TObject*, int64_t, int filenum) {
    EXPECT_EQ(filenum, arcova.NumFiles());
    result.entries.push_back(arcova.Entry());
  };
  EXPECT_TRUE(arcova.Scan());
  // The event-mode walk sees what the list fill saw.
  EXPECT_EQ(result.entries.size(), result.names.size()) << hostPath;
  EXPECT_EQ(arcova.NumFiles(), result.numFiles) << hostPath;
  return result;
}

// Whether `prefix` is the start of `whole`.
inline bool IsPrefix(const std::vector<std::string>& prefix,
                     const std::vector<std::string>& whole) {
  return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

// The archive cut at each given length and listed: never a crash or hang, and what comes out is
// always a start of the full list (an entry whose header is whole may be listed, never garbage).
inline void ExpectCutsListPrefixes(const std::string& hostPath, const Bytes& archive,
                                   const std::vector<size_t>& cuts,
                                   const std::vector<std::string>& full) {
  for (size_t cut : cuts) {
    if (cut > archive.size()) continue;
    WriteBytes(hostPath,
               Bytes(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(cut)));
    const TListing part = ListFile(hostPath, {.nextVolumeHandler = false});
    EXPECT_TRUE(IsPrefix(part.names, full)) << hostPath << " cut at " << cut;
  }
}

// Flips one to four bytes at random places, `rounds` times, listing each damaged copy: no crash,
// no hang, no sanitizer report; the names are whatever the damaged headers say.
inline void ListWithFlips(const std::string& hostPath, const Bytes& archive, size_t rounds,
                          uint32_t seed) {
  std::mt19937 random(seed);
  for (size_t round = 0; round < rounds && !archive.empty(); ++round) {
    Bytes bytes = archive;
    const int count = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < count; ++i)
      bytes[random() % bytes.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    WriteBytes(hostPath, bytes);
    EXPECT_LE(ListFile(hostPath, {.nextVolumeHandler = false}).names.size(), archive.size());
  }
}

// Lists `bytes` of the given type cut at every length and with bytes flipped at random: never a
// crash, hang or sanitizer report; a cut archive lists a leading part of what the whole one lists
// (what came before the cut stays), and no list is longer than the whole's by more than the
// flipped headers could add.
inline void DamageSweep(const std::string& hostPath, const Bytes& whole, size_t flips = 300) {
  WriteBytes(hostPath, whole);
  const TListing full = ListFile(hostPath, {.nextVolumeHandler = false});
  ASSERT_FALSE(full.names.empty()) << "the sweep needs an archive that lists something";
  // Every cut through the first 512 bytes (where the headers of small archives are), then about
  // 300 more spread over the rest.
  const size_t step = whole.size() <= 512 ? 1 : std::max<size_t>(1, (whole.size() - 512) / 300);
  std::vector<size_t> cuts;
  for (size_t cut = 0; cut < whole.size(); cut += cut < 512 ? 1 : step) cuts.push_back(cut);
  ExpectCutsListPrefixes(hostPath, whole, cuts, full.names);
  ListWithFlips(hostPath, whole, flips, 12345);
}

}  // namespace parcelo::test
