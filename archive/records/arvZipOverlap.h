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
};

// The span of a member from central-directory values (the local name assumed as long as the
// central one, the local extra field as empty).
TZipMemberSpan ZipMemberSpan(int64_t localOffset, uint32_t nameLength, uint64_t compressedSize,
                             uint64_t uncompressedSize);

// For each span, whether it overlaps another member's or the directory's [directoryStart,
// directoryEnd). Two entries naming the same local header overlap as well, except when the
// member is empty: some writers share one empty member between several names, and an empty
// member expands to nothing however often it is named.
std::vector<bool> FindZipOverlaps(const std::vector<TZipMemberSpan>& spans, int64_t directoryStart,
                                  int64_t directoryEnd);
