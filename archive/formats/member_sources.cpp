// Which member source reads which archive type: one case per type, each calling its family's
// Create<Family>Source. The sources live one family per file beside this one; this file only
// dispatches.
#include "archive/formats/arvMemberSource.h"
#include "archive/formats/ha_source.h"
#include "archive/formats/lhacab_sources.h"
#include "archive/formats/old_sources.h"

std::unique_ptr<TMemberSource> OpenMemberSource(TArcType type, const std::string& hostPath,
                                                int64_t start, const TSourceServices& services) {
  switch (type) {
    case atTar:
    case atTarGZip:
    case atGZip:
    case atRar:
    case atRarExe:
    case at7Zip:
    case atXz:
    case atBZip2:
    case atZstd:
    case atLz4:
    case atLzip:
    case atCpio:
    case atIso9660:
      return CreateLibarchiveSource(type, hostPath, start, services);
    case atArj:
    case atArjExe:
      return CreateArjSource(hostPath, start, services);
    case atArc:
    case atArcExe:
      return CreateArcSource(hostPath, start, false, services);
    case atPak:
    case atPakExe:
      return CreateArcSource(hostPath, start, true, services);
    case atLha:
    case atLhaExe:
    case atLzh:
    case atLzhExe:
      return CreateLhaSource(hostPath, start, services);
    case atCab:
      return CreateCabSource(hostPath, start, services);
    case atAce:
    case atAceExe:
      return CreateAceSource(hostPath, start, services);
    case atBh:
    case atBhExe:
      return CreateBhSource(hostPath, start, services);
    case atHA:
      return CreateHaSource(hostPath, start, services);
    case atUUE:
      return CreateUueSource(hostPath, start, services);
    case atZoo:
      return CreateZooSource(hostPath, start, services);
    default:
      return nullptr;
  }
}

bool HasMemberSource(TArcType type) {
  return OpenMemberSource(type, std::string(), 0, TSourceServices{}) != nullptr;
}
