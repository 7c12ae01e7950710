// What the lister's two RAR readers share: the name of the next volume of a set and the step that
// opens it through OnNextVolume. Both formats' volumes are named alike: "name.part2.rar" after
// "name.part1.rar", and "name.r00", "name.r01", ... "name.s00" after "name.rar".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TArcovaWalk;
class TListerFormat;

namespace rar {

constexpr int kErrPasswordProtected = 25290;  // "Password protected": headers are encrypted

// The volume that follows `volume` (a path in system syntax).
std::string NextVolumeName(const std::string& volume);

// Asks for the next volume (OnNextVolume, the preset name from NextVolumeName) and opens it in
// the walk's archive slot. False when it was refused, is missing or cannot be opened (25235);
// `volumeIndex` is the number of the volume asked for, counted by the caller.
bool OpenNextVolume(TArcovaWalk& walk, int volumeIndex);

// A 64-bit size field as a size: values beyond the signed range are taken as the largest one.
inline int64_t ClampSize(uint64_t value) {
  return value > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(value);
}
// A file that goes on in the next volume (its split-after flag) is counted where it ends: the
// next volume is opened and its start read with `readStart`. When that volume cannot be had the
// walk ends as cancelled (what went wrong was said when it was asked for). True when the file's
// header step is over; false when nothing was counted before it, so the part that is here is
// reported after all.
bool FollowSplitFile(TArcovaWalk& walk, int& volumeIndex,
                     const std::function<bool(TArcovaWalk&, int64_t position)>& readStart);

// The last step of a file header in either format: the mask test on the name set in the walk
// (a folder's trailing "\" left out), then folders reported when ShowEmptyDirs asks for them and
// files counted, summed and reported.
void ReportFileEntry(TArcovaWalk& walk, int64_t start, bool directory, int64_t unpacked,
                     int64_t packed);

}  // namespace rar

// The RAR 5 reader, which the RAR reader hands over to when the archive carries the RAR 5 marker.
std::unique_ptr<TListerFormat> CreateRar5Lister();
