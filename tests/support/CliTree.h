// What the CLI tests compare: the files below a folder (names relative, "/"-separated, with their
// bytes) and the names `list` printed.
#pragma once

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/ReaderFixture.h"

namespace parcelo::test {

// Every file and link below `root` (folders left out), relative, "/"-separated, sorted.
inline std::vector<std::string> FilesBelow(const std::string& root) {
  std::vector<std::string> files;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_symlink() || !it->is_directory())
      files.push_back(it->path().lexically_relative(root).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Every file and link below `root` with its bytes (a link's: its target's).
inline std::map<std::string, Bytes> TreeBelow(const std::string& root) {
  std::map<std::string, Bytes> tree;
  for (const std::string& name : FilesBelow(root)) tree[name] = ReadBytes(root + "/" + name);
  return tree;
}

// The names `list` prints, one a line, "\" turned into "/", sorted.
inline std::vector<std::string> Listed(const std::string& out) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(start, end - start);
    std::replace(line.begin(), line.end(), '\\', '/');
    if (!line.empty()) names.push_back(line);
    start = end + 1;
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace parcelo::test
