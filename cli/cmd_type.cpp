// parcelo-cli type: runs archive-type detection on each file named and prints what it found: the
// type, its display name, where the archive starts (-1 when none was found), the zip header state
// and, for types with numbered volumes, the volume letter and number. It changes no file.
#include <cstdio>
#include <string>
#include <vector>

#include "archive/records/arvregister.h"
#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "platform/host.h"

namespace {

bool HasVolumes(TArcType t) {
  return t == atAce || t == atArj || t == atJar || t == atJarExe || t == atRar || t == atRarExe;
}

// False (and a message with the system's reason) when the file cannot be read at all.
bool PrintType(const std::string& hostPath) {
  const std::string systemPath = host::ExpandFileName(host::FromHostPath(hostPath));
  const host::THandle probe = host::FileOpen(systemPath, host::fmOpenRead);
  if (probe < 0) {
    std::fprintf(stderr, "parcelo-cli: %s: %s\n", Printable(hostPath).c_str(),
                 host::LastErrorText().c_str());
    return false;
  }
  host::FileClose(probe);
  TRegisterArcova arc;
  arc.SetArchiveFile(systemPath);
  const TArcType t = arc.ArcType();
  std::printf("type: %s\n", ArcTypeEnumName(t));
  std::printf("name: %s\n", ArcTypeDisplayName(t));
  std::printf("offset: %lld\n", static_cast<long long>(arc.StartOffset()));
  std::printf("header-state: %u\n", static_cast<unsigned>(arc.HeaderState()));
  if (HasVolumes(t)) {
    std::printf("volume: %c %d\n", arc.VolumeLetter(), static_cast<int>(arc.VolumeNumber()));
  }
  return true;
}

}  // namespace

int RunType(const TTypeOptions& options) {
  const std::vector<std::string>& args = options.files;
  int status = kExitOk;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args.size() > 1) {
      if (i > 0) std::printf("\n");
      std::printf("file: %s\n", Printable(args[i]).c_str());
    }
    std::fflush(stdout);
    if (!PrintType(args[i])) status = kExitErrors;
  }
  return status;
}
