// The extractor of an archive type, chosen in one place for every front end (parcelo-cli extract
// and test, the wizard, "Extract Here"): TUnZip for the zip family, TUnArchive for every other type
// it reads. The extraction job takes MakeExtractor as its factory.
#pragma once

#include <memory>

#include "archive/driver/arvbase.h"

// A new extractor for `type`, or nullptr when no extractor reads that type.
std::unique_ptr<TUnBase> MakeExtractor(TArcType type);
// Whether MakeExtractor gives an extractor for `type`.
bool HasExtractor(TArcType type);
