// The lister's reader for the zip family (zip, self-extracting zip, jar, disk-spanned and split
// sets): the first step that chooses between the central directory and the local headers (the
// corrupt-directory question, the empty archive, the last disk of a spanned set), then the walk of
// the zip directory reader that the extractor shares, whose members it names, selects and
// reports. Member data is never decoded here except to find the end of a member whose sizes
// follow its data.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/formats/lister_format.h"
#include "archive/records/arvZipDir.h"
#include "archive/records/arvZipRecs.h"

namespace {

constexpr uint32_t kDirectoryAttribute = 0x10;  // external attributes: a directory entry

// A WinZip AES member is named by its key size and the method its field names inside:
// "AES-256 DeflateN".
void NameAesMethod(const TArcovaWalk& walk, TArcovaEntry& entry, const TZipExtra& extra) {
  if (entry.Method != kMethodAes || !extra.HasAes) return;
  const std::string inner = extra.AesMethod == kMethodAes
                                ? std::string("AES")
                                : walk.MethodName(extra.AesMethod, entry.Flags, false);
  const bool known = extra.AesStrength >= 1 && extra.AesStrength <= 3;
  entry.MethodName =
      (known ? "AES-" + std::to_string(64 + 64 * extra.AesStrength) : "AES") + " " + inner;
}

class TZipLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override;
  // The walk is the directory reader's (AfterLastHeader): the loop reads no header of its own.
  void Header(TArcovaWalk& walk) override { walk.EndWalk(); }
  void AfterLastHeader(TArcovaWalk& walk) override;

 private:
  // Brings up the last disk of a disk-spanned set; false when it cannot be had.
  bool OpenLastDisk(TArcovaWalk& walk);
  // A central entry: named, reported to OnReadFile, selected by the directory's rule when its
  // local header is where the directory says (reported 25114 and left out otherwise, as the
  // extractor leaves it out).
  void DirectoryEntry(TArcovaWalk& walk, TZipDirectoryReader& reader, const TZipDirMember& member);
  // A member found through its local header: selected by the simple match in a local walk, by the
  // directory's rule when recovering members that a short directory lost (members the directory
  // listed are passed over then).
  void LocalEntry(TArcovaWalk& walk, const TZipDirMember& member);
  // Whether the selection takes the member (one without a name when it takes everything).
  static bool Selected(TArcovaWalk& walk, const TZipDirMember& member) {
    return member.Name.empty() ? walk.SelectsEveryName() : walk.MatchesFileSpec(member.Name);
  }
  // The name shown for a member: a name with a zero byte whole, as stored.
  static std::string ShownName(const TZipDirMember& member);
  // A selected member that extraction refuses: listed, marked with its reason, and reported as
  // extraction reports it.
  static void ListRefused(TArcovaWalk& walk, const TZipDirMember& member, TZipRefusal refusal);
  // A Unicode Path set aside for the stored name: said, a warning.
  static void SayWarnings(TArcovaWalk& walk, const TZipDirMember& member);

  bool FWalk = false;       // the first step found something to walk
  bool FLocalMode = false;  // no directory: the local headers are walked
  bool FSpanned = false;    // a disk-spanned or split set: local headers lie on other volumes
  int64_t FStart = 0;       // where the walk starts
  std::unique_ptr<TWalkStream> FProbe;
};

// ---- refused members ----------------------------------------------------------------------------
std::string TZipLister::ShownName(const TZipDirMember& member) {
  if (!member.NameFacts.NulInName) return member.Name;
  std::string whole = member.NameFacts.WholeName;
  for (char& c : whole)
    if (c == '/') c = '\\';
  return whole;
}

void TZipLister::ListRefused(TArcovaWalk& walk, const TZipDirMember& member, TZipRefusal refusal) {
  TArcovaEntry& entry = walk.Entry();
  entry.Refused = ZipRefusalText(refusal, member);
  if (ZipRefusalNamesMember(refusal)) {
    walk.ReportError(walk.FileName(), ZipRefusalCode(refusal), entry.Refused);
  } else {
    walk.Report(TReportSeverity::Failed, TReportSubject::Member, walk.ArchiveFile(), entry.Refused,
                ZipRefusalCode(refusal), VisibleZipName(walk.FileName()));
  }
  // Shown as what it holds, never as a folder: nothing of it will be written.
  entry.IsDirectory = false;
  walk.CountEntry();
  walk.AddSizes(entry.UnpackedSize, entry.PackedSize);
  walk.ReportEntry(member.HeaderStart);
}

void TZipLister::SayWarnings(TArcovaWalk& walk, const TZipDirMember& member) {
  for (const std::string& said : ZipMemberWarnings(member))
    walk.Report(TReportSeverity::Warning, TReportSubject::Member, walk.FileName(), said,
                kErrBadFileHeader);
}

// ---- first step ---------------------------------------------------------------------------------
bool TZipLister::OpenLastDisk(TArcovaWalk& walk) {
  if (!walk.OpenLastZipDisk()) return false;
  // The last disk was detected afresh: its directory is where the walk starts.
  walk.VolumeName() = walk.ArchiveFile();
  walk.StartOffset = walk.Detected().StartOffset;
  walk.HeaderState = walk.Detected().Zip.HeaderState;
  return true;
}

void TZipLister::FirstHeader(TArcovaWalk& walk) {
  const TArcType type = walk.ArcType();
  FSpanned = IsSpannedZip(type);  // bringing in the last disk may detect it as a plain zip
  // The loop of the walk reads nothing: the directory reader walks in AfterLastHeader.
  const auto readNothing = [&walk] { walk.ReadNothing(); };
  if (type == atZipDS) {
    if (!OpenLastDisk(walk)) return readNothing();
  } else if (type != atZipMV) {
    if (ZipArchiveIsEmpty(false, walk.Detected().Zip)) return readNothing();
    const bool directoryFound =
        (walk.HeaderState & kHeaderCentral) != 0 && (walk.HeaderState & kHeaderEnd) != 0;
    if (!directoryFound && !walk.AskCorruptZipHeader(walk.HeaderState)) return readNothing();
  }

  if ((walk.HeaderState & kHeaderCentral) == 0) walk.HeaderState = kHeaderLocal;
  FLocalMode = IsLocalHeaderMode(walk.HeaderState);
  // A first header that is not there whole: nothing to walk.
  const int32_t size =
      static_cast<int32_t>(FLocalMode ? TLocalFileHeader::kSize : TCentralFileHeader::kSize);
  uint8_t first[TCentralFileHeader::kSize];
  FWalk = walk.Stream().ReadAt(walk.StartOffset, first, size) == size;
  FStart = walk.StartOffset;
  readNothing();
}

// ---- the walk -----------------------------------------------------------------------------------
void TZipLister::AfterLastHeader(TArcovaWalk& walk) {
  if (!FWalk) return;
  const TZipLocation& zip = walk.Detected().Zip;
  TZipDirectoryReader::TSetup setup;
  setup.Directory = !FLocalMode;
  setup.Start = FStart;
  setup.OffsetAdjustment = zip.OffsetAdjustment;
  setup.ExtendedEnd = zip.Extended;
  // Sets on several volumes keep their directory elsewhere: no count to hold it to.
  setup.Announced = FLocalMode || FSpanned ? -1 : zip.AnnouncedEntries();
  setup.TranslateOem = walk.TranslateOem();
  setup.Cancel = walk.CancelFlag();
  setup.SayNoHeader = true;
  setup.Spanned = FSpanned;
  setup.Report = [&walk](TReportSeverity severity, TReportSubject subject,
                         const std::string& detail, int code) {
    walk.Report(severity, subject, walk.ArchiveFile(), detail, code);
  };
  TZipDirectoryReader reader(walk.Stream(), setup);
  TZipDirMember member;
  while (!walk.Cancelled() && reader.Next(member)) {
    if (member.FromDirectory) {
      DirectoryEntry(walk, reader, member);
    } else {
      LocalEntry(walk, member);
    }
  }
}

void TZipLister::DirectoryEntry(TArcovaWalk& walk, TZipDirectoryReader& reader,
                                const TZipDirMember& member) {
  const TCentralFileHeader& central = member.Central;
  const bool isDirectory = (central.ExternalAttributes & kDirectoryAttribute) != 0;
  // Directory names are converted like file names, so a directory listed here is named as the
  // extractor names it.
  walk.SetFileNameRaw(ShownName(member));
  walk.ClearEntry();
  TArcovaEntry& entry = walk.Entry();
  entry.PackedSize = member.PackedSize;
  entry.UnpackedSize = member.UnpackedSize;
  entry.DosDateTime = central.DosDateTime;
  entry.Crc32 = central.Crc32;
  entry.Method = central.Method;
  entry.Flags = central.Flags;
  entry.Attributes = central.ExternalAttributes;
  entry.IsDirectory = isDirectory;
  entry.Encrypted = (central.Flags & kFlagEncrypted) != 0;
  const TZipExtra& extra = member.Extra;
  NameAesMethod(walk, entry, extra);

  walk.FireReadFile();

  if (central.CommentLength != 0) {
    const int32_t kept = walk.ReadComment(member.CommentPosition, central.CommentLength);
    entry.Comment.assign(reinterpret_cast<const char*>(walk.CommentBuffer()),
                         static_cast<size_t>(kept));
  }

  // An exact time is extraction's: the local header's, else the directory's (only an entry's
  // details want it, so a list fill does not look).
  if (extra.HasModTime) entry.ExactTime = {true, extra.ModTime, extra.ModTimeNanos};
  if (!Selected(walk, member)) return;
  TZipRefusal refusal = ZipMemberRefusal(member);
  // A selected entry whose local header is not where the directory says cannot be extracted: it
  // is reported under its own name and left out, as the extractor leaves it out. (A spanned set's
  // local headers lie on other disks; there the directory is taken on trust.) Local headers are
  // probed through a window of their own, so the directory's stays put.
  if (!FSpanned) {
    if (!FProbe) FProbe = std::make_unique<TWalkStream>(walk.ArchiveSlot());
    TZipExtra localExtra;
    const bool wantTime = walk.WantsDetails();
    int64_t dataStart = 0;
    if (!TZipDirectoryReader::LocalHeaderPresent(*FProbe, member.LocalOffset,
                                                 wantTime ? &localExtra : nullptr, &dataStart)) {
      walk.ReportError(walk.FileName(), kErrBadFileHeader);
      return;
    }
    if (localExtra.HasModTime)
      entry.ExactTime = {true, localExtra.ModTime, localExtra.ModTimeNanos};
    // A local header whose name and extra field push the data into what follows overlaps it.
    if (refusal == TZipRefusal::None && member.DataLimit != INT64_MAX &&
        (dataStart > member.DataLimit || member.PackedSize > member.DataLimit - dataStart))
      refusal = TZipRefusal::Overlapping;
    reader.MarkListed(member.LocalOffset);
  }
  if (refusal != TZipRefusal::None) return ListRefused(walk, member, refusal);
  SayWarnings(walk, member);
  if (isDirectory) {
    if (walk.ShowEmptyDirs()) {
      walk.CountEntry();
      walk.ReportEntry(member.HeaderStart);
    }
  } else {
    walk.CountEntry();
    walk.AddSizes(entry.UnpackedSize, entry.PackedSize);
    walk.ReportEntry(member.HeaderStart);
  }
}

void TZipLister::LocalEntry(TArcovaWalk& walk, const TZipDirMember& member) {
  // No directory test in a local walk: a directory entry is listed like a file.
  walk.SetFileNameRaw(ShownName(member));
  walk.ClearEntry();
  TArcovaEntry& entry = walk.Entry();
  const TLocalFileHeader& local = member.Local;
  entry.PackedSize = member.PackedSize;
  entry.UnpackedSize = member.UnpackedSize;
  entry.DosDateTime = local.DosDateTime;
  entry.Crc32 = member.Crc32();
  entry.Method = local.Method;
  entry.Flags = local.Flags;
  entry.Encrypted = (local.Flags & kFlagEncrypted) != 0;
  NameAesMethod(walk, entry, member.Extra);
  if (member.Extra.HasModTime)
    entry.ExactTime = {true, member.Extra.ModTime, member.Extra.ModTimeNanos};

  // A member the directory listed has been reported with it; only where it ends was wanted.
  if (!member.Listed) walk.FireReadFile();
  if (!member.EndFound) {
    // Its data has no known end, so nothing behind it can be found safely.
    walk.ReportError(walk.FileName(), kErrBadFileHeader);
    return;
  }
  const TZipRefusal refusal = ZipMemberRefusal(member);
  if (!member.Recovered) {
    if (member.Name.empty() ? walk.SelectsEveryName() : walk.SimpleMatch(member.Name)) {
      if (refusal != TZipRefusal::None) return ListRefused(walk, member, refusal);
      SayWarnings(walk, member);
      walk.CountEntry();
      walk.AddSizes(entry.UnpackedSize, entry.PackedSize);
      walk.ReportEntry(member.HeaderStart);
    }
  } else if (!member.Listed && Selected(walk, member)) {
    if (refusal != TZipRefusal::None) return ListRefused(walk, member, refusal);
    SayWarnings(walk, member);
    // Selected as the directory's entries are, and named a directory by its closing separator
    // (a local header has no attributes), so a recovered folder is shown as a listed one is.
    entry.IsDirectory = walk.FileName().back() == '\\';
    if (!entry.IsDirectory) {
      walk.CountEntry();
      walk.AddSizes(entry.UnpackedSize, entry.PackedSize);
      walk.ReportEntry(member.HeaderStart);
    } else if (walk.ShowEmptyDirs()) {
      walk.CountEntry();
      walk.ReportEntry(member.HeaderStart);
    }
  }
}

}  // namespace

std::unique_ptr<TListerFormat> CreateZipLister() {
  return std::make_unique<TZipLister>();
}
