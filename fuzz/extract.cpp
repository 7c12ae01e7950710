// Fuzz harness for the main job: arbitrary bytes written as an archive file and extracted by TUnZip
// into a temporary folder, every prompt answered. Before each run the destination already holds
// links that lead out of it (a folder link "a", a file link "b", a hard link "c"), as a hostile
// earlier archive or user could leave them. Output is bounded by the host layer's disk-full seam;
// after each run the harness checks that nothing was written outside the destination, not through
// the planted links either, and that every symbolic link the run made leads to a place inside it
// and does not only loop (a link that leads back to itself is refused by the engine).
// The same bytes are listed first by the lister (TArcova), whose names the extractor must keep:
// everything written has the output path of a listed name (the engine's own mapping applied to
// it), so no name was cut or made up, and every listed file was written or reported by name, so
// none was dropped without a word; a member the lister marks as one extraction refuses is wanted
// nowhere, so nothing may be written for it. Then the folder is emptied. It does not check decoded
// contents.
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "archive/formats/arvArcova.h"
#include "archive/messages/Err_Msgs.h"
#include "archive/zip/arvUnZip.h"
#include "platform/seams.h"

namespace {

namespace fs = std::filesystem;

// Everything that one input may write, in total.
constexpr int64_t kOutputLimit = 64 << 20;
// What the file outside the destination holds; a run that writes through a link changes it.
constexpr char kSentinel[] = "outside the destination";

const fs::path& Root() {
  static const fs::path root = [] {
    std::string pattern = (fs::temp_directory_path() / "parcelo-fuzz-extract-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return fs::path(pattern);
  }();
  return root;
}

void Clear(const fs::path& path) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(path, ec))) return;
  // Files made read-only by their attributes must still go.
  for (auto it = fs::recursive_directory_iterator(path, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    if (!it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path, ec);
}

// What the lister reports for the archive: every entry's name, and whether it is a folder.
struct TListed {
  std::string Name;
  bool IsDirectory = false;
  bool Refused = false;  // the lister says extraction refuses it (and names it when it does)
};

// Archives of other types are listed, but extraction is the zip extractor's: nothing is wanted.
std::vector<TListed> ListArchive(const std::string& archive) {
  std::vector<TListed> listed;
  TArcova arcova;
  arcova.SetArchiveFile(archive);
  if (!IsZipFamily(arcova.ArcType())) return listed;
  arcova.FileSpec().Add("*.*");
  arcova.SetShowEmptyDirs(true);
  arcova.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
  arcova.OnNextVolume = [](TObject*, std::string&, const std::string&, bool, bool& cancel) {
    cancel = true;
  };
  arcova.OnError = [](TObject*, const std::string&, const std::string&, const std::string&, int) {};
  arcova.OnRead = [&](TObject*, int64_t, int) {
    listed.push_back(
        {arcova.Entry().FileName, arcova.Entry().IsDirectory, !arcova.Entry().Refused.empty()});
  };
  arcova.Scan();
  return listed;
}

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "extract fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path root = Root();
  const fs::path archive = root / "in.zip";
  const fs::path out = root / "out";
  const fs::path outsideDir = root / "outside";
  const fs::path outsideFile = root / "outside.txt";
  {
    std::ofstream file(archive, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  {
    std::ofstream file(outsideFile, std::ios::binary | std::ios::trunc);
    file << kSentinel;
  }
  std::error_code planted;
  fs::create_directories(outsideDir, planted);
  fs::create_directories(out, planted);
  fs::create_directory_symlink(outsideDir, out / "a", planted);
  fs::create_symlink(outsideFile, out / "b", planted);
  fs::create_hard_link(outsideFile, out / "c", planted);
  if (planted) std::abort();

  const std::string systemArchive = host::FromHostPath(archive.string());
  const std::string systemOut = host::FromHostPath(out.string());
  const std::vector<TListed> listed = ListArchive(systemArchive);
  std::set<std::string> reported;  // the names extraction reported an error for
  bool runCut = false;             // disk full or cancelled: later members may go unnamed

  host::TSeams seams;
  seams.DiskFullAfter = kOutputLimit;
  {
    host::ScopedSeams scope(seams);
    TUnZip unzip;
    unzip.SetArchiveFile(systemArchive);
    unzip.SetExtractDir(systemOut);
    unzip.FileSpec().Add("*.*");
    unzip.SetCreateStoredDirs(true);
    unzip.SetConfirmOverwrites(true);
    unzip.Passwords().Add("pw");
    unzip.OnGetPassword = [](TObject*, const std::string&, std::string& password, bool&) {
      password = "guess";
    };
    unzip.OnFileExists = [](TObject*, const std::string&, std::string&, TOverwriteMode& mode) {
      mode = omOverwrite;
    };
    unzip.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
    unzip.OnNextVolume = [](TObject*, std::string&, const std::string&, bool, bool& cancel) {
      cancel = true;
    };
    unzip.OnError = [&](TObject*, const std::string& fileName, const std::string&,
                        const std::string&, int code) {
      reported.insert(fileName);
      if (code == kErrDiskFull || code == kErrUserCanceled) runCut = true;
    };
    unzip.Extract();
  }

  // Only the archive, the destination and the untouched things outside it may exist in the root.
  for (const auto& entry : fs::directory_iterator(root)) {
    if (entry.path() != archive && entry.path() != out && entry.path() != outsideDir &&
        entry.path() != outsideFile) {
      std::fprintf(stderr, "extract fuzz: written outside the destination: %s\n",
                   entry.path().c_str());
      std::abort();
    }
  }
  std::error_code ec;
  {
    std::ifstream file(outsideFile, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    if (text != kSentinel || !fs::is_empty(outsideDir, ec) || fs::is_symlink(outsideFile, ec)) {
      std::fprintf(stderr, "extract fuzz: written through a link planted in the destination\n");
      std::abort();
    }
  }
  if (fs::exists(out, ec)) {
    const fs::path inside = fs::canonical(out, ec);
    for (auto it = fs::recursive_directory_iterator(out, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_symlink()) continue;
      // A link that the system can never resolve is one the engine refuses to make.
      std::error_code loop;
      static_cast<void>(fs::canonical(it->path(), loop));
      if (loop == std::errc::too_many_symbolic_link_levels)
        Fail("a link that can only loop was made", it->path().string());
      // Where the link leads, every link on the way followed as the system would.
      std::error_code ignored;
      const fs::path target = fs::read_symlink(it->path(), ignored);
      // The planted links may stay as they were; the run must only not use them.
      if ((it->path() == out / "a" && target == outsideDir) ||
          (it->path() == out / "b" && target == outsideFile))
        continue;
      const fs::path resolved =
          fs::weakly_canonical(it->path().parent_path() / target, ignored).lexically_normal();
      const auto [end, rest] =
          std::mismatch(inside.begin(), inside.end(), resolved.begin(), resolved.end());
      if (target.is_absolute() || end != inside.end()) {
        std::fprintf(stderr, "extract fuzz: a link leads outside: %s -> %s\n", it->path().c_str(),
                     target.c_str());
        std::abort();
      }
    }
  }

  // The output paths of the listed names, by the extractor's own rule, and the folders they lie
  // in.
  TUnZip mapper;
  mapper.SetExtractDir(systemOut);
  const std::string base = mapper.ExtractDir();
  std::set<std::string> files, folders;
  std::vector<std::pair<const TListed*, std::string>> wanted;  // listed files and their paths
  for (const TListed& entry : listed) {
    // A member extraction refuses is wanted nowhere: nothing may be written for it.
    if (entry.Refused) continue;
    mapper.BuildOutputName(entry.Name);
    std::string path = mapper.OutputPath();
    if (path.empty() || path.compare(0, base.size(), base) != 0) continue;
    const bool folder = entry.IsDirectory || path.back() == '\\';
    while (!path.empty() && path.back() == '\\') path.pop_back();
    for (size_t cut = path.find('\\', base.size()); cut != std::string::npos;
         cut = path.find('\\', cut + 1))
      folders.insert(path.substr(0, cut));
    if (folder) {
      folders.insert(path);
    } else {
      files.insert(path);
      wanted.emplace_back(&entry, path);
    }
  }
  // Everything written is a listed name, whole.
  for (auto it = fs::recursive_directory_iterator(out, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& path = it->path();
    std::error_code ignored;
    if ((path == out / "a" && fs::read_symlink(path, ignored) == outsideDir) ||
        (path == out / "b" && fs::read_symlink(path, ignored) == outsideFile) ||
        (path == out / "c" && fs::equivalent(path, outsideFile, ignored)))
      continue;  // still the planted links
    const std::string system = host::FromHostPath(path.string());
    const bool isFolder = it->is_directory(ignored) && !it->is_symlink(ignored);
    if ((isFolder ? folders : files).count(system) == 0)
      Fail("written under a name the lister did not report", system);
  }
  // Every listed file was written, or extraction said why not.
  if (!runCut) {
    for (const auto& [entry, path] : wanted) {
      std::string hostPath;
      std::error_code ignored;
      if (host::ToHostPath(path, hostPath) && fs::exists(fs::symlink_status(hostPath, ignored)))
        continue;
      if (reported.count(entry->Name) != 0 || reported.count(path) != 0) continue;
      Fail("a listed member was neither written nor reported", entry->Name);
    }
  }
  Clear(out);
  Clear(outsideDir);
  return 0;
}
