// parcelo-cli type: runs archive-type detection on each file named and prints what it found: the
// type, its display name, where the archive starts (-1 when none was found), the zip header state
// and, for types with numbered volumes, the volume letter and number. It changes no file.
#include <cstdio>
#include <string>
#include <vector>

#include "archive/records/arvregister.h"
#include "cli/commands.h"
#include "platform/host.h"

namespace {

bool HasVolumes(TArcType t) {
  return t == atAce || t == atArj || t == atJar || t == atJarExe || t == atRar || t == atRarExe;
}

void PrintType(const std::string& hostPath) {
  TRegisterArcova arc;
  arc.SetArchiveFile(host::ExpandFileName(host::FromHostPath(hostPath)));
  const TArcType t = arc.ArcType();
  std::printf("type: %s\n", ArcTypeEnumName(t));
  std::printf("name: %s\n", ArcTypeDisplayName(t));
  std::printf("offset: %lld\n", static_cast<long long>(arc.StartOffset()));
  std::printf("header-state: %u\n", static_cast<unsigned>(arc.HeaderState()));
  if (HasVolumes(t)) {
    std::printf("volume: %c %d\n", arc.VolumeLetter(), static_cast<int>(arc.VolumeNumber()));
  }
}

}  // namespace

int RunType(const TTypeOptions& options) {
  const std::vector<std::string>& args = options.files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args.size() > 1) {
      if (i > 0) std::printf("\n");
      std::printf("file: %s\n", args[i].c_str());
    }
    PrintType(args[i]);
  }
  return 0;
}
