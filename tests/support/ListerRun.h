// Runs the lister over one archive file the way the wizard does (FillFileList) and gathers what a
// test looks at: the names, the counters and sums, the names OnReadFile saw and every OnError.
// Also small helpers for fixtures made by command-line tools and for damaging archives.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "archive/formats/arvArcova.h"
#include "platform/host.h"

namespace listtest {

using Bytes = std::vector<uint8_t>;

struct TError {
  int code = 0;
  std::string fileName;
};

struct TListed {
  TArcType type = atNA;
  std::vector<std::string> names;
  std::vector<std::string> readFiles;  // OnReadFile
  std::vector<TError> errors;
  int numFiles = 0;
  int64_t unpacked = 0;
  int64_t packed = 0;
  bool HasError(int code) const {
    for (const TError& e : errors)
      if (e.code == code) return true;
    return false;
  }
};

struct TListOptions {
  bool showEmptyDirs = false;
  std::vector<std::string> masks{"*.*"};
  // Answers OnNextVolume; empty: no handler.
  std::function<bool(std::string& volumeName)> nextVolume;
};

// `path` is a host path.
inline TListed ListFile(const std::string& path, const TListOptions& options = {}) {
  TArcova arcova;
  TListed out;
  arcova.OnError = [&out](TObject*, const std::string& fileName, const std::string&,
                          const std::string&, int code) {
    out.errors.push_back({code, fileName});
  };
  arcova.OnReadFile = [&out](TObject*, const std::string& name) { out.readFiles.push_back(name); };
  if (options.nextVolume) {
    arcova.OnNextVolume = [&options](TObject*, std::string& volumeName, const std::string&, bool,
                                     bool& cancel) { cancel = !options.nextVolume(volumeName); };
  }
  arcova.SetArchiveFile(host::FromHostPath(path));
  out.type = arcova.ArcType();
  for (const std::string& mask : options.masks) arcova.FileSpec().Add(mask);
  arcova.SetShowEmptyDirs(options.showEmptyDirs);
  TStringList list;
  arcova.FillFileList(list);
  for (const std::string& name : list) out.names.push_back(name);
  out.numFiles = arcova.NumFiles();
  out.unpacked = arcova.UnpackSize();
  out.packed = arcova.PackSize();
  return out;
}

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command in `dir`; true when it exits with 0.
inline bool RunIn(const std::string& dir, const std::string& command) {
  return std::system(("cd '" + dir + "' && (" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

// The lines a command prints.
inline std::vector<std::string> LinesOf(const std::string& dir, const std::string& command) {
  std::vector<std::string> lines;
  FILE* pipe = popen(("cd '" + dir + "' && (" + command + ") 2>/dev/null").c_str(), "r");
  if (!pipe) return lines;
  std::string line;
  for (int c; (c = std::fgetc(pipe)) != EOF;) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(c);
    }
  }
  if (!line.empty()) lines.push_back(line);
  pclose(pipe);
  return lines;
}

// "a/b" -> "a\b", as the lister names entries.
inline std::string Backslashed(std::string name) {
  for (char& c : name)
    if (c == '/') c = '\\';
  return name;
}

// Whether `prefix` is the start of `whole`.
inline bool IsPrefix(const std::vector<std::string>& prefix,
                     const std::vector<std::string>& whole) {
  if (prefix.size() > whole.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (prefix[i] != whole[i]) return false;
  return true;
}

// The archive cut at each given length and listed: never a crash or hang, and what comes out is
// always a start of the full list (an entry whose header is whole may be listed, never garbage).
inline void ExpectCutsListPrefixes(const std::string& dir, const Bytes& archive,
                                   const std::vector<size_t>& cuts, const std::string& name,
                                   const std::vector<std::string>& full) {
  for (size_t cut : cuts) {
    if (cut > archive.size()) continue;
    const std::string path = dir + "/" + name;
    WriteBytes(path, Bytes(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(cut)));
    const TListed listed = ListFile(path);
    EXPECT_TRUE(IsPrefix(listed.names, full)) << name << " cut at " << cut;
  }
}

// Flips bytes at pseudo-random places, `rounds` times, listing each damaged copy: no crash, no
// hang, no sanitizer report; the names are whatever the damaged headers say.
inline void ListWithFlips(const std::string& dir, const Bytes& archive, const std::string& name,
                          int rounds, uint32_t seed) {
  uint32_t state = seed;
  const auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (int round = 0; round < rounds && !archive.empty(); ++round) {
    Bytes damaged = archive;
    for (int k = 1 + static_cast<int>(next() % 4); k > 0; --k)
      damaged[next() % damaged.size()] ^= static_cast<uint8_t>(1 + next() % 255);
    const std::string path = dir + "/" + name;
    WriteBytes(path, damaged);
    const TListed listed = ListFile(path);
    EXPECT_LE(listed.names.size(), archive.size()) << name << " round " << round;
  }
}

}  // namespace listtest
