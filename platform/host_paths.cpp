// The path model: system paths in Windows syntax (drive letters, "\" separators) mapped to host
// paths and back, full-path expansion and the current directory. It does not touch files beyond
// asking for the current directory and the home directory's real location.
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/host.h"
#include "platform/host_internal.h"
#include "platform/seams.h"

namespace host {

namespace {

enum class TPathKind { Empty, Unc, Drive, DriveRelative, Rooted, Relative };

struct TParsedPath {
  TPathKind Kind = TPathKind::Empty;
  char Letter = 0;   // Drive, DriveRelative: upper case
  std::string Rest;  // below the root, "\" separated, leading separators removed
};

TParsedPath ParseSystemPath(const std::string& input) {
  TParsedPath parsed;
  const std::string path = SlashToBackslash(input);
  if (path.empty()) return parsed;
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    parsed.Kind = TPathKind::Unc;
    parsed.Rest = path.substr(2);
    return parsed;
  }
  size_t start = 0;
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
    parsed.Letter = UpperAscii(path[0]);
    start = 2;
    parsed.Kind =
        (path.size() > 2 && path[2] == '\\') ? TPathKind::Drive : TPathKind::DriveRelative;
  } else {
    parsed.Kind = path[0] == '\\' ? TPathKind::Rooted : TPathKind::Relative;
  }
  if (parsed.Kind != TPathKind::Relative && parsed.Kind != TPathKind::DriveRelative) {
    while (start < path.size() && path[start] == '\\') ++start;
  }
  parsed.Rest = path.substr(start);
  return parsed;
}

// "/a/b/" -> "/a/b", "/" -> "" (so that root + "/" + rest never doubles the slash).
std::string StripTrailingSlashes(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

std::string CurrentHostDir() {
  std::vector<char> buffer(PATH_MAX + 1);
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.data();
    if (errno != ERANGE) break;
    buffer.resize(buffer.size() * 2);
  }
  return "/";  // the directory was removed under us; the root is the safest guess
}

std::string RealPathOf(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string result = resolved;
  ::free(resolved);
  return result;
}

// The host folder a drive letter stands for, without a trailing slash ("" for the file-system
// root). Sets LastError() and fails for a drive that is absent or holds no disk.
bool DriveHostRoot(char letter, std::string& root) {
  if (TFakeDrive* fake = detail::FakeDrive(letter)) {
    if (!fake->Ready) return detail::Fail(kErrorNotReady);
    if (fake->HostFolder.empty()) return detail::Fail(kErrorPathNotFound);
    root = StripTrailingSlashes(fake->HostFolder);
    return true;
  }
  if (letter == 'C') {
    root = StripTrailingSlashes(HomeDirectory());
    return true;
  }
  if (letter == 'Z') {
    root.clear();
    return true;
  }
  if (bool ready = false; detail::MountedVolumeRoot(letter, root, ready)) {
    return ready || detail::Fail(kErrorNotReady);
  }
  return detail::Fail(kErrorPathNotFound);
}

// Host root for `rest` below the drive: root + "/" + rest with "/" separators, "." and ".."
// resolved without leaving the drive.
std::string JoinBelowRoot(const std::string& root, const std::string& rest) {
  std::string below = rest;
  below = BackslashToSlash(std::move(below));
  below = detail::NormaliseBelowRoot(below, '/');
  if (below.empty()) return root.empty() ? "/" : root;
  return root + "/" + below;
}

// Does `path` lie at or below `root` (both absolute, normalised, root without trailing slash)?
// Gives the part below it.
bool Below(const std::string& path, const std::string& root, std::string& rest) {
  if (root.empty() || root == "/") {
    rest = path.size() > 1 ? path.substr(1) : std::string();
    return true;
  }
  if (path.compare(0, root.size(), root) != 0) return false;
  if (path.size() == root.size()) {
    rest.clear();
    return true;
  }
  if (path[root.size()] != '/') return false;
  rest = path.substr(root.size() + 1);
  return true;
}

char DriveOfCurrentDir() {
  return GetCurrentDir()[0];
}

bool ResolveParsed(const TParsedPath& parsed, const std::string& original, std::string& hostPath) {
  switch (parsed.Kind) {
    case TPathKind::Empty:
      return detail::Fail(kErrorPathNotFound);
    case TPathKind::Unc:
      return detail::Fail(kErrorBadNetPath);  // no network shares here
    case TPathKind::Drive: {
      std::string root;
      if (!DriveHostRoot(parsed.Letter, root)) return false;
      hostPath = JoinBelowRoot(root, parsed.Rest);
      return true;
    }
    case TPathKind::DriveRelative:
    case TPathKind::Relative: {
      TSeams* seams = CurrentSeams();
      if (parsed.Kind == TPathKind::DriveRelative || (seams && !seams->Drives.empty())) {
        // "C:x" and relative paths on a fake drive go through the drive's own mapping.
        const TParsedPath full = ParseSystemPath(ExpandFileName(original));
        if (full.Kind == TPathKind::Drive) return ResolveParsed(full, original, hostPath);
      }
      if (parsed.Kind == TPathKind::DriveRelative) return detail::Fail(kErrorPathNotFound);
      // The operating system resolves a relative path against the current directory itself.
      std::string relative = parsed.Rest;
      relative = BackslashToSlash(std::move(relative));
      std::string collapsed;
      for (char c : relative) {
        if (c == '/' && !collapsed.empty() && collapsed.back() == '/') continue;
        collapsed.push_back(c);
      }
      hostPath = collapsed;
      return true;
    }
    case TPathKind::Rooted:
      hostPath = JoinBelowRoot(std::string(), parsed.Rest);
      return true;
  }
  return detail::Fail(kErrorPathNotFound);
}

}  // namespace

namespace detail {

std::string NormaliseBelowRoot(const std::string& rest, char separator) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t next = rest.find(separator, pos);
    if (next == std::string::npos) next = rest.size();
    std::string part = rest.substr(pos, next - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    pos = next + 1;
  }
  std::string result;
  for (const auto& part : parts) {
    if (!result.empty()) result.push_back(separator);
    result += part;
  }
  if (!result.empty() && !rest.empty() && rest.back() == separator) result.push_back(separator);
  return result;
}

bool Resolve(const std::string& systemPath, TAccess access, std::string& hostPath) {
  if (systemPath.find('\0') != std::string::npos) return Fail(kErrorInvalidName);
  const TParsedPath parsed = ParseSystemPath(systemPath);
  if (!ResolveParsed(parsed, systemPath, hostPath)) return false;
  if (access == TAccess::Write) {
    // Which drive does the write land on? Only fake drives can be write-protected.
    TSeams* seams = CurrentSeams();
    if (seams && !seams->Drives.empty()) {
      const char letter = DriveOfPath(systemPath);
      if (TFakeDrive* fake = FakeDrive(letter); fake && fake->WriteProtected) {
        return Fail(kErrorWriteProtect);
      }
    }
  }
  return true;
}

}  // namespace detail

std::string HomeDirectory() {
  if (const char* home = ::getenv("HOME"); home != nullptr && home[0] == '/') {
    std::string result = StripTrailingSlashes(home);
    return result.empty() ? "/" : result;
  }
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    std::string result = StripTrailingSlashes(found->pw_dir);
    return result.empty() ? "/" : result;
  }
  return "/";
}

bool ToHostPath(const std::string& systemPath, std::string& hostPath) {
  return detail::Resolve(systemPath, detail::TAccess::Read, hostPath);
}

std::string FromHostPath(const std::string& hostPath) {
  std::string absolute = hostPath;
  if (absolute.empty() || absolute[0] != '/') absolute = CurrentHostDir() + "/" + absolute;
  const bool trailing = absolute.size() > 1 && absolute.back() == '/';
  std::string normal(1, '/');  // built by appending: GCC 12 misreads "/" + s at -O3 (-Wrestrict)
  normal += detail::NormaliseBelowRoot(absolute.substr(1), '/');
  if (normal.size() > 1 && normal.back() == '/') normal.pop_back();

  // Candidate roots, the longest match wins: fake drives, then the home directory (as named and
  // as it really lies, for a home reached through a symbolic link), then the whole file system.
  struct TRoot {
    char Letter;
    std::string Path;
  };
  std::vector<TRoot> roots;
  if (TSeams* seams = CurrentSeams()) {
    for (const auto& drive : seams->Drives) {
      if (drive.HostFolder.empty() || drive.HostFolder[0] != '/') continue;
      const std::string root = StripTrailingSlashes(drive.HostFolder);
      const char letter = UpperAscii(drive.Letter);
      roots.push_back({letter, root});
      if (std::string real = RealPathOf(root); !real.empty() && real != root) {
        roots.push_back({letter, real});
      }
    }
  }
  for (const auto& volume : MountedVolumes()) roots.push_back({volume.Letter, volume.MountPoint});
  const std::string home = StripTrailingSlashes(HomeDirectory());
  roots.push_back({'C', home});
  if (std::string real = RealPathOf(home.empty() ? "/" : home); !real.empty()) {
    roots.push_back({'C', StripTrailingSlashes(real)});
  }

  char letter = 'Z';
  std::string rest = normal.substr(1);
  size_t bestLength = 0;
  for (const auto& root : roots) {
    std::string below;
    if (root.Path.size() >= bestLength && Below(normal, root.Path, below)) {
      if (root.Path.size() > bestLength || letter == 'Z') {
        letter = root.Letter;
        rest = below;
        bestLength = root.Path.size();
      }
    }
  }
  rest = SlashToBackslash(std::move(rest));
  std::string result = std::string(1, letter) + ":\\" + rest;
  if (trailing && !rest.empty()) result.push_back('\\');
  return result;
}

std::string ExpandFileName(const std::string& path) {
  if (path.empty()) return std::string();
  const TParsedPath parsed = ParseSystemPath(path);
  switch (parsed.Kind) {
    case TPathKind::Empty:
      return std::string();
    case TPathKind::Unc: {
      // "\\server\share\rest": the share is the root that ".." cannot leave.
      size_t shareEnd = parsed.Rest.find('\\');
      if (shareEnd != std::string::npos) shareEnd = parsed.Rest.find('\\', shareEnd + 1);
      if (shareEnd == std::string::npos) return "\\\\" + parsed.Rest;
      return "\\\\" + parsed.Rest.substr(0, shareEnd + 1) +
             detail::NormaliseBelowRoot(parsed.Rest.substr(shareEnd + 1), '\\');
    }
    case TPathKind::Drive:
      return std::string(1, parsed.Letter) + ":\\" + detail::NormaliseBelowRoot(parsed.Rest, '\\');
    case TPathKind::DriveRelative: {
      std::string base = parsed.Letter == DriveOfCurrentDir()
                             ? GetCurrentDir()
                             : std::string(1, parsed.Letter) + ":\\";
      if (base.back() != '\\') base.push_back('\\');
      return ExpandFileName(base + parsed.Rest);
    }
    case TPathKind::Rooted: {
      std::string rest = parsed.Rest;
      rest = BackslashToSlash(std::move(rest));
      std::string rooted(1, '/');
      rooted += detail::NormaliseBelowRoot(rest, '/');
      return FromHostPath(rooted);
    }
    case TPathKind::Relative: {
      std::string base = GetCurrentDir();
      if (base.back() != '\\') base.push_back('\\');
      return ExpandFileName(base + parsed.Rest);
    }
  }
  return std::string();
}

std::string GetCurrentDir() {
  return FromHostPath(CurrentHostDir());
}

bool SetCurrentDir(const std::string& path) {
  std::string hostPath;
  if (!detail::Resolve(path, detail::TAccess::Read, hostPath)) return false;
  if (::chdir(hostPath.c_str()) != 0) return detail::FailFromErrno(hostPath);
  return true;
}

char DriveOfPath(const std::string& path) {
  const TParsedPath parsed = ParseSystemPath(path);
  switch (parsed.Kind) {
    case TPathKind::Unc:
      return 0;
    case TPathKind::Drive:
    case TPathKind::DriveRelative:
      return parsed.Letter;
    case TPathKind::Empty:
    case TPathKind::Relative:
      return DriveOfCurrentDir();
    case TPathKind::Rooted: {
      const std::string full = ExpandFileName(path);
      return full.empty() ? 0 : full[0];
    }
  }
  return 0;
}

std::string DriveRoot(char drive) {
  return std::string(1, UpperAscii(drive)) + ":\\";
}

}  // namespace host
