// The extraction tests' fixture: a temporary folder with the archive and the destination, a
// TUnZip pointed at them, and an event log that writes every event as one line (names relative to
// the destination). Shared by the driver and zip-extraction suites; it tests nothing itself.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/zip/arvUnZip.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"
#include "support/ZlibDeflate.h"

namespace extracttest {

using ziptest::Bytes;
using ziptest::ZipBuilder;
using ziptest::ZipMember;

inline Bytes Pattern(size_t size, uint32_t seed = 1) {
  Bytes b(size);
  uint32_t x = seed;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>((i % 7 == 0) ? (x >> 24) : ('a' + (i / 13) % 26));
  }
  return b;
}

inline ZipMember Deflated(const std::string& name, const Bytes& plain) {
  ZipMember m;
  m.name = name;
  m.method = 8;
  m.data = testsupport::ZlibDeflate(plain);
  m.plain = plain;
  return m;
}

inline ZipMember Stored(const std::string& name, const std::string& contents) {
  ZipMember m;
  m.name = name;
  m.data = ziptest::ToBytes(contents);
  return m;
}

// Runs a shell command; its exit status.
inline int Shell(const std::string& command) {
  const int rc = std::system(command.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

inline bool HaveTool(const std::string& tool) {
  return Shell("command -v " + tool + " >/dev/null 2>&1") == 0;
}

inline std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ExtractTest : public ::testing::Test {
 protected:
  parcelo::test::TempDir dir{"extract"};
  TUnZip unzip;
  std::vector<std::string> log;

  std::string ArchiveHost() const { return dir.Host("a.zip"); }
  std::string DestSystem() const { return dir.System("out") + "\\"; }
  std::string OutHost(const std::string& relative) const { return dir.Host("out/" + relative); }

  // Writes the archive and points the extractor at it with FileSpec "*.*".
  void Use(ZipBuilder& builder) {
    ASSERT_TRUE(builder.WriteTo(ArchiveHost()));
    UseFile(ArchiveHost());
  }
  void UseFile(const std::string& hostPath) {
    unzip.SetArchiveFile(host::FromHostPath(hostPath));
    unzip.SetExtractDir(dir.System("out"));
    unzip.FileSpec().Clear();
    unzip.FileSpec().Add("*.*");
  }

  // Names below the destination keep their "\"; others are shown whole.
  std::string Rel(const std::string& systemPath) const {
    const std::string dest = DestSystem();
    if (systemPath.compare(0, dest.size(), dest) == 0) return systemPath.substr(dest.size());
    return systemPath;
  }

  // Logs every event; progress only when `withProgress`.
  void Record(bool withProgress = false) {
    unzip.OnActivate = [this](TObject*) { log.push_back("Activate"); };
    unzip.OnDeactivate = [this](TObject*) { log.push_back("Deactivate"); };
    unzip.OnBegin = [this](TObject*, const std::string& f, int count, bool&) {
      log.push_back("Begin " + Rel(f) + " " + std::to_string(count));
    };
    unzip.OnEnd = [this](TObject*, const std::string& f, bool pass) {
      log.push_back("End " + Rel(f) + (pass ? " pass" : " FAIL"));
    };
    RecordErrors();
    unzip.OnElapsedTime = [this](TObject*, float seconds) {
      log.push_back(seconds >= 0 ? "Elapsed" : "Elapsed<0");
    };
    if (withProgress)
      unzip.OnProgress = [this](TObject*, uint8_t byFile, uint8_t byArchive) {
        log.push_back("Progress " + std::to_string(byFile) + " " + std::to_string(byArchive));
      };
  }
  void RecordErrors() {
    unzip.OnError = [this](TObject*, const std::string& f, const std::string& ext,
                           const std::string& volume, int code) {
      log.push_back("Error " + std::to_string(code) + " " + Rel(f) +
                    (ext.empty() ? "" : " [" + ext + "]") +
                    (volume == "0" ? "" : " vol " + volume));
    };
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const std::string& line : log) n += line.compare(0, prefix.size(), prefix) == 0;
    return n;
  }
  bool OutExists(const std::string& relative) const {
    return std::filesystem::exists(std::filesystem::symlink_status(OutHost(relative)));
  }
  std::string Out(const std::string& relative) const { return ReadHostFile(OutHost(relative)); }
  // Everything below the temporary folder, as relative host paths, sorted.
  std::vector<std::string> Tree() const {
    std::vector<std::string> all;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.HostPath()))
      all.push_back(std::filesystem::relative(e.path(), dir.HostPath()).string());
    std::sort(all.begin(), all.end());
    return all;
  }
};

}  // namespace extracttest
