// The member sources of LHA/LZH (liblhasa), Microsoft cabinets and the MS-DOS compressed files
// SZDD and KWAJ (libmspack), uuencoded files and ZOO archives (our own decoders). Each takes the
// host path of the archive and the offset of its first record, as type detection found them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/formats/arvMemberSource.h"

// atLha, atLhaExe, atLzh, atLzhExe: every method liblhasa decodes, header levels 0 to 3.
std::unique_ptr<TMemberSource> CreateLhaSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services);
// atCab: MSZIP, Quantum, LZX and stored folders; a set is followed into its further cabinets.
std::unique_ptr<TMemberSource> CreateCabSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services);
// An SZDD or KWAJ file (the MS-DOS COMPRESS.EXE forms): one member.
std::unique_ptr<TMemberSource> CreateMsCompressSource(const std::string& hostPath, int64_t start,
                                                      const TSourceServices& services);
// atUUE: the block of the first "begin" line (in the file's first 32 KiB), one member.
std::unique_ptr<TMemberSource> CreateUueSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services);
// atZoo: stored, LZW (lzd) and lh5 members, folders; deleted entries are skipped.
std::unique_ptr<TMemberSource> CreateZooSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services);
