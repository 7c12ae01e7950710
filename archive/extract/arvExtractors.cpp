// The extractor of an archive type (see arvExtractors.h).
#include "archive/extract/arvExtractors.h"

#include "archive/formats/arvUnArchive.h"
#include "archive/zip/arvUnZip.h"

std::unique_ptr<TUnBase> MakeExtractor(TArcType type) {
  if (IsZipFamily(type)) return std::make_unique<TUnZip>();
  if (TUnArchive::ReadsType(type)) return std::make_unique<TUnArchive>();
  return nullptr;
}

bool HasExtractor(TArcType type) {
  return IsZipFamily(type) || TUnArchive::ReadsType(type);
}
