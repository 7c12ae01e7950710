// Fuzz harness for the lister's format readers: the first byte chooses the archive type the walk
// takes the rest of the bytes for (its low four bits index the table below, bit 4 turns
// ShowEmptyDirs on), whatever detection would say, so every reader meets every kind of garbage.
// Both the list fill and the event-mode walk run. A set's next volume is always another copy of
// the same bytes, so the volume changes of ACE, ARJ, CAB and RAR run too, a few times per input.
// The bytes go through temporary files (the walk reads files). The seeds in corpus/lister were made
// by zip, arc, arj, gcab, gzip, compress, lha (levels 0 to 2), GNU tar (GNU and pax forms, a long
// name) and uuencode from small text files, and field by field (as the reader tests build them)
// for ACE, ARC folders, PAK, BH, cabinet sets, HA, MsGZ, RAR (a split file, a Unicode name, a Unix
// folder), RAR 5 (a volume, service headers, encrypted headers), ZOO and LHA level-2 headers whose
// name is not the first extended header; the found-* inputs are three per type from a ten-minute
// libFuzzer run over the first seeds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/formats/arvArcova.h"
#include "fuzz/scratch_file.h"
#include "platform/host.h"

namespace {

constexpr TArcType kTypes[16] = {atZip, atAce, atArc,  atPak, atArj, atBh,      atCab, atGZip,
                                 atHA,  atLha, atMsGZ, atRar, atTar, atTarGZip, atUUE, atZoo};
constexpr int kMaxVolumes = 4;  // next volumes granted per walk

class TFuzzArcova : public TArcova {
 public:
  // The real one examines the drive and writes a temporary file in its root.
  TArcType CheckZipSpan() override { return atZipMV; }
  // Takes the archive for `type`, starting at its first byte.
  void Force(TArcType type) {
    FArcType = type;
    FDetected.StartOffset = 0;
    ParseVolumeName();
  }
};

std::string HostFile(const char* suffix) {
  return ScratchPath("lister", suffix);
}

const std::string& ArchivePath() {
  static const std::string path = [] {
    std::atexit([] {
      std::remove(ArchivePath().c_str());
      std::remove(HostFile(".next").c_str());
    });
    return HostFile(".arc");
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const TArcType type = kTypes[data[0] & 0x0F];
  const bool showDirs = (data[0] & 0x10) != 0;
  if (!WriteScratch(ArchivePath(), data + 1, size - 1)) return 0;
  if (!WriteScratch(HostFile(".next"), data + 1, size - 1)) return 0;
  const std::string nextVolume = host::FromHostPath(HostFile(".next"));

  TFuzzArcova arcova;
  arcova.SetArchiveFile(host::FromHostPath(ArchivePath()));
  if (arcova.ArchiveFile().empty()) return 0;
  arcova.Force(type);
  TStringList spec;
  spec.Add("*.*");
  arcova.SetFileSpec(spec);
  arcova.SetShowEmptyDirs(showDirs);
  arcova.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
  int volumes = 0;
  arcova.OnNextVolume = [&](TObject*, std::string& volumeName, const std::string&, bool,
                            bool& cancel) {
    cancel = ++volumes > kMaxVolumes;
    volumeName = nextVolume;
  };

  TStringList names;
  arcova.FillFileList(names);
  const int listed = names.Count();

  volumes = 0;
  arcova.Force(type);  // a walk may have changed the type (a zip found to be spanned)
  int reported = 0;
  uint64_t checksum = 0;
  arcova.OnRead = [&](TObject*, int64_t offset, int filenum) {
    const TArcovaEntry& e = arcova.Entry();
    // A TAR inside gzip reports positions in the inflated stream.
    const bool inflated = type == atGZip || type == atTarGZip;
    if (offset < 0 || (!inflated && offset >= static_cast<int64_t>(size))) __builtin_trap();
    if (filenum != arcova.NumFiles() && type != atUUE) __builtin_trap();
    if (e.Ratio > 100) __builtin_trap();
    // An exact time may lie before 1899-12-30, where date values are negative.
    checksum += e.FileName.size() + e.MethodName.size() + e.Comment.size() +
                static_cast<uint64_t>(static_cast<int64_t>(e.Date)) + e.Crc32;
    ++reported;
  };
  arcova.Scan();
  // Both modes see the same entries (unless a volume prompt cut one walk short).
  if (reported != listed && !arcova.Cancel()) __builtin_trap();
  (void)checksum;
  return 0;
}
