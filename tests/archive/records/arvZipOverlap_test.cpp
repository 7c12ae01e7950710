// Overlapping member spans: what the zip extractor and lister refuse as a possible zip bomb.
#include "archive/records/arvZipOverlap.h"

#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<bool> Refused(const std::vector<TZipMemberSpan>& spans, int64_t directoryStart,
                          int64_t directoryEnd) {
  return FindZipOverlaps(spans, directoryStart, directoryEnd);
}

TEST(ZipOverlap, MembersOneAfterAnotherInAnyDirectoryOrderPass) {
  // Three members back to back (30-byte header, 5-byte name, data), listed out of order.
  const auto a = ZipMemberSpan(0, 5, 100, 300);
  const auto b = ZipMemberSpan(a.End, 5, 0, 0);
  const auto c = ZipMemberSpan(b.End + 16, 5, 7, 7);  // after a data descriptor
  EXPECT_EQ(a.End, 135);
  EXPECT_EQ(Refused({c, a, b}, c.End, c.End + 200), std::vector<bool>(3, false));
}

TEST(ZipOverlap, MembersQuotingTheNextOnesHeadersAreAllRefused) {
  // Each member's data runs over every later header into one shared kernel at the end.
  std::vector<TZipMemberSpan> spans;
  const int64_t kernelEnd = 90000;
  for (int64_t i = 0; i < 1000; ++i) {
    const int64_t start = i * 40;
    spans.push_back(ZipMemberSpan(start, 5, static_cast<uint64_t>(kernelEnd - start - 35), 1 << 20));
  }
  // One ordinary member after the kernel is still extracted.
  spans.push_back(ZipMemberSpan(kernelEnd, 5, 10, 10));
  const std::vector<bool> refused = Refused(spans, kernelEnd + 45, kernelEnd + 45 + 46 * 1001);
  for (size_t i = 0; i < 1000; ++i) EXPECT_TRUE(refused[i]) << i;
  EXPECT_FALSE(refused[1000]);
}

TEST(ZipOverlap, EntriesNamingOneHeaderAreRefusedUnlessTheMemberIsEmpty) {
  const auto shared = ZipMemberSpan(0, 8, 1000, 1 << 20);
  EXPECT_EQ(Refused(std::vector<TZipMemberSpan>(2000, shared), 2000, 3000),
            std::vector<bool>(2000, true));
  // Some writers name one empty member several times: nothing to expand, nothing refused.
  const auto empty = ZipMemberSpan(0, 8, 2, 0);
  const auto next = ZipMemberSpan(empty.End, 8, 10, 10);
  EXPECT_EQ(Refused({empty, empty, empty, next}, 500, 600), std::vector<bool>(4, false));
  // An empty member whose header another member's data also covers is not spared.
  const auto cover = ZipMemberSpan(0, 8, 400, 4000);
  const auto inside = ZipMemberSpan(100, 8, 2, 0);
  EXPECT_EQ(Refused({cover, inside, inside}, 500, 600), std::vector<bool>(3, true));
}

TEST(ZipOverlap, AMemberReachingIntoTheDirectoryOrAbsurdSizesAreRefused) {
  const auto fine = ZipMemberSpan(0, 4, 10, 10);
  const auto intoDirectory = ZipMemberSpan(fine.End, 4, 1000, 10);
  EXPECT_EQ(Refused({fine, intoDirectory}, 200, 300), (std::vector<bool>{false, true}));
  // A member whose header lies inside the directory.
  EXPECT_EQ(Refused({fine, ZipMemberSpan(250, 4, 0, 0)}, 200, 300),
            (std::vector<bool>{false, true}));
  // Sizes near the top of the range end at the largest offset, not somewhere before the start.
  const auto huge = ZipMemberSpan(100, 4, std::numeric_limits<uint64_t>::max(), 1);
  EXPECT_EQ(huge.End, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(Refused({fine, huge}, 1000, 1100), (std::vector<bool>{false, true}));
}

}  // namespace

namespace {

TEST(ZipOverlap, OneEmptyMemberUnderSeveralNamesAndSpansOnOtherVolumes) {
  // Three entries of different name lengths naming one empty member: no overlap.
  EXPECT_EQ(Refused({ZipMemberSpan(0, 5, 0, 0), ZipMemberSpan(0, 9, 0, 0),
                     ZipMemberSpan(0, 2, 0, 0), ZipMemberSpan(40, 4, 3, 3)},
                    100, 200),
            std::vector<bool>(4, false));
  // Members of a set start at the same offsets on different volumes; only those on one volume
  // are held to each other.
  TZipMemberSpan first = ZipMemberSpan(0, 5, 1000, 1000);
  TZipMemberSpan second = first;
  second.Disk = 1;
  TZipMemberSpan inside = ZipMemberSpan(500, 5, 10, 10);
  inside.Disk = 1;
  EXPECT_EQ(Refused({first, second, inside}, 0, 0), (std::vector<bool>{false, true, true}));
}

TEST(ZipOverlap, LimitsAreTheNextHeaderOrTheDirectory) {
  const auto a = ZipMemberSpan(0, 5, 100, 100);
  const auto b = ZipMemberSpan(200, 5, 10, 10);
  const auto empty = ZipMemberSpan(200, 5, 0, 0);
  auto later = ZipMemberSpan(300, 5, 10, 10);
  const std::vector<int64_t> limits = ZipSpanLimits({later, b, a, empty}, 400);
  EXPECT_EQ(limits, (std::vector<int64_t>{400, 300, 200, 300}));
  // After the directory, or on another volume: nothing known follows.
  later.Disk = 2;
  EXPECT_EQ(ZipSpanLimits({a, later}, 50),
            (std::vector<int64_t>{50, std::numeric_limits<int64_t>::max()}));
  EXPECT_EQ(ZipSpanLimits({ZipMemberSpan(500, 5, 1, 1)}, 100)[0],
            std::numeric_limits<int64_t>::max());
}

}  // namespace
