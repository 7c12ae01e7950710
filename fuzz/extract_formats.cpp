// Fuzz harness for the extraction of the formats other than zip: the first byte chooses the archive
// type TUnArchive takes the rest of the bytes for (its low five bits index the table below),
// whatever detection would say, and whether the run extracts into a scratch folder (bit 5 clear)
// or only tests (bit 5 set); so every member source meets every kind of garbage, and the
// extractor's handling of names, links, hard links, devices and failures runs behind it. Output
// is capped (a bomb is cancelled after kMaxOutput bytes) and the scratch folder is emptied after
// each input. The seeds in corpus/extract_formats were made by GNU tar (v7, ustar, GNU, pax,
// sparse, links, a device), gzip, bzip2, xz, zstd, lz4, lzip, compress, 7zz (LZMA, LZMA2, PPMd,
// BZip2, Deflate, BCJ, solid, encrypted), cpio (newc, odc, bin) and genisoimage; the RAR ones are
// the lister's field-by-field RAR and RAR 5 seeds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "archive/formats/arvUnArchive.h"
#include "fuzz/scratch_file.h"
#include "platform/host.h"

namespace {

constexpr TArcType kTypes[32] = {
    atTar,     atTarGZip, atGZip, atRar,  at7Zip, atXz,  atBZip2, atZstd, atLz4, atLzip,   atCpio,
    atIso9660, atLha,     atCab,  atArj,  atZoo,  atArc, atPak,   atHA,   atAce, atBh,     atUUE,
    atMsGZ,    atRarExe,  atTar,  atGZip, at7Zip, atXz,  atCpio,  atRar,  atTar, atTarGZip};
constexpr int64_t kMaxOutput = 32 << 20;  // bytes written (or tested) per input

class TFuzzUnArchive : public TUnArchive {
 public:
  void Force(TArcType type) {
    FArcType = type;
    FDetected.StartOffset = 0;
    ParseVolumeName();
  }
  int32_t WriteBlock(host::THandle out, uint8_t* buffer, int32_t count,
                     TBlockOptions options) override {
    FWritten += count;
    if (FWritten > kMaxOutput) SetCancel(true);
    return TUnArchive::WriteBlock(out, buffer, count, options);
  }
  int64_t FWritten = 0;
};

std::string HostFile(const char* suffix) {
  return ScratchPath("formats", suffix);
}

const std::string& ArchivePath() {
  static const std::string path = [] {
    std::atexit([] {
      std::remove(ArchivePath().c_str());
      std::error_code ignored;
      std::filesystem::remove_all(HostFile(".out"), ignored);
    });
    return HostFile(".arc");
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const TArcType type = kTypes[data[0] & 0x1F];
  const bool testOnly = (data[0] & 0x20) != 0;
  if (!WriteScratch(ArchivePath(), data + 1, size - 1)) return 0;
  const std::string out = HostFile(".out");

  TFuzzUnArchive un;
  un.SetArchiveFile(host::FromHostPath(ArchivePath()));
  if (un.ArchiveFile().empty()) return 0;
  un.Force(type);
  un.SetExtractDir(host::FromHostPath(out));
  un.SetCreateStoredDirs(true);
  un.SetTestOnly(testOnly);
  un.FileSpec().Add("*.*");
  un.Passwords().Add("password");
  int volumes = 0;
  un.OnNextVolume = [&](TObject*, std::string&, const std::string&, bool exists, bool& cancel) {
    cancel = !exists || ++volumes > 2;
  };
  const int count = un.Extract();
  // The count is of files written whole; never more than the members selected.
  if (count < 0 || count > un.SelectedCount()) __builtin_trap();
  std::error_code ignored;
  std::filesystem::remove_all(out, ignored);
  return 0;
}
