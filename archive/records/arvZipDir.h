// The zip directory reader that the lister and the extractor share: one walk producing a zip
// archive's members in archive order — the central directory entry by entry, the members that a
// directory shorter than its end record announces has lost (looked for through the local headers
// from the archive's start), or, without a directory, the local headers one after another (the
// spanning marker stepped over). Each member comes with its stored and Unicode Path names, its
// extra field (ZIP64 sizes and offset, exact times) and, for local headers, where its data ends.
// What is selected, reported per member, listed or extracted stays the caller's: the reader only
// says what is there. It reads through a TStream32 and never writes.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "archive/codecs/arvCrypt.h"
#include "archive/common/arvStringList.h"
#include "archive/messages/arvReports.h"
#include "archive/records/arvZipRecs.h"

class TStream32;

// An archive that holds nothing: an end record announcing no entry and nothing else found (a split
// set keeps its members on other volumes whatever its last end record says).
bool ZipArchiveIsEmpty(bool splitSet, const TZipLocation& location);

// What a member's name bytes say beyond the name itself.
struct TZipNameFacts {
  // The stored name holds a zero byte: the name is cut there, and the whole name as stored is
  // kept here (nothing is kept for names without one).
  bool NulInName = false;
  std::string WholeName;
  // A Unicode Path made for the stored name was set aside, because it holds a zero byte or leads
  // outside the destination (rooted, a drive, or ".." above its start): the stored name stands.
  bool UnicodePathRefused = false;
  std::string RefusedUnicodePath;
};

// One member as the walk found it.
struct TZipDirMember {
  // Where it was found: a central entry, or a local header (with no directory, or recovered
  // behind a short one).
  bool FromDirectory = false;
  bool Recovered = false;
  // A recovered member that the caller listed already from the directory (only its end counts).
  bool Listed = false;
  bool Enciphered = false;    // the header and the name were enciphered
  int64_t HeaderStart = 0;    // where its central or local header starts
  int64_t LocalOffset = 0;    // where its local header is (a central entry's, adjusted)
  // Central entries: the fixed header as read (deciphered) and decoded; the comment's place.
  uint8_t CentralBytes[TCentralFileHeader::kSize] = {};
  TCentralFileHeader Central;
  int64_t CommentPosition = 0;
  // Local headers: the fixed header decoded; the data descriptor when its sizes follow the data.
  TLocalFileHeader Local;
  bool HasDescriptor = false;
  TDataDescriptor Descriptor;
  // False when where a local member's data ends cannot be found: nothing behind it is read, the
  // walk ends with it.
  bool EndFound = true;
  std::string RawName;      // the stored name, deciphered, kept whole, cut at a zero byte
  std::string UnicodeName;  // UTF-8, from a Unicode Path made for this stored name, else empty
  std::string Name;         // the system name (OEM translated when asked, "/" made "\")
  TZipNameFacts NameFacts;  // a zero byte in the name, a Unicode Path set aside
  TZipExtra Extra;          // what its extra field says
  // Central entries: its span (local header to the end of its data) overlaps another member's or
  // the directory (a possible zip bomb).
  bool Overlapping = false;
  // Where its data must end at the latest: the next member's local header or the directory
  // (INT64_MAX when nothing is known to follow, and in sets on several volumes).
  int64_t DataLimit = std::numeric_limits<int64_t>::max();
  // Its sizes: ZIP64 values when present, else the fields with their high words; a local
  // member's data descriptor's when it has one.
  int64_t PackedSize = 0;
  int64_t UnpackedSize = 0;
  uint16_t Flags() const { return FromDirectory ? Central.Flags : Local.Flags; }
  uint16_t Method() const { return FromDirectory ? Central.Method : Local.Method; }
  uint32_t DosDateTime() const { return FromDirectory ? Central.DosDateTime : Local.DosDateTime; }
  uint32_t Crc32() const {
    return FromDirectory ? Central.Crc32 : HasDescriptor ? Descriptor.Crc32 : Local.Crc32;
  }
};

// The stored name, the extra field and a Unicode Path's name made for the stored name, from the
// `have` bytes that followed a header (`nameLength` + `extraLength` were wanted). The name is
// deciphered first with `cipher` (continuing its header's key state) when given, kept whole and
// cut only at a zero byte.
// `facts`, when given, receives what else the name's bytes say (a Unicode Path with a zero byte
// or leading outside is never returned as `unicodeName`).
void TakeZipNameAndExtra(uint8_t* bytes, uint32_t have, uint32_t nameLength, uint32_t extraLength,
                         TZipCipher* cipher, bool central, TZip64Wanted wanted,
                         std::string& rawName, TZipExtra& extra, std::string& unicodeName,
                         TZipNameFacts* facts = nullptr);

// Whether a name (either separator) leads outside wherever it is put: rooted, starting with a
// drive, or climbing with ".." above its start.
bool ZipNameLeadsOutside(const std::string& name);
// Whether a system name ("\"-separated) names nothing once its drive, roots, empty, "." and ".."
// components are dropped ("\", ".", "..\").
bool ZipNameNamesNothing(const std::string& name);
// A name with its zero bytes shown as "^@", for messages.
std::string VisibleZipName(const std::string& name);

// Why a member is never written, whatever is asked: its span overlaps another member's or the
// directory, its name is empty, holds a zero byte, or names nothing while the member holds data.
enum class TZipRefusal : uint8_t { None, Overlapping, EmptyName, NulInName, NamesNothing };
TZipRefusal ZipMemberRefusal(const TZipDirMember& member);
// The report of a refusal: its code and its words (which name the member when the file name of
// the report cannot: an empty name, a name with a zero byte).
int ZipRefusalCode(TZipRefusal refusal);
std::string ZipRefusalText(TZipRefusal refusal, const TZipDirMember& member);
// Whether a refusal's report names the member by its output path (else by the archive, with the
// member named in the words).
inline bool ZipRefusalNamesMember(TZipRefusal refusal) {
  return refusal == TZipRefusal::Overlapping;
}
// Whether a selection (FileSpec lines) takes every member ("*" or "*.*"), so that a member without
// a name, which no mask matches, is selected too (and said to be refused, not passed over).
bool ZipSelectsEveryName(const TStringList& fileSpec);
// What is said of a member that is written all the same, as warnings: a Unicode Path set aside
// for the stored name; a folder entry that holds bytes (the folder is made; the bytes, which no
// file of that name can hold, are not written).
std::vector<std::string> ZipMemberWarnings(const TZipDirMember& member);

// How the reader reports what it alone knows (a directory found short), fed into the owner's
// report route.
using TZipDirReport = std::function<void(TReportSeverity severity, TReportSubject subject,
                                         const std::string& detail, int code)>;

class TZipDirectoryReader {
 public:
  struct TSetup {
    bool Directory = true;  // read the central directory; otherwise walk the local headers
    int64_t Start = 0;      // the first central header, or where the first local header is
    int64_t OffsetAdjustment = 0;  // added to every recorded local-header offset
    bool ExtendedEnd = false;      // an extended end record: offsets' 0x0064 high words count
    // Entries the end record announces; -1 when no count can be trusted (a set on several
    // volumes, an extended end record). A directory that holds fewer is completed from the local
    // headers.
    int64_t Announced = -1;
    bool TranslateOem = true;         // names written by DOS-like hosts are OEM text
    const uint8_t* Cancel = nullptr;  // a non-zero flag ends the walk
    // Say so (25114, the archive) when the walk meets something that is no header before it has
    // found a single one.
    bool SayNoHeader = false;
    // A set on several volumes: members' offsets count from their volume's start, and the
    // directory lies on a volume of its own.
    bool Spanned = false;
    TZipDirReport Report;
  };

  TZipDirectoryReader(TStream32& archive, TSetup setup);

  // The next member in archive order; false when there is none (the walk is over).
  bool Next(TZipDirMember& member);
  // The caller took a central entry whose local header is at `localOffset`: a completion of a
  // short directory marks it Listed.
  void MarkListed(int64_t localOffset);
  // Whether the local header a central entry points to is there (read through `probe`, so the
  // walk's own reads stay where they are); `localExtra`, when given, receives what that header's
  // extra field says, `dataStart` where its data starts (behind its name and extra field).
  static bool LocalHeaderPresent(TStream32& probe, int64_t localOffset,
                                 TZipExtra* localExtra = nullptr, int64_t* dataStart = nullptr);

  // Central or local headers recognised so far (a recovery's not counted).
  int64_t HeadersSeen() const { return FHeadersSeen; }
  // The directory held fewer entries than announced (reported when found).
  bool DirectoryDamaged() const { return FDamaged; }

 private:
  enum class TPhase : uint8_t { Directory, Recovery, Local, Done };
  bool NextCentral(TZipDirMember& member);
  bool NextLocal(TZipDirMember& member);
  // The end of the directory: a short one starts the recovery.
  void EndDirectory();
  // Positions a local walk at `position`, stepping over the spanning marker.
  void StartLocalWalk(int64_t position);
  void TakeNameAndExtra(uint32_t have, uint32_t nameLength, uint32_t extraLength, bool central,
                        TZip64Wanted wanted, TZipDirMember& member) {
    TakeZipNameAndExtra(FVariable.data(), have, nameLength, extraLength,
                        member.Enciphered ? &FHeaderCipher : nullptr, central, wanted,
                        member.RawName, member.Extra, member.UnicodeName, &member.NameFacts);
  }
  // The spans of the directory's members, read once before the first entry is given out.
  void ScanDirectorySpans();
  // Up to `count` bytes of the archive at `position` from the directory's block (read in large
  // pieces, so that an entry costs no read of its own): how many are there (`got`), and where.
  const uint8_t* DirectoryBytes(int64_t position, int32_t count, int32_t& got);
  // The archive-level 25114 of a walk that found no header at all.
  void SayIfNoHeaderYet();
  bool Cancelled() const { return FSetup.Cancel && *FSetup.Cancel; }

  TStream32& FArchive;
  TSetup FSetup;
  TPhase FPhase;
  int64_t FPosition = 0;
  int64_t FArchiveSize = 0;
  int64_t FHeadersSeen = 0;
  bool FDamaged = false;
  std::vector<int64_t> FListed;  // local-header offsets of the members the caller listed
  bool FListedSorted = true;
  std::vector<uint8_t> FVariable;  // a header's name and extra field as read
  bool FSpansScanned = false;
  int64_t FCentralIndex = 0;       // the next central entry's place in the directory
  std::vector<bool> FOverlapping;  // per central entry, as ScanDirectorySpans found
  std::vector<int64_t> FLimits;
  TZipCipher FHeaderCipher;        // key state for enciphered headers and their names
  std::vector<uint8_t> FBlock;     // the directory's bytes from FBlockStart on
  int64_t FBlockStart = 0;
  int32_t FBlockHave = 0;
};
