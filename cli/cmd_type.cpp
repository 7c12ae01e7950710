// parcelo-cli type: runs archive-type detection on each file named and prints what it found: the
// engine's type name, the name people know the format by ("ZIP", "gzip", "RAR 5"), where the
// archive starts (-1 when none was found), the zip header state and, for types with numbered
// volumes, the volume letter and number. It changes no file.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/records/arvregister.h"
#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "platform/host.h"

namespace {

// A RAR archive's generation, from the signature at its start: "RAR 5", "RAR 4" (1.5 to 4.x),
// "RAR 1.4", or plain "RAR" when the signature says no more.
std::string RarName(const std::string& systemPath, int64_t start) {
  const host::THandle file = host::FileOpen(systemPath, host::fmOpenRead);
  if (file < 0) return "RAR";
  unsigned char signature[8] = {};
  const bool read = start >= 0 && host::FileSeek(file, start, 0) == start &&
                    host::FileRead(file, signature, sizeof signature) == sizeof signature;
  host::FileClose(file);
  if (!read) return "RAR";
  if (std::memcmp(signature, "RE~^", 4) == 0) return "RAR 1.4";
  if (std::memcmp(signature, "Rar!\x1a\x07", 6) != 0) return "RAR";
  if (signature[6] == 0x01 && signature[7] == 0x00) return "RAR 5";
  if (signature[6] == 0x00) return "RAR 4";
  return "RAR";
}

// The name a person knows the detected format by.
std::string KnownName(TArcType t, const std::string& systemPath, int64_t start) {
  switch (t) {
    case atNA:
      return "no archive";
    case atUnsupported:
      return "unsupported";
    case atFileOpenErr:
      return "unreadable";
    case atUnknown:
      return "unknown";
    case atAce:
      return "ACE";
    case atAceExe:
      return "ACE self-extractor";
    case atArc:
      return "ARC";
    case atArcExe:
      return "ARC self-extractor";
    case atArj:
      return "ARJ";
    case atArjExe:
      return "ARJ self-extractor";
    case atBh:
      return "BlakHole";
    case atBhExe:
      return "BlakHole self-extractor";
    case atCab:
      return "CAB";
    case atGZip:
      return "gzip";
    case atHA:
      return "HA";
    case atJar:
      return "JAR";
    case atJarExe:
      return "JAR self-extractor";
    case atLha:
      return "LHA";
    case atLhaExe:
      return "LHA self-extractor";
    case atLzh:
      return "LZH";
    case atLzhExe:
      return "LZH self-extractor";
    case atMsGZ:
      return "MS compress";
    case atPak:
      return "PAK";
    case atPakExe:
      return "PAK self-extractor";
    case atRar:
      return RarName(systemPath, start);
    case atRarExe:
      return RarName(systemPath, start) + " self-extractor";
    case atTar:
      return "tar";
    case atTarGZip:
      return "tar.gz";
    case atUUE:
      return "uuencode";
    case atZip:
      return "ZIP";
    case atZipExe:
      return "ZIP self-extractor";
    case atZipDS:
      return "ZIP spanned";
    case atZipMV:
      return "ZIP split";
    case atZoo:
      return "ZOO";
    default: {
      // A type this list does not know yet: the engine's display name without its padding.
      std::string name = ArcTypeDisplayName(t);
      while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
      return name;
    }
  }
}

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
  std::printf("name: %s\n", KnownName(t, systemPath, arc.StartOffset()).c_str());
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
