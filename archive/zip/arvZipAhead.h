// Decoding ahead: while the calling thread walks the members of a zip archive (names, questions,
// output files, events), a worker reads and decodes the next small members through its own handle
// on the archive: into an unnamed file in the destination's file system (the walk gives it its
// name, or closes it unnamed), into memory where it cannot, or, when the run only tests, just
// into their checksums. The walk takes a member from here only when its own decode would have
// read exactly the same bytes with the same keys (the same data offset, sizes, method and
// password); otherwise it decodes the member itself. So what a run gives never depends on
// whether a member was decoded ahead: the bytes, the checksum, every event and report stay the
// walk's.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/codecs/arvWinZipAes.h"
#include "archive/common/arvStreams.h"
#include "platform/host.h"

// A member the worker may decode: stored or deflated, plain or with the traditional cipher.
struct TAheadJob {
  int Index = 0;            // its place in the walk
  int64_t LocalOffset = 0;  // where its local header starts in the archive file
  uint16_t Method = 0;
  uint16_t Flags = 0;
  int64_t PackedSize = 0;  // as the directory gives it (encryption header included)
  int64_t UnpackedSize = 0;
};

// What the walk compares before it takes a member.
struct TAheadKey {
  int64_t DataStart = 0;  // the first byte of the data proper (after an encryption header)
  uint16_t Method = 0;
  int64_t PackedSize = 0;  // of the data proper
  int64_t UnpackedSize = 0;
  bool Enciphered = false;
  std::string Password;  // the password that opened it (enciphered members only)
};

// Where the worker puts what it decodes.
struct TAheadOutput {
  // Unnamed files in this folder's file system (the run's destination); empty: in memory.
  std::string Folder;
  // The run only tests: the checksums are all that is kept.
  bool ChecksumsOnly = false;
  // Files only: the sizes the directory gives the walk's members, summed (entry i: those before
  // member i), so that nothing written ahead takes the room the members before it need.
  std::vector<int64_t> BytesBefore;
};

// A member decoded ahead, as the walk takes it.
struct TAheadMember {
  enum class TForm { None, Bytes, File, Checksum };
  TForm Form = TForm::None;
  TAheadKey Key;
  std::vector<uint8_t> Bytes;        // Bytes: the member's bytes
  host::THandle File = host::kInvalidHandle;  // File: an unnamed file holding them, owned
  uint32_t Crc = 0;  // File and Checksum: their CRC-32 as a running value (not yet inverted)

  TAheadMember() = default;
  ~TAheadMember() { Reset(); }
  TAheadMember(TAheadMember&& other) noexcept { *this = std::move(other); }
  TAheadMember& operator=(TAheadMember&& other) noexcept;
  // Back to none; a file not handed on is closed (and so gone).
  void Reset();
  // The file, handed on to the caller.
  host::THandle ReleaseFile();
};

class TDecodeAhead {
 public:
  // Members above this size are not decoded ahead (a large member goes through the block pipe).
  static constexpr int64_t kMemberLimit = 1 << 20;
  // Decoded bytes waiting for the walk in memory at most (one member above it may wait when
  // alone): with the member being decoded, the run stays inside 16 MiB.
  static constexpr int64_t kMemoryCap = 4 << 20;
  // Members waiting for the walk at most, in any form (files: open descriptors).
  static constexpr size_t kWaitingCap = 64;
  // The walk is near while fewer jobs than this lie between it and the worker's next one.
  static constexpr size_t kNearJobs = 8;
  // Room the destination keeps beyond what the walk's members up to the one written ahead need
  // (their blocks and records: at most kWaitingCap files of up to kMemberLimit bytes wait).
  static constexpr int64_t kRoomMargin = 16 << 20;

  // Starts the worker on `jobs` (in walk order) of the archive file `archiveFile` (system
  // syntax), putting what it decodes where `output` says. Enciphered members are opened with the
  // first of `passwords` their check byte takes, the order the walk tries them in (none: they are
  // left to the walk).
  TDecodeAhead(const std::string& archiveFile, std::vector<TAheadJob> jobs,
               std::vector<std::string> passwords, TAheadOutput output = {});
  // Stops the worker after the block it is on.
  ~TDecodeAhead();
  TDecodeAhead(const TDecodeAhead&) = delete;
  TDecodeAhead& operator=(const TDecodeAhead&) = delete;

  // The walk is at member `index`: members before it are dropped. When the member was decoded
  // ahead (waiting while the worker is on it) and its key equals `key`, it is moved into `member`
  // and the result is true; otherwise false, and the walk decodes the member itself.
  bool Take(int index, const TAheadKey& key, TAheadMember& member);

  // A file written ahead could not be given its name (no /proc to name it through, a folder
  // level on another file system...): the rest are decoded into memory instead.
  void WriteNoMoreFiles() { FNoMoreFiles = true; }

  // Members decoded ahead and taken by the walk, for tests and benchmarks.
  int Taken() const { return FTaken; }

 private:
  void Work();
  // The form the next member is decoded into (None: it is left to the walk); a file's is made in
  // `member`.
  TAheadMember::TForm FormFor(const TAheadJob& job, int walkAt, TAheadMember& member);
  // Decodes one member into `output` (room for its size) through the worker's handle, filling
  // `key`; false when it cannot (the walk then decodes it and says whatever there is to say).
  bool Decode(const TAheadJob& job, TAheadKey& key, uint8_t* output);
  // Puts the decoded member into its form (its checksum; a file's bytes); false when the file
  // cannot be written.
  bool Keep(const uint8_t* bytes, size_t size, TAheadMember& member);
  bool ReadAt(uint8_t* buffer, int64_t count, int64_t offset);

  // The worker's own decoder state, made once for the run (an engine made per member costs more
  // than a small member's whole decode).
  std::vector<uint8_t> FInput;
  std::unique_ptr<uint8_t[]> FDecoded;  // a member on its way to a file or a checksum
  std::unique_ptr<TInflateDriver> FInflate;
  std::vector<std::string> FPasswords;
  std::vector<TAheadJob> FJobs;
  std::vector<bool> FLeft;  // jobs the worker left to the walk (the worker's alone)
  TAheadOutput FOutput;
  std::unique_ptr<host::TUnnamedFiles> FFiles;  // the worker's own (files only)
  host::THandle FHandle = host::kInvalidHandle;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::map<int, TAheadMember> FDone;  // decoded, waiting for the walk
  int64_t FWaitingBytes = 0;          // bytes in memory in FDone
  int FFloor = 0;                     // the walk's place: members before it are not wanted
  int FWalkAt = -1;                   // the member the walk is on (takes, decodes or writes)
  int FWorkingOn = -1;                // the member the worker decodes now (-1: none)
  std::atomic<bool> FStop{false};
  std::atomic<bool> FNoMoreFiles{false};
  int FTaken = 0;
  std::thread FWorker;  // last: started once everything above is made
};

// Deriving AES keys ahead: opening a WinZip AES member costs 1,000 PBKDF2 iterations, several
// times a small member's whole decode. A worker derives the keys of every other member with the
// password in use (the salt read through its own handle, the strength from the member's own local
// header, as the walk reads them) while the walk derives those between, so both cores derive. (A
// worker that took every member would have the walk wait for it at each one.) The walk takes keys
// derived for the same password, strength and salt, and derives them itself otherwise: keys are a
// pure function of those three, so a run gives the same results whether or not they came from
// here.
class TAesKeysAhead {
 public:
  // Derived keys waiting for the walk at most (the worker pauses there).
  static constexpr size_t kWaitingCap = 256;

  // Starts the worker on the members at `localOffsets` (walk index, local header offset; in walk
  // order) of `archiveFile` (system syntax), with `password`.
  TAesKeysAhead(const std::string& archiveFile, std::vector<std::pair<int, int64_t>> localOffsets,
                std::string password);
  ~TAesKeysAhead();  // stops the worker after the member it is on
  TAesKeysAhead(const TAesKeysAhead&) = delete;
  TAesKeysAhead& operator=(const TAesKeysAhead&) = delete;

  // The walk opens member `index` with `password`, its salt `salt` for `strength`: when the worker
  // derived its keys from the same three (waiting while it is on them), they are copied into
  // `derived` and the result is true; otherwise false, and the walk derives them itself.
  bool Take(int index, const std::string& password, unsigned strength, const uint8_t* salt,
            TAesDerived& derived);
  int Taken() const { return FTaken; }

 private:
  struct TDone {
    uint8_t Salt[kAesMaxSaltSize] = {};
    TAesDerived Derived;
  };
  void Work();
  bool Derive(int64_t localOffset, TDone& done);

  std::vector<std::pair<int, int64_t>> FJobs;
  std::string FPassword;
  host::THandle FHandle = host::kInvalidHandle;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::map<int, std::unique_ptr<TDone>> FDone;
  int FFloor = 0;
  int FWorkingOn = -1;
  bool FStop = false;
  int FTaken = 0;
  std::thread FWorker;  // last: started once everything above is made
};
