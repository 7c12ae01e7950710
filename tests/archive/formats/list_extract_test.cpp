// What the lister lists is what extraction writes: for every conformance archive of
// ../shared/testdata/ that an extractor reads (skipped when the folder is absent) and for TAR
// archives in every dialect made here, the files FillFileList names are the files extracted.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "archive/formats/arvArcova.h"
#include "archive/formats/arvUnArchive.h"
#include "archive/zip/arvUnZip.h"
#include "support/ExtractFixture.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

const std::string kTestData = PARCELO_SOURCE_DIR "/../shared/testdata";

// The password the manifest gives an archive ("" when none).
std::string PasswordOf(const std::string& file) {
  std::ifstream manifest(kTestData + "/manifest.tsv");
  for (std::string line; std::getline(manifest, line);) {
    if (line.compare(0, file.size() + 1, file + "\t") != 0) continue;
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields.size() > 5 ? fields[5] : std::string();
  }
  return {};
}

struct TOutcome {
  std::set<std::string> listed;
  std::set<std::string> written;
  int failed = 0;
  bool extracted = false;  // an extractor reads the type
};

TOutcome ListAndExtract(const std::string& hostPath, const std::string& outHost,
                        const std::string& password) {
  TOutcome outcome;
  const auto nextVolume = [](TObject*, std::string&, const std::string&, bool exists,
                             bool& cancel) { cancel = !exists; };
  TArcova lister;
  lister.OnNextVolume = nextVolume;
  lister.SetArchiveFile(host::FromHostPath(hostPath));
  lister.FileSpec().Add("*.*");
  TStringList names;
  lister.FillFileList(names);
  for (int i = 0; i < names.Count(); ++i) {
    std::string name = names[i];
    std::replace(name.begin(), name.end(), '\\', '/');
    if (!name.empty() && name.back() != '/') outcome.listed.insert(name);
  }
  const TArcType type = lister.ArcType();
  TUnZip zip;
  TUnArchive other;
  TUnBase* extractor = nullptr;
  if (IsZipFamily(type)) {
    extractor = &zip;
  } else if (TUnArchive::ReadsType(type)) {
    extractor = &other;
  } else {
    return outcome;
  }
  outcome.extracted = true;
  extractor->OnNextVolume = nextVolume;
  extractor->SetArchiveFile(host::FromHostPath(hostPath));
  extractor->SetExtractDir(host::FromHostPath(outHost));
  extractor->SetCreateStoredDirs(true);
  extractor->FileSpec().Add("*.*");
  if (!password.empty()) extractor->Passwords().Add(password);
  extractor->Extract();
  outcome.failed = extractor->FailedCount();
  if (fs::exists(outHost)) {
    for (const auto& e : fs::recursive_directory_iterator(outHost)) {
      if (e.is_directory() && !e.is_symlink()) continue;
      outcome.written.insert(e.path().lexically_relative(outHost).string());
    }
  }
  return outcome;
}

std::string Join(const std::set<std::string>& names) {
  std::string all;
  for (const std::string& name : names) all += name + "\n";
  return all;
}

TEST(ListEqualsExtract, EveryConformanceArchiveAnExtractorReads) {
  if (!fs::exists(kTestData)) GTEST_SKIP() << "no " << kTestData;
  parcelo::test::TempDir dir{"list-extract"};
  int compared = 0;
  for (const char* folder : {"zip", "other"}) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(kTestData + "/" + folder)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      const std::string name = file.filename().string();
      SCOPED_TRACE(name);
      const std::string out = dir.Host("out-" + name);
      const TOutcome o = ListAndExtract(file.string(), out, PasswordOf(name));
      if (!o.extracted) continue;
      ++compared;
      if (o.failed == 0) {
        EXPECT_EQ(Join(o.listed), Join(o.written));
      } else {
        // Members that failed are not written; nothing is written that was not listed.
        for (const std::string& written : o.written) EXPECT_EQ(o.listed.count(written), 1u) << written;
      }
    }
  }
  EXPECT_GT(compared, 10);
}

TEST(ListEqualsExtract, TarInEveryDialectAndCompression) {
  parcelo::test::TempDir dir{"list-extract-tar"};
  const std::string script = R"(
import tarfile, io
long = 'deep/' + 'a' * 120 + '/' + 'b' * 110 + '.txt'
for fmt, tag in ((tarfile.USTAR_FORMAT, 'ustar'), (tarfile.GNU_FORMAT, 'gnu'), (tarfile.PAX_FORMAT, 'pax')):
    for mode, ext in (('w', 'tar'), ('w:gz', 'tar.gz'), ('w:bz2', 'tar.bz2'), ('w:xz', 'tar.xz')):
        with tarfile.open(tag + '.' + ext, mode, format=fmt) as t:
            for n in ('top.txt', 'dir/inner.txt', 'sp ace/x y.txt', long if fmt != tarfile.USTAR_FORMAT else 'u/' + 'c' * 90 + '/' + 'd' * 90):
                i = tarfile.TarInfo(n); data = n.encode(); i.size = len(data); t.addfile(i, io.BytesIO(data))
            i = tarfile.TarInfo('dir'); i.type = tarfile.DIRTYPE; t.addfile(i)
            i = tarfile.TarInfo('link'); i.type = tarfile.SYMTYPE; i.linkname = 'top.txt'; t.addfile(i)
            i = tarfile.TarInfo('hard'); i.type = tarfile.LNKTYPE; i.linkname = 'top.txt'; t.addfile(i)
)";
  std::ofstream(dir.Host("make.py")) << script;
  ASSERT_EQ(extracttest::Shell("cd " + dir.HostPath() + " && python3 make.py"), 0);
  for (const char* tag : {"ustar", "gnu", "pax"}) {
    for (const char* ext : {"tar", "tar.gz", "tar.bz2", "tar.xz"}) {
      const std::string name = std::string(tag) + "." + ext;
      SCOPED_TRACE(name);
      const TOutcome o = ListAndExtract(dir.Host(name), dir.Host("out-" + name), "");
      ASSERT_TRUE(o.extracted);
      EXPECT_EQ(o.failed, 0);
      EXPECT_EQ(o.written.size(), 6u);
      EXPECT_EQ(Join(o.listed), Join(o.written));
    }
  }
}

}  // namespace
