// The member list of one zip extraction pass (TUnBaseHeaderObj): the selected members in archive
// order, each with its fixed record and the copies the directory pass read.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/records/arvZipRecs.h"

// The fixed record of a listed member.
struct TUnBaseHeaderRec {
  uint32_t Attributes = 0;    // external attributes
  uint16_t VolumeNumber = 0;  // 1-based volume of the member's first part
  int64_t LocalOffset = 0;    // where its local header is
};

// The selected members of one extraction pass, in archive order: the fixed record and, when the
// pass read one, a copy of the member's 46-byte central header (and, for local-header walks, the
// values of a data descriptor).
class TUnBaseHeaderObj {
 public:
  static constexpr size_t kCentralCopySize = TCentralFileHeader::kSize;

  // Copies every part given; false (count unchanged) when memory cannot be had. `name` is the
  // member's name as listed and selected (the central directory's), which is the name written.
  bool Add(const TUnBaseHeaderRec& rec, const uint8_t* central = nullptr,
           const TDataDescriptor* descriptor = nullptr, const std::string* name = nullptr);
  const TUnBaseHeaderRec& Header(int index) const {
    return FItems.at(static_cast<size_t>(index)).Rec;
  }
  // The central header copy, or nullptr when the pass read none.
  const uint8_t* Central(int index) const;
  // The data descriptor's values, or nullptr when the member has none.
  const TDataDescriptor* Descriptor(int index) const;
  // The listed name, or nullptr when the pass kept none.
  const std::string* Name(int index) const;
  // Attaches what the extra field of the entry added last says (false when memory cannot be had);
  // Extra gives it back, or nullptr when none was attached.
  bool AttachExtra(const TZipEntryExtra& extra);
  const TZipEntryExtra* Extra(int index) const;
  void Clear();
  int Count() const { return static_cast<int>(FItems.size()); }

 private:
  struct TItem {
    TUnBaseHeaderRec Rec;
    int32_t Central = -1;     // index into FCentral
    int32_t Descriptor = -1;  // index into FDescriptors
    int32_t Name = -1;        // index into FNames
    int32_t Extra = -1;       // index into FExtras
  };
  std::vector<TItem> FItems;
  std::vector<std::string> FNames;
  std::vector<std::array<uint8_t, kCentralCopySize>> FCentral;
  std::vector<TDataDescriptor> FDescriptors;
  std::vector<TZipEntryExtra> FExtras;
};
