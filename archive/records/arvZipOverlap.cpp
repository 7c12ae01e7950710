// Which member spans of a zip archive overlap: one sort and one sweep, so a directory of a
// million entries costs no more than reading it.
#include "archive/records/arvZipOverlap.h"

#include <algorithm>
#include <limits>
#include <numeric>

#include "archive/records/arvZipRecs.h"

TZipMemberSpan ZipMemberSpan(int64_t localOffset, uint32_t nameLength, uint64_t compressedSize,
                             uint64_t uncompressedSize) {
  TZipMemberSpan span;
  span.Start = localOffset;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  const uint64_t fixed = TLocalFileHeader::kSize + static_cast<uint64_t>(nameLength);
  const uint64_t room = localOffset >= 0 ? static_cast<uint64_t>(kMax - localOffset) : 0;
  span.End = (compressedSize > room || fixed > room - std::min(room, compressedSize))
                 ? kMax
                 : localOffset + static_cast<int64_t>(fixed + compressedSize);
  span.Empty = uncompressedSize == 0;
  return span;
}

std::vector<bool> FindZipOverlaps(const std::vector<TZipMemberSpan>& spans, int64_t directoryStart,
                                  int64_t directoryEnd) {
  std::vector<bool> overlaps(spans.size(), false);
  std::vector<size_t> order(spans.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return spans[a].Disk != spans[b].Disk ? spans[a].Disk < spans[b].Disk
                                          : spans[a].Start < spans[b].Start;
  });
  // Members in start order form clusters: a member that starts before the furthest end of the
  // cluster so far joins it. Every member of a cluster where two spans really overlap is refused
  // (which of them quotes which cannot be told, and none of them is what its writer meant).
  size_t first = 0;       // the cluster is order[first, k)
  int64_t reach = 0;      // its furthest end
  bool clash = false;     // two of its spans overlap
  auto close = [&](size_t end) {
    if (clash)
      for (size_t j = first; j < end; ++j) overlaps[order[j]] = true;
  };
  for (size_t k = 0; k < order.size(); ++k) {
    const TZipMemberSpan& span = spans[order[k]];
    if (span.Disk == 0 && span.End > directoryStart && span.Start < directoryEnd)
      overlaps[order[k]] = true;
    if (k > first && span.Disk == spans[order[first]].Disk && span.Start < reach) {
      // One empty member named several times (under one name or several) is no overlap.
      const TZipMemberSpan& previous = spans[order[k - 1]];
      const bool sharedEmpty = span.Start == previous.Start && span.Empty && previous.Empty;
      if (!sharedEmpty) clash = true;
      reach = std::max(reach, span.End);
      continue;
    }
    close(k);
    first = k;
    reach = span.End;
    clash = false;
  }
  close(order.size());
  return overlaps;
}

std::vector<int64_t> ZipSpanLimits(const std::vector<TZipMemberSpan>& spans,
                                   int64_t directoryStart) {
  constexpr int64_t kNone = std::numeric_limits<int64_t>::max();
  std::vector<int64_t> limits(spans.size(), kNone);
  std::vector<size_t> order(spans.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return spans[a].Disk != spans[b].Disk ? spans[a].Disk < spans[b].Disk
                                          : spans[a].Start < spans[b].Start;
  });
  // Walking back from the last start: the nearest start above each one on its volume.
  int64_t next = kNone;
  for (size_t k = order.size(); k-- > 0;) {
    const TZipMemberSpan& span = spans[order[k]];
    if (k + 1 < order.size() && spans[order[k + 1]].Disk != span.Disk) next = kNone;
    if (k + 1 < order.size() && spans[order[k + 1]].Disk == span.Disk &&
        spans[order[k + 1]].Start > span.Start)
      next = spans[order[k + 1]].Start;
    int64_t limit = next;
    if (span.Disk == 0 && directoryStart > span.Start) limit = std::min(limit, directoryStart);
    limits[order[k]] = limit;
  }
  return limits;
}
