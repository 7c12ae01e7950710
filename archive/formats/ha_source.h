// The member source of HA archives: CPY and ASC members decoded by our own decoders, folders
// (method 14), CRC-32 checked; the Unix and MS-DOS machine blocks give modes and attributes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/formats/arvMemberSource.h"

// atHA: the archive's "HA" signature at `start`.
std::unique_ptr<TMemberSource> CreateHaSource(const std::string& hostPath, int64_t start,
                                              const TSourceServices& services);
