// The wizard's path rules (see WizardPaths.h).
#include "app/WizardPaths.h"

#include <QUrl>
#include <algorithm>
#include <iterator>

#include "archive/common/arvGbls.h"
#include "platform/host.h"

namespace wizard {

namespace {

std::string Trimmed(const std::string& text) {
  constexpr const char* kBlanks = " \t\r\n";
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(kBlanks);
  std::string result = text.substr(first, last - first + 1);
  if (result.size() >= 2 && (result.front() == '"' || result.front() == '\'') &&
      result.back() == result.front())
    result = result.substr(1, result.size() - 2);
  return result;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::string SystemPathFromTyped(const std::string& typed) {
  std::string path = Trimmed(typed);
  if (path.empty()) return path;
  if (IsFileUrl(path)) {
    const QUrl url(QString::fromStdString(path));
    // A file on another machine is nothing of ours.
    if (!url.isLocalFile() || (!url.host().isEmpty() && url.host() != "localhost")) return path;
    path = url.toLocalFile().toStdString();
    if (path.empty()) return path;
  } else if (path == "~" || StartsWith(path, "~/")) {
    path = host::HomeDirectory() + path.substr(1);
  }
  if (path.front() == '/') return host::FromHostPath(path);
  return path;
}

bool IsFileUrl(const std::string& text) {
  return StartsWith(text, "file:");
}

std::string FileNameOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string DefaultFolderName(const std::string& fileName) {
  std::string name = FileNameOf(fileName);
  const std::string extension = host::ExtensionOf(name);
  if (extension.empty()) return name;
  const size_t at = name.find(extension);  // the first occurrence, compared with case
  if (at != std::string::npos) name.erase(at, extension.size());
  // A compressed tar ("src.tar.gz") is one archive: its name loses the ".tar" as well.
  static const char* const kTarCompressors[] = {".gz", ".bz2", ".xz",   ".zst",
                                                ".lz", ".lz4", ".lzma", ".z"};
  const bool compressed = std::any_of(std::begin(kTarCompressors), std::end(kTarCompressors),
                                      [&](const char* c) { return SameTextAscii(extension, c); });
  if (compressed && at == name.size() && name.size() > 4 &&
      SameTextAscii(name.substr(name.size() - 4), ".tar"))
    name.erase(name.size() - 4);
  return name;
}

std::string ComposeDestination(const std::string& directory, const std::string& folderName) {
  if (!directory.empty() && directory.back() == '\\') return directory + folderName;
  return directory + "\\" + folderName;
}

}  // namespace wizard
