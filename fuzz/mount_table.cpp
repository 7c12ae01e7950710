// Fuzz harness for mounted-volume discovery: the input is a mount table (as /proc/self/mounts
// would hold it), handed in through the seams. Every volume found must have a letter of its own
// from D: to Y:, a mount point where volumes are looked for, and map to and from system paths
// consistently. Nothing is mounted, read below the mount points or written.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/host.h"
#include "platform/seams.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  host::TSeams seams;
  seams.MountTable = std::string(reinterpret_cast<const char*>(data), size);
  seams.UserName = "alice";
  seams.SysRoot = "/nonexistent-sys";
  host::ScopedSeams scope(seams);
  uint32_t seen = 0;
  for (const auto& volume : host::MountedVolumes()) {
    Check(volume.Letter >= 'D' && volume.Letter <= 'Y');
    const uint32_t bit = 1u << (volume.Letter - 'A');
    Check((seen & bit) == 0);
    seen |= bit;
    const std::string& point = volume.MountPoint;
    Check(point == "/mnt" || StartsWith(point, "/mnt/") || StartsWith(point, "/media/") ||
          StartsWith(point, "/run/media/alice/"));
    Check(host::GetDriveType(host::DriveRoot(volume.Letter)) == volume.Type);
    // A path below the mount point names the volume's letter (or a longer mount point's).
    const std::string system = host::FromHostPath(point + "/x");
    Check(system.size() >= 4 && system[1] == ':' && system[2] == '\\');
  }
  Check((host::GetLogicalDrives() & ~((1u << 2) | (1u << 25))) == seen);
  return 0;
}
