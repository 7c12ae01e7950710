// Fuzz harness for the member decoding of zips: arbitrary bytes written as an archive and tested
// by TUnZip (decoded and checked, nothing written) with the password "pw", so that mutated 7-Zip
// archives reach WinZip AES (salts, verifiers, lengths, authentication codes, the 0x9901 field)
// and every method behind it. It checks that a run never raises, never counts more members than
// it selected, and that no member both passes and fails.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/zip/arvUnZip.h"
#include "platform/host.h"

namespace {

const std::string& ArchivePath() {
  static const std::string path = [] {
    const char* shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(shm) + "/parcelo-fuzz-members-" + std::to_string(getpid()) + ".zip";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    FILE* f = std::fopen(ArchivePath().c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
  }
  TUnZip unzip;
  unzip.SetArchiveFile(host::FromHostPath(ArchivePath()));
  unzip.SetTestOnly(true);
  unzip.FileSpec().Add("*.*");
  unzip.Passwords().Add("pw");
  int passed = 0;
  int failed = 0;
  unzip.OnEnd = [&](TObject*, const std::string&, bool pass) { ++(pass ? passed : failed); };
  unzip.OnError = [](TObject*, const std::string&, const std::string&, const std::string&, int) {};
  unzip.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
  unzip.OnNextVolume = [](TObject*, std::string&, const std::string&, bool, bool& cancel) {
    cancel = true;
  };
  const int count = unzip.Extract();
  if (count < 0 || count > unzip.SelectedCount()) std::abort();
  if (count > passed) std::abort();
  std::remove(ArchivePath().c_str());
  return 0;
}
