// Overlapping members of a zip archive: the spans the central directory gives its members (local
// header, name, data) must not overlap each other or the directory itself. Archives built so that
// each member's data quotes the next member's header and shares one compressed kernel, or whose
// central entries name one local header many times, expand to far more than the archive could
// hold (output growing with the square of the member count): those members are refused. This
// file decides which spans overlap; reading the records and refusing the members is the
// extractor's and the lister's.
#pragma once

#include <cstdint>
#include <vector>

// Where one member lies, as far as the central directory tells.
struct TZipMemberSpan {
  int64_t Start = 0;  // its local header
  // Its end as far as is known: the local header, the name and the compressed data. The local
  // extra field is unknown until the header is read, so this is where the span ends at least;
  // a span that reaches another one even so overlaps it.
  int64_t End = 0;
  bool Empty = false;  // nothing to decode (0 bytes uncompressed)
  // The volume it starts on, for sets on several volumes (offsets count from each volume's
  // start): spans on different volumes never meet.
  uint32_t Disk = 0;
};

// The span of a member from central-directory values (the local name assumed as long as the
// central one, the local extra field as empty).
TZipMemberSpan ZipMemberSpan(int64_t localOffset, uint32_t nameLength, uint64_t compressedSize,
                             uint64_t uncompressedSize);

// For each span, whether it overlaps another member's on its volume or the directory's
// [directoryStart, directoryEnd) (on volume 0; an empty range for a set whose directory lies
// elsewhere). Two entries naming the same local header overlap as well, except when the member
// is empty: some writers share one empty member between several names, and an empty member
// expands to nothing however often it is named.
std::vector<bool> FindZipOverlaps(const std::vector<TZipMemberSpan>& spans, int64_t directoryStart,
                                  int64_t directoryEnd);

// For each span, how far its member's data may reach: the next member's local header on its
// volume, or the directory's start when that comes first (INT64_MAX when nothing follows). A local
// header whose name and extra field push the data past this point overlaps what follows, and a
// decoder that reads on past the recorded size stops here.
std::vector<int64_t> ZipSpanLimits(const std::vector<TZipMemberSpan>& spans,
                                   int64_t directoryStart);
