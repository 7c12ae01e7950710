// Fuzz harness for the lister's zip walk: arbitrary bytes that detection takes for a zip are
// listed through the central directory (when one is found) and again with every end-record
// signature defaced, which sends the walk through the local headers. Both the list fill and the
// event-mode walk with its entry details run. The bytes go through one temporary file (the walk
// reads files); the drive examination of spanned sets is replaced so nothing else is touched.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/formats/arvArcova.h"
#include "platform/host.h"

namespace {

class TFuzzArcova : public TArcova {
 public:
  // The real one examines the drive and writes a temporary file in its root.
  TArcType CheckZipSpan() override { return atZipMV; }
};

const std::string& HostFile() {
  static const std::string path = [] {
    const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string p = std::string(folder) + "/parcelo-fuzz-zipwalk-" + std::to_string(getpid());
    std::atexit([] { std::remove(HostFile().c_str()); });
    return p;
  }();
  return path;
}

bool WriteBytes(const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(HostFile().c_str(), "wb");
  if (!f) return false;
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

void ListOnce(const std::vector<uint8_t>& bytes, bool showDirs) {
  if (!WriteBytes(bytes)) return;
  TFuzzArcova arcova;
  arcova.SetArchiveFile(host::FromHostPath(HostFile()));
  if (!IsZipFamily(arcova.ArcType())) return;
  TStringList spec;
  spec.Add("*.*");
  arcova.SetFileSpec(spec);
  arcova.SetShowEmptyDirs(showDirs);
  arcova.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
  int errors = 0;
  arcova.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int) {
    ++errors;
  };

  TStringList names;
  arcova.FillFileList(names);
  // Every listed entry is a counted one, and no walk lists more entries than it has headers.
  if (names.Count() > arcova.NumFiles()) __builtin_trap();
  if (static_cast<size_t>(arcova.NumFiles()) > bytes.size() / 30 + 1) __builtin_trap();

  int reported = 0;
  uint64_t checksum = 0;
  arcova.OnRead = [&](TObject*, int64_t offset, int filenum) {
    const TArcovaEntry& e = arcova.Entry();
    if (offset < 0 || offset >= static_cast<int64_t>(bytes.size())) __builtin_trap();
    if (filenum != arcova.NumFiles()) __builtin_trap();
    if (e.Ratio > 100) __builtin_trap();
    checksum += e.FileName.size() + e.MethodName.size() + e.Comment.size() +
                static_cast<uint64_t>(static_cast<int64_t>(e.Date)) + e.Crc32;
    ++reported;
  };
  arcova.Scan();
  if (reported != names.Count()) __builtin_trap();  // both modes see the same entries
  (void)checksum;
  (void)errors;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  const bool showDirs = size > 0 && (data[size - 1] & 1) != 0;
  ListOnce(bytes, showDirs);
  // Without an end record the locator gives up and the walk reads the local headers.
  bool defaced = false;
  for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (bytes[i] == 'P' && bytes[i + 2] == 0x05 && bytes[i + 3] == 0x06) {
      bytes[i + 3] = 0x07;
      defaced = true;
    }
  }
  if (defaced) ListOnce(bytes, showDirs);
  return 0;
}
