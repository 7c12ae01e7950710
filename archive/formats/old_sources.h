// The member sources of the old formats whose decoders are our own (archive/codecs/arvArj,
// arvArc, arvAce): ARJ (volume sets and self-extracting forms included), ARC and PAK, ACE (solid,
// volume sets, self-extracting), and BH (walked, its methods refused). OpenMemberSource
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
// ACE 1.0 and 2.0.
std::unique_ptr<TMemberSource> CreateAceSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services);
// BH: members walked and named; their methods refused (Unsupported, the method named).
std::unique_ptr<TMemberSource> CreateBhSource(const std::string& hostPath, int64_t start,
                                              const TSourceServices& services);
