#include "archive/zip/arvZipList.h"

#include <algorithm>
#include <cstring>
#include <new>

bool TUnBaseHeaderObj::Add(const TUnBaseHeaderRec& rec, const uint8_t* central,
                           const TDataDescriptor* descriptor, const std::string* name) {
  try {
    TItem item;
    item.Rec = rec;
    // Room first (growing geometrically), so the pushes below cannot fail half-way.
    if (FItems.size() == FItems.capacity()) FItems.reserve(std::max<size_t>(64, 2 * FItems.size()));
    if (central && FCentral.size() == FCentral.capacity())
      FCentral.reserve(std::max<size_t>(64, 2 * FCentral.size()));
    if (descriptor && FDescriptors.size() == FDescriptors.capacity())
      FDescriptors.reserve(std::max<size_t>(64, 2 * FDescriptors.size()));
    if (name) {
      if (FNames.size() == FNames.capacity())
        FNames.reserve(std::max<size_t>(64, 2 * FNames.size()));
      FNames.push_back(*name);  // the only step that may fail: nothing else was added yet
      item.Name = static_cast<int32_t>(FNames.size() - 1);
    }
    if (central) {
      std::array<uint8_t, kCentralCopySize> copy;
      std::memcpy(copy.data(), central, kCentralCopySize);
      FCentral.push_back(copy);  // room reserved above: cannot throw
      item.Central = static_cast<int32_t>(FCentral.size() - 1);
    }
    if (descriptor) {
      FDescriptors.push_back(*descriptor);
      item.Descriptor = static_cast<int32_t>(FDescriptors.size() - 1);
    }
    FItems.push_back(item);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

const std::string* TUnBaseHeaderObj::Name(int index) const {
  const TItem& item = FItems.at(static_cast<size_t>(index));
  return item.Name < 0 ? nullptr : &FNames[static_cast<size_t>(item.Name)];
}

const uint8_t* TUnBaseHeaderObj::Central(int index) const {
  const TItem& item = FItems.at(static_cast<size_t>(index));
  return item.Central < 0 ? nullptr : FCentral[static_cast<size_t>(item.Central)].data();
}

const TDataDescriptor* TUnBaseHeaderObj::Descriptor(int index) const {
  const TItem& item = FItems.at(static_cast<size_t>(index));
  return item.Descriptor < 0 ? nullptr : &FDescriptors[static_cast<size_t>(item.Descriptor)];
}

bool TUnBaseHeaderObj::AttachExtra(const TZipEntryExtra& extra) {
  if (FItems.empty()) return false;
  try {
    FExtras.push_back(extra);
  } catch (const std::bad_alloc&) {
    return false;
  }
  FItems.back().Extra = static_cast<int32_t>(FExtras.size() - 1);
  return true;
}

const TZipEntryExtra* TUnBaseHeaderObj::Extra(int index) const {
  const TItem& item = FItems.at(static_cast<size_t>(index));
  return item.Extra < 0 ? nullptr : &FExtras[static_cast<size_t>(item.Extra)];
}

void TUnBaseHeaderObj::Clear() {
  FItems.clear();
  FItems.shrink_to_fit();
  FCentral.clear();
  FCentral.shrink_to_fit();
  FDescriptors.clear();
  FDescriptors.shrink_to_fit();
  FNames.clear();
  FNames.shrink_to_fit();
  FExtras.clear();
  FExtras.shrink_to_fit();
}
