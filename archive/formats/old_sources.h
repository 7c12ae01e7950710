// The member sources of the old formats whose decoders are our own (archive/codecs/arvArj,
// arvArc): ARJ (volume sets and self-extracting forms included), ARC and PAK. OpenMemberSource
// dispatches to them by the archive type.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/formats/arvMemberSource.h"

std::unique_ptr<TMemberSource> CreateArjSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services);
// `pak`: the archive was found as PAK, whose methods 30 and 31 are no folders.
std::unique_ptr<TMemberSource> CreateArcSource(const std::string& hostPath, int64_t start,
                                               bool pak, const TSourceServices& services);
