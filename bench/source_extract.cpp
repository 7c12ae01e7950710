// Extracts an LHA archive or a cabinet through its member source into a folder, as a stand-in for
// the extractor while it is not there: every member decoded and written under its name (folders
// made, names taken as stored; the benchmark's archives hold nothing hostile). For
// source_bench.sh, which races it against lhasa and cabextract.
//   source_extract lha|cab ARCHIVE FOLDER
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "archive/formats/lhacab_sources.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: source_extract lha|cab ARCHIVE FOLDER\n");
    return 2;
  }
  const std::string kind = argv[1];
  auto source = kind == "lha" ? CreateLhaSource(argv[2], 0, TSourceServices{})
                              : CreateCabSource(argv[2], 0, TSourceServices{});
  const std::filesystem::path root = argv[3];
  int failures = 0;
  TSourceMember member;
  while (source->Next(member)) {
    std::string name = member.Name;
    for (char& c : name)
      if (c == '\\') c = '/';
    const std::filesystem::path target = root / name;
    if (member.Kind == TMemberKind::Folder) {
      std::filesystem::create_directories(target);
      source->Decode([](const uint8_t*, size_t) {}, "");
      continue;
    }
    std::filesystem::create_directories(target.parent_path());
    FILE* out = std::fopen(target.c_str(), "wb");
    if (!out) return 3;
    const TDecodeResult result = source->Decode(
        [&](const uint8_t* bytes, size_t count) { std::fwrite(bytes, 1, count, out); }, "");
    std::fclose(out);
    if (result != TDecodeResult::Ok) ++failures;
  }
  return failures == 0 && source->ErrorCode() == 0 ? 0 : 1;
}
