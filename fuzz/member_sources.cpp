// Fuzz harness for the member sources of LHA, cabinets, SZDD/KWAJ, UUE, ZOO, ARJ, ARC, PAK, HA and
// BH, and for the ZOO LZW decoder on its own: the first byte chooses (modulo 11) which of them
// takes the rest of the bytes (ACE's source has a harness of its own, fuzz/ace.cpp). A source's input goes through a temporary file (sources read files); every member is
// walked and decoded into a sink that only counts. A cabinet set's next cabinet is the same bytes
// again, granted a few times. The seeds in corpus/member_sources were made by jlha (-lh0-, -lh5-,
// -lh6-, -lh7-; levels 0 to 2), gcab (stored, MSZIP), uuencode, and field by field as the tests
// build them (LHA level 3, SZDD, KWAJ, ZOO with stored, LZW and lh5 members, LZW streams), and by
// arj (every method, garbled with the password "password", a volume set's first volume), arc,
// the HA archiver (../shared/testdata) and field by field (BH). An ARJ or ACE set's next volume
// is the same bytes again, granted a few times, like a cabinet set's.
// PARCELO_FUZZ_SOURCE=0..10 in the environment holds a run to one of them, whatever the first byte.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/codecs/arvLzd.h"
#include "archive/formats/ha_source.h"
#include "archive/formats/lhacab_sources.h"
#include "archive/formats/old_sources.h"
#include "fuzz/scratch_file.h"

namespace {

constexpr int kMaxVolumes = 3;
constexpr int kKinds = 11;
constexpr int kLzdStream = 5;
constexpr uint64_t kOutputLimit = 1 << 24;  // a sink that stops counting past this

std::string HostFile(const char* suffix) {
  return ScratchPath("sources", suffix);
}

const std::string& ArchivePath() {
  static const std::string path = [] {
    std::atexit([] { std::remove(ArchivePath().c_str()); });
    return HostFile(".arc");
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const int forced = [] {
    const char* value = std::getenv("PARCELO_FUZZ_SOURCE");
    const int kind = value && *value ? std::atoi(value) : -1;
    return kind >= 0 && kind < kKinds ? kind : -1;
  }();
  const int which = forced >= 0 ? forced : data[0] % kKinds;
  ++data;
  --size;
  uint64_t total = 0;
  auto sink = [&](const uint8_t*, size_t count) {
    total += count;
    if (total > kOutputLimit) throw 1;  // passes through the source, as a failed write would
  };
  if (which == kLzdStream) {
    size_t at = 0;
    TCodecIo io;
    io.Read = [&](uint8_t* buffer, size_t count) {
      const size_t n = count < size - at ? count : size - at;
      for (size_t i = 0; i < n; ++i) buffer[i] = data[at + i];
      at += n;
      return n;
    };
    io.Write = [&](const uint8_t*, size_t count) { total += count; };
    LzdDecode(io, kOutputLimit);
    return 0;
  }
  if (!WriteScratch(ArchivePath(), data, size)) return 0;
  int volumes = 0;
  TSourceServices services;
  services.NextVolume = [&](std::string& volume, const std::string&) {
    volume = ArchivePath();
    return ++volumes <= kMaxVolumes;
  };
  std::unique_ptr<TMemberSource> source;
  switch (which) {
    case 0:
      source = CreateLhaSource(ArchivePath(), 0, services);
      break;
    case 1:
      source = CreateCabSource(ArchivePath(), 0, services);
      break;
    case 2:
      source = CreateMsCompressSource(ArchivePath(), 0, services);
      break;
    case 3:
      source = CreateUueSource(ArchivePath(), 0, services);
      break;
    case 4:
      source = CreateZooSource(ArchivePath(), 0, services);
      break;
    case 6:
      source = CreateArjSource(ArchivePath(), 0, services);
      break;
    case 7:
      source = CreateArcSource(ArchivePath(), 0, false, services);
      break;
    case 8:
      source = CreateArcSource(ArchivePath(), 0, true, services);
      break;
    case 9:
      source = CreateHaSource(ArchivePath(), 0, services);
      break;
    default:
      source = CreateBhSource(ArchivePath(), 0, services);
      break;
  }
  TSourceMember member;
  for (int members = 0; members < 10000 && source->Next(member); ++members) {
    try {
      // Garbled ARJ members of the seeds were made with this password; others ignore it.
      source->Decode(sink, "password");
    } catch (int) {
    }
    total = 0;
  }
  return 0;
}
