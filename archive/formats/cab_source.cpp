// The member sources on libmspack: Microsoft cabinets (stored, MSZIP, Quantum and LZX folders;
// sets whose folders continue from cabinet to cabinet) and the single files of MS-DOS
// COMPRESS.EXE (SZDD and KWAJ). libmspack reads and writes through an mspack_system of ours: its
// reads come from the archive files (the first one from the start offset on), its writes go to
// the member's sink.
//
// A cabinet set is read as the lister reads it: from the cabinet given, onwards through the names
// each cabinet gives, a member yielded in the cabinet where it ends. The cabinets before it are
// joined too when they lie beside it, so that a member begun there can be decoded; their own
// members are not yielded.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <mspack.h>
}

#include "archive/codecs/arvBytes.h"
#include "archive/common/arvGbls.h"
#include "archive/formats/lhacab_io.h"
#include "archive/formats/lhacab_sources.h"
#include "archive/messages/Err_Msgs.h"

namespace {

constexpr char kSinkName[] = "\x01parcelo-sink";  // the name libmspack writes a member to
constexpr size_t kMaxCabinets = 999;
// Folder indexes of file records that belong to folders spanning cabinets.
constexpr uint16_t kContinuedFromPrevious = 0xFFFD;
constexpr uint16_t kContinuedToNext = 0xFFFE;
constexpr uint16_t kContinuedBothWays = 0xFFFF;
constexpr int kAttributeDirectory = 0x10;

// ---- the file system libmspack sees -------------------------------------------------------------
struct TMsSystem;

struct TMsFile {
  TMsSystem* System = nullptr;
  std::unique_ptr<TSourceFile> Input;  // null: the sink
  int64_t Base = 0;                     // where the file's data starts (a stub in front)
  int64_t Position = 0;                 // relative to Base
};

struct TMsSystem {
  mspack_system Calls{};  // first: libmspack hands back a pointer to it
  std::string FirstPath;  // the archive the start offset belongs to
  int64_t Start = 0;
  const std::function<void(const uint8_t*, size_t)>* Sink = nullptr;
  const uint8_t* Cancel = nullptr;
  std::exception_ptr Raised;  // what the sink raised, passed on after libmspack returns
  bool Cancelled = false;
  bool ReadFailed = false;  // a read ended before what libmspack asked for

  TMsSystem() {
    Calls.open = &Open;
    Calls.close = &Close;
    Calls.read = &Read;
    Calls.write = &Write;
    Calls.seek = &Seek;
    Calls.tell = &Tell;
    Calls.message = &Message;
    Calls.alloc = &Alloc;
    Calls.free = &Free;
    Calls.copy = &Copy;
    Calls.null_ptr = nullptr;
  }

  static TMsSystem* Of(mspack_system* self) { return reinterpret_cast<TMsSystem*>(self); }
  static TMsFile* FileOf(mspack_file* file) { return reinterpret_cast<TMsFile*>(file); }

  static mspack_file* Open(mspack_system* self, const char* name, int mode) {
    TMsSystem* system = Of(self);
    auto file = std::make_unique<TMsFile>();
    file->System = system;
    if (mode == MSPACK_SYS_OPEN_WRITE) {
      if (std::strcmp(name, kSinkName) != 0) return nullptr;  // it writes nowhere else
    } else if (mode == MSPACK_SYS_OPEN_READ) {
      file->Input = std::make_unique<TSourceFile>(name);
      if (!file->Input->Open()) return nullptr;
      if (name == system->FirstPath) file->Base = system->Start;
    } else {
      return nullptr;
    }
    return reinterpret_cast<mspack_file*>(file.release());
  }
  static void Close(mspack_file* file) { delete FileOf(file); }
  static int Read(mspack_file* handle, void* buffer, int bytes) {
    TMsFile* file = FileOf(handle);
    if (!file->Input || bytes < 0) return -1;
    const size_t got = file->Input->ReadAt(file->Base + file->Position, buffer,
                                           static_cast<size_t>(bytes));
    file->Position += static_cast<int64_t>(got);
    if (got < static_cast<size_t>(bytes)) file->System->ReadFailed = true;
    return static_cast<int>(got);
  }
  static int Write(mspack_file* handle, void* buffer, int bytes) {
    TMsFile* file = FileOf(handle);
    TMsSystem* system = file->System;
    if (file->Input || !system->Sink || bytes < 0) return -1;
    if (SourceCancelled(system->Cancel)) {
      system->Cancelled = true;
      return -1;
    }
    try {
      (*system->Sink)(static_cast<const uint8_t*>(buffer), static_cast<size_t>(bytes));
    } catch (...) {
      system->Raised = std::current_exception();
      return -1;
    }
    return bytes;
  }
  static int Seek(mspack_file* handle, off_t offset, int mode) {
    TMsFile* file = FileOf(handle);
    if (!file->Input) return -1;
    const int64_t length = file->Input->Size() - file->Base;
    int64_t target = offset;
    if (mode == MSPACK_SYS_SEEK_CUR) target += file->Position;
    else if (mode == MSPACK_SYS_SEEK_END) target += length;
    else if (mode != MSPACK_SYS_SEEK_START) return -1;
    if (target < 0 || target > length) return -1;
    file->Position = target;
    return 0;
  }
  static off_t Tell(mspack_file* handle) { return static_cast<off_t>(FileOf(handle)->Position); }
  static void Message(mspack_file*, const char*, ...) {}
  static void* Alloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
  static void Free(void* pointer) { std::free(pointer); }
  static void Copy(void* from, void* to, size_t bytes) { std::memmove(to, from, bytes); }

  // Makes ready for one member's decoding.
  void Begin(const std::function<void(const uint8_t*, size_t)>& sink, const uint8_t* cancel) {
    Sink = &sink;
    Cancel = cancel;
    Raised = nullptr;
    Cancelled = false;
    ReadFailed = false;
  }
  // After it: passes on what the sink raised.
  void End() {
    Sink = nullptr;
    if (Raised) {
      std::exception_ptr raised = Raised;
      Raised = nullptr;
      std::rethrow_exception(raised);
    }
  }
};

// How a libmspack error code ends a member.
TDecodeResult ResultOf(int error, const TMsSystem& system) {
  if (system.Cancelled) return TDecodeResult::Cancelled;
  switch (error) {
    case MSPACK_ERR_OK:
      return TDecodeResult::Ok;
    case MSPACK_ERR_CHECKSUM:
      return TDecodeResult::ChecksumFailed;
    case MSPACK_ERR_READ:
    case MSPACK_ERR_SEEK:
      return TDecodeResult::Truncated;
    default:
      return system.ReadFailed ? TDecodeResult::Truncated : TDecodeResult::Damaged;
  }
}

int ErrorCodeOf(TDecodeResult result) {
  switch (result) {
    case TDecodeResult::ChecksumFailed:
      return kErrCrcCheck;
    case TDecodeResult::Truncated:
      return kErrReadingFile;
    case TDecodeResult::Cancelled:
      return kErrUserCanceled;
    default:
      return kErrBadBlock;
  }
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file `name` beside `path`: the name as given, else one that differs only in ASCII case
// (sets name their cabinets "Split-2.CAB" and are copied as "split-2.cab"). Empty: none.
std::string FindBeside(const std::string& path, const std::string& name) {
  std::string wanted = name;
  for (char& c : wanted)
    if (c == '\\') c = '/';
  const size_t cut = wanted.find_last_of("/:");
  if (cut != std::string::npos) wanted = wanted.substr(cut + 1);  // a path of the writer's disk
  if (wanted.empty() || wanted.find_first_of("*?") != std::string::npos) return {};
  const std::string exact = DirectoryOf(path) + wanted;
  if (host::FileExists(exact)) return exact;
  host::DirSearch search;
  host::TSearchRec rec;
  if (search.First(host::FromHostPath(exact), host::faReadOnly | host::faArchive, rec) &&
      SameTextAscii(rec.Name, wanted)) {
    return DirectoryOf(path) + rec.Name;
  }
  return {};
}

// The folder indexes of a cabinet's file records, in order (read here: libmspack keeps them to
// itself). Empty when the cabinet's header cannot be read.
std::vector<uint16_t> FileRecordFolders(const std::string& path, int64_t base) {
  std::vector<uint16_t> folders;
  TSourceFile file(path);
  uint8_t h[36];
  if (file.ReadAt(base, h, sizeof h) != sizeof h || std::memcmp(h, "MSCF", 4) != 0) return folders;
  int64_t position = base + GetLe32(h + 16);
  const uint16_t count = GetLe16(h + 28);
  for (uint16_t i = 0; i < count; ++i) {
    uint8_t record[16];
    if (file.ReadAt(position, record, sizeof record) != sizeof record) break;
    folders.push_back(GetLe16(record + 8));
    position += sizeof record;
    uint8_t c = 1;
    for (int n = 0; n < 256 && file.ReadAt(position, &c, 1) == 1; ++n) {
      ++position;
      if (c == 0) break;
    }
  }
  return folders;
}

size_t CountEndingHere(const std::vector<uint16_t>& folders) {
  size_t count = 0;
  for (const uint16_t folder : folders)
    if (folder != kContinuedToNext && folder != kContinuedBothWays) ++count;
  return count;
}

std::string CabMethodName(int compType) {
  switch (MSCABD_COMP_METHOD(compType)) {
    case MSCAB_COMP_NONE:
      return "Stored";
    case MSCAB_COMP_MSZIP:
      return "MSZIP";
    case MSCAB_COMP_QUANTUM:
      return "Quantum";
    case MSCAB_COMP_LZX:
      return "LZX";
    default:
      return "method " + std::to_string(MSCABD_COMP_METHOD(compType));
  }
}

// ---- cabinets -----------------------------------------------------------------------------------
class TCabSource final : public TMemberSource {
 public:
  TCabSource(const std::string& hostPath, int64_t start, const TSourceServices& services)
      : FServices(services) {
    FSystem.FirstPath = hostPath;
    FSystem.Start = start;
    FDecompressor = mspack_create_cab_decompressor(&FSystem.Calls);
    if (!FDecompressor) {
      SetError(kErrReadingFileList, hostPath);
      return;
    }
    FDecompressor->set_param(FDecompressor, MSCABD_PARAM_FIXMSZIP, 0);
    FDecompressor->set_param(FDecompressor, MSCABD_PARAM_SALVAGE, 0);
    OpenSet(hostPath);
  }

  ~TCabSource() override {
    if (FDecompressor) {
      // Closing one cabinet of a joined set closes them all.
      if (!FCabinets.empty()) FDecompressor->close(FDecompressor, FCabinets.front());
      mspack_destroy_cab_decompressor(FDecompressor);
    }
  }

  bool Next(TSourceMember& member) override {
    FDecoded = true;
    if (FIndex >= FMembers.size()) {
      if (!FEndError.empty() && ErrorCode() == 0) SetError(kErrFileNotFound, FEndError);
      return false;
    }
    FCurrent = FMembers[FIndex++];
    FDecoded = false;
    const mscabd_file& f = *FCurrent;
    member = TSourceMember{};
    const bool utf8 = (f.attribs & MSCAB_ATTRIB_UTF_NAME) != 0;
    member.Name = utf8 ? std::string(f.filename) : host::OemToAnsi(f.filename);
    member.Kind = (f.attribs & kAttributeDirectory) ? TMemberKind::Folder : TMemberKind::File;
    member.Size = f.length;
    member.Attributes = static_cast<uint32_t>(f.attribs & ~MSCAB_ATTRIB_UTF_NAME) & 0xFF;
    if (f.date_y >= 1980 && f.date_y <= 2107) {
      member.DosDateTime = static_cast<uint32_t>(f.date_y - 1980) << 25 |
                           static_cast<uint32_t>(f.date_m) << 21 |
                           static_cast<uint32_t>(f.date_d) << 16 |
                           static_cast<uint32_t>(f.time_h) << 11 |
                           static_cast<uint32_t>(f.time_m) << 5 | static_cast<uint32_t>(f.time_s) / 2;
    }
    if (f.folder) member.Method = CabMethodName(f.folder->comp_type);
    return true;
  }

  TDecodeResult Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                       const std::string&) override {
    if (!FCurrent || FDecoded) {
      SetError(kErrReadingFile, "no member to decode");
      return TDecodeResult::Damaged;
    }
    FDecoded = true;
    if (FCurrent->attribs & kAttributeDirectory) return TDecodeResult::Ok;
    FSystem.Begin(sink, FServices.Cancel);
    const int error = FDecompressor->extract(FDecompressor, FCurrent, kSinkName);
    FSystem.End();
    const TDecodeResult result = ResultOf(error, FSystem);
    if (result != TDecodeResult::Ok) {
      std::string detail = FCurrent->filename;
      if (FCurrent == FFirstMember && !FMissingPrevious.empty())
        detail = "it begins in " + FMissingPrevious;
      else if (FCurrent == FLastMember && !FEndError.empty())
        detail = "it goes on in " + FEndError;
      SetError(ErrorCodeOf(result), detail);
    }
    return result;
  }

 private:
  // Opens the cabinet given and joins the cabinets after it (and those before it that lie
  // beside), then settles which members are yielded.
  void OpenSet(const std::string& hostPath) {
    FPaths.push_back(hostPath);
    mscabd_cabinet* first = FDecompressor->open(FDecompressor, FPaths.back().c_str());
    if (!first) {
      SetError(FDecompressor->last_error(FDecompressor) == MSPACK_ERR_OPEN ? kErrOpeningFile
                                                                           : kErrBadFileHeader,
               hostPath);
      return;
    }
    FCabinets.push_back(first);
    std::vector<std::string> visited = {UpperCaseAscii(hostPath)};

    // Onwards.
    mscabd_cabinet* last = first;
    std::string lastPath = hostPath;
    bool chainBroken = false;
    while (last->nextname && FCabinets.size() < kMaxCabinets) {
      std::string path = FindBeside(lastPath, last->nextname);
      if (path.empty()) {
        path = DirectoryOf(lastPath) + last->nextname;
        const std::string id = last->nextinfo ? last->nextinfo : last->nextname;
        if (!FServices.NextVolume || !FServices.NextVolume(path, id)) {
          FEndError = last->nextname;
          chainBroken = true;
          break;
        }
      }
      const std::string key = UpperCaseAscii(path);
      if (std::find(visited.begin(), visited.end(), key) != visited.end()) break;  // a loop
      FPaths.push_back(path);
      mscabd_cabinet* next = FDecompressor->open(FDecompressor, FPaths.back().c_str());
      if (!next || FDecompressor->append(FDecompressor, last, next) != MSPACK_ERR_OK) {
        if (next) FDecompressor->close(FDecompressor, next);
        FEndError = last->nextname;
        chainBroken = true;
        break;
      }
      visited.push_back(key);
      FCabinets.push_back(next);
      last = next;
      lastPath = path;
    }

    // Backwards, only what lies beside: those cabinets' own members are skipped.
    size_t skip = 0;
    mscabd_cabinet* head = first;
    std::string headPath = hostPath;
    while (head->prevname && FCabinets.size() < kMaxCabinets) {
      const std::string path = FindBeside(headPath, head->prevname);
      const std::string key = UpperCaseAscii(path);
      if (path.empty() || std::find(visited.begin(), visited.end(), key) != visited.end()) break;
      FPaths.push_back(path);
      mscabd_cabinet* previous = FDecompressor->open(FDecompressor, FPaths.back().c_str());
      if (!previous || FDecompressor->prepend(FDecompressor, head, previous) != MSPACK_ERR_OK) {
        if (previous) FDecompressor->close(FDecompressor, previous);
        break;
      }
      visited.push_back(key);
      FCabinets.push_back(previous);
      skip += CountEndingHere(FileRecordFolders(path, 0));
      head = previous;
      headPath = path;
    }
    if (head->prevname && head == first) {
      const std::vector<uint16_t> folders = FileRecordFolders(hostPath, FSystem.Start);
      if (!folders.empty() &&
          (folders.front() == kContinuedFromPrevious || folders.front() == kContinuedBothWays))
        FMissingPrevious = head->prevname;
    }

    // The members: the joined list less those of the cabinets before; when the set breaks off,
    // less those that go on in the missing cabinet (the lister lists a member where it ends).
    for (mscabd_file* f = head->files; f; f = f->next) FMembers.push_back(f);
    FMembers.erase(FMembers.begin(), FMembers.begin() + static_cast<long>(std::min(skip, FMembers.size())));
    if (chainBroken) {
      const std::vector<uint16_t> folders = FileRecordFolders(lastPath, lastPath == hostPath ? FSystem.Start : 0);
      size_t goOn = 0;
      for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        if (*it != kContinuedToNext && *it != kContinuedBothWays) break;
        ++goOn;
      }
      if (goOn > 0 && goOn <= FMembers.size()) {
        FMembers.resize(FMembers.size() - goOn);
      }
    }
    if (!FMembers.empty()) {
      FFirstMember = FMembers.front();
      FLastMember = FMembers.back();
    }
  }

  TMsSystem FSystem;
  TSourceServices FServices;
  mscab_decompressor* FDecompressor = nullptr;
  std::vector<mscabd_cabinet*> FCabinets;  // the cabinets joined into one set
  // The names the cabinets were opened with: libmspack keeps the pointers, so they stay here.
  std::deque<std::string> FPaths;
  std::vector<mscabd_file*> FMembers;
  size_t FIndex = 0;
  mscabd_file* FCurrent = nullptr;
  mscabd_file* FFirstMember = nullptr;
  mscabd_file* FLastMember = nullptr;
  std::string FMissingPrevious;  // the cabinet before, when a member begins there and it is absent
  std::string FEndError;         // the cabinet after, when the set breaks off before it
  bool FDecoded = true;
};

// ---- SZDD and KWAJ ------------------------------------------------------------------------------
// The name a compressed file expands to: KWAJ's stored name, or the file's own name with the last
// character SZDD kept ("SETUP.EX_" -> "SETUP.EXE"); a "_" left without one is dropped.
std::string ExpandedName(const std::string& hostPath, char missing) {
  std::string name = hostPath.substr(hostPath.find_last_of('/') + 1);
  if (!name.empty() && name.back() == '_') {
    name.pop_back();
    if (missing != 0) name += missing;
  }
  return name;
}

class TMsCompressSource final : public TMemberSource {
 public:
  TMsCompressSource(const std::string& hostPath, int64_t start, const TSourceServices& services)
      : FPath(hostPath), FServices(services) {
    FSystem.FirstPath = hostPath;
    FSystem.Start = start;
    uint8_t magic[4] = {};
    TSourceFile file(hostPath);
    if (!file.Open()) {
      SetError(kErrOpeningFile, hostPath);
      return;
    }
    file.ReadAt(start, magic, sizeof magic);
    if (std::memcmp(magic, "SZDD", 4) == 0) {
      FSzdd = mspack_create_szdd_decompressor(&FSystem.Calls);
      if (FSzdd) FSzddHeader = FSzdd->open(FSzdd, FPath.c_str());
    } else if (std::memcmp(magic, "KWAJ", 4) == 0) {
      FKwaj = mspack_create_kwaj_decompressor(&FSystem.Calls);
      if (FKwaj) FKwajHeader = FKwaj->open(FKwaj, FPath.c_str());
    }
    if (!FSzddHeader && !FKwajHeader) SetError(kErrBadFileHeader, hostPath);
  }

  ~TMsCompressSource() override {
    if (FSzdd) {
      if (FSzddHeader) FSzdd->close(FSzdd, FSzddHeader);
      mspack_destroy_szdd_decompressor(FSzdd);
    }
    if (FKwaj) {
      if (FKwajHeader) FKwaj->close(FKwaj, FKwajHeader);
      mspack_destroy_kwaj_decompressor(FKwaj);
    }
  }

  bool Next(TSourceMember& member) override {
    if (FWalked || (!FSzddHeader && !FKwajHeader)) return false;
    FWalked = true;
    FDecoded = false;
    member = TSourceMember{};
    if (FSzddHeader) {
      member.Name = ExpandedName(FPath, FSzddHeader->missing_char);
      member.Size = FSzddHeader->length;
      member.Method = "SZDD";
    } else {
      member.Name = FKwajHeader->filename && FKwajHeader->filename[0]
                        ? host::OemToAnsi(FKwajHeader->filename)
                        : ExpandedName(FPath, 0);
      if (FKwajHeader->headers & MSKWAJ_HDR_HASLENGTH) member.Size = FKwajHeader->length;
      static const char* const kMethods[] = {"Stored", "XOR", "SZDD", "LZH", "MSZIP"};
      member.Method = FKwajHeader->comp_type < 5 ? kMethods[FKwajHeader->comp_type]
                                                 : "method " + std::to_string(FKwajHeader->comp_type);
    }
    return true;
  }

  TDecodeResult Decode(const std::function<void(const uint8_t*, size_t)>& sink,
                       const std::string&) override {
    if (!FWalked || FDecoded) {
      SetError(kErrReadingFile, "no member to decode");
      return TDecodeResult::Damaged;
    }
    FDecoded = true;
    if (FKwajHeader && FKwajHeader->comp_type > MSKWAJ_COMP_MSZIP) {
      SetError(kErrUnsupportedMethod, "KWAJ method " + std::to_string(FKwajHeader->comp_type));
      return TDecodeResult::Unsupported;
    }
    FSystem.Begin(sink, FServices.Cancel);
    const int error = FSzddHeader ? FSzdd->extract(FSzdd, FSzddHeader, kSinkName)
                                  : FKwaj->extract(FKwaj, FKwajHeader, kSinkName);
    FSystem.End();
    const TDecodeResult result = ResultOf(error, FSystem);
    if (result != TDecodeResult::Ok) SetError(ErrorCodeOf(result), FPath);
    return result;
  }

 private:
  std::string FPath;
  TMsSystem FSystem;
  TSourceServices FServices;
  msszdd_decompressor* FSzdd = nullptr;
  msszddd_header* FSzddHeader = nullptr;
  mskwaj_decompressor* FKwaj = nullptr;
  mskwajd_header* FKwajHeader = nullptr;
  bool FWalked = false;
  bool FDecoded = true;
};

}  // namespace

std::unique_ptr<TMemberSource> CreateCabSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services) {
  return std::make_unique<TCabSource>(hostPath, start, services);
}

std::unique_ptr<TMemberSource> CreateMsCompressSource(const std::string& hostPath, int64_t start,
                                                      const TSourceServices& services) {
  return std::make_unique<TMsCompressSource>(hostPath, start, services);
}
