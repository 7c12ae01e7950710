// Which header reader the lister uses for which archive type. Each format family's reader lives in
// a file of its own beside this one; this file only dispatches.
#include "archive/formats/lister_format.h"

std::unique_ptr<TListerFormat> CreateListerFormat(TArcType type) {
  if (IsZipFamily(type)) return CreateZipLister();
  if (type == atAce || type == atAceExe) return CreateAceLister();
  if (type == atArc || type == atArcExe) return CreateArcLister();
  if (type == atPak || type == atPakExe) return CreatePakLister();
  if (type == atArj || type == atArjExe) return CreateArjLister();
  if (type == atBh || type == atBhExe) return CreateBhLister();
  if (type == atCab) return CreateCabLister();
  if (type == atHA) return CreateHaLister();
  if (type == atZoo) return CreateZooLister();
  if (type == atGZip) return CreateGzipLister();
  if (type == atTarGZip) return CreateTarGzipLister();
  if (type == atLha || type == atLhaExe || type == atLzh || type == atLzhExe)
    return CreateLhaLister();
  if (type == atMsGZ) return CreateMsGzLister();
  if (type == atRar || type == atRarExe) return CreateRarLister();
  if (type == atTar) return CreateTarLister();
  if (type == atUUE) return CreateUueLister();
  if (type >= at7Zip && type <= atIso9660) return CreateSourceLister();
  return nullptr;  // no reader: the walk opens the file and lists nothing
}
