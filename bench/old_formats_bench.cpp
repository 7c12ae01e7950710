// Decodes every member of an ARJ or ARC archive through its member source and checks it, writing
// nothing: the engine's half of `test` for these formats, timed by old_formats_bench.sh beside
// arj, arc and unar. Usage: old_formats_bench arj|arc ARCHIVE [PASSWORD]. Exit status 0 when
// every member decoded with its checksum.
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/formats/old_sources.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: old_formats_bench arj|arc ARCHIVE [PASSWORD]\n");
    return 2;
  }
  TSourceServices services;
  services.NextVolume = [](std::string& name, const std::string&) {
    // The name the source proposes, when that file is there.
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file != nullptr) std::fclose(file);
    return file != nullptr;
  };
  const bool arj = std::strcmp(argv[1], "arj") == 0;
  auto source = arj ? CreateArjSource(argv[2], 0, services)
                    : CreateArcSource(argv[2], 0, false, services);
  const std::string password = argc > 3 ? argv[3] : "";
  TSourceMember member;
  int failed = 0;
  unsigned long long bytes = 0;
  while (source->Next(member)) {
    const TDecodeResult result =
        source->Decode([&bytes](const uint8_t*, size_t count) { bytes += count; }, password);
    if (result != TDecodeResult::Ok) {
      std::fprintf(stderr, "%s: failed (%d)\n", member.Name.c_str(), static_cast<int>(result));
      ++failed;
    }
  }
  if (source->ErrorCode() != 0) ++failed;
  return failed == 0 ? 0 : 1;
}
