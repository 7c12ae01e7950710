// Fuzz harness for what reaches the wizard from outside: the first byte chooses the surface, the
// rest is its input. 0: a typed, pasted, dropped or passed path (its conversion to the window's
// syntax, the folder name derived from it, the destination composed with it); 1: a JPEG picture
// (libjpeg's decoder behind its error jump). Checked: the derived folder name is the file name
// less at most one extension, the destination joins with exactly one backslash, and a picture
// either decodes to its header's size or gives a null image. No disk writes, no window.
#include <QByteArray>
#include <QImage>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/JpegPicture.h"
#include "app/WizardPaths.h"
#include "platform/host_ascii.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void FuzzPath(const std::string& typed) {
  const std::string path = wizard::SystemPathFromTyped(typed);
  const std::string name = wizard::FileNameOf(path);
  const std::string folder = wizard::DefaultFolderName(path);
  const std::string extension = host::ExtensionOf(name);
  Check(folder.size() + extension.size() == name.size() || extension.empty());
  const std::string destination = wizard::ComposeDestination(path, folder);
  Check(destination.size() ==
        path.size() + folder.size() + (!path.empty() && path.back() == '\\' ? 0 : 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    FuzzPath(rest);
  } else {
    const QImage image =
        wizard::DecodeJpeg(QByteArray(rest.data(), static_cast<qsizetype>(rest.size())));
    Check(image.isNull() || (image.width() > 0 && image.height() > 0));
  }
  return 0;
}
