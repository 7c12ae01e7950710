// The lister's reader for the types whose headers only a member source reads (7z, xz, bzip2, zstd,
// lz4, lzip, cpio, ISO 9660): the walk goes through the very source the extractor uses, so the names
// listed are the names extracted, selected by the same rule. Member data is not decoded here.
#include <algorithm>

#include "archive/formats/arvMemberSource.h"
#include "archive/formats/lister_format.h"

namespace {

class TSourceLister final : public TListerFormat {
 public:
  void FirstHeader(TArcovaWalk& walk) override {
    walk.ReadNothing();  // the whole walk is the source's, done here
    std::string hostPath;
    if (!host::ToHostPath(walk.ArchiveFile(), hostPath)) {
      walk.ReportError(walk.ArchiveFile(), kErrOpeningFile);
      return;
    }
    TSourceServices services;
    services.Cancel = walk.CancelFlag();
    services.Warning = [&walk](int code, const std::string& detail) {
      walk.ReportError(walk.ArchiveFile(), code, detail);
    };
    services.NextVolume = [&walk](std::string& volumeName, const std::string& volumeId) {
      std::string systemName = host::FromHostPath(volumeName);
      if (!walk.AskNextVolume(systemName, volumeId)) return false;
      return host::ToHostPath(systemName, volumeName);
    };
    std::unique_ptr<TMemberSource> source = OpenMemberSource(
        walk.ArcType(), hostPath, std::max<int64_t>(walk.ArchiveStart(), 0), services);
    if (!source) return;
    TSourceMember member;
    int64_t index = 0;
    while (!walk.Cancelled() && source->Next(member)) {
      ++index;
      // Devices and FIFOs are never extracted: not listed either.
      if (member.Kind == TMemberKind::Device || member.Kind == TMemberKind::Fifo) continue;
      const bool isDirectory = member.Kind == TMemberKind::Folder;
      std::string name = SlashToBackslash(member.Name);
      if (isDirectory && !name.empty() && name.back() != '\\') name += '\\';
      walk.ClearEntry();
      walk.SetFileNameRaw(name);
      TArcovaEntry& entry = walk.Entry();
      entry.UnpackedSize = std::max<int64_t>(member.Size, 0);
      entry.PackedSize = member.PackedSize >= 0 ? member.PackedSize : entry.UnpackedSize;
      entry.DosDateTime = member.DosDateTime;
      if (member.HasExactTime) entry.ExactTime = {true, member.UnixTime, member.Nanoseconds};
      entry.IsDirectory = isDirectory;
      entry.Attributes = (member.Attributes & ~0x10u) | (isDirectory ? 0x10u : 0u);
      if (entry.Attributes == 0) entry.Attributes = 0x20;
      entry.Encrypted = member.Encrypted;
      walk.FireReadFile();
      // The extractor's selection, so that what is listed is what is extracted.
      if (!walk.MatchesFileSpec(name)) continue;
      walk.ReportSelected(index, isDirectory, entry.UnpackedSize, entry.PackedSize);
    }
    if (source->ErrorCode() != 0 && !walk.Cancelled())
      walk.ReportError(walk.ArchiveFile(), source->ErrorCode(), source->ErrorDetail());
  }

  void Header(TArcovaWalk& walk) override { walk.EndWalk(); }
};

}  // namespace

std::unique_ptr<TListerFormat> CreateSourceLister() {
  return std::make_unique<TSourceLister>();
}
