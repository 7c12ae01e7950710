// Temporary test folders under /tmp and their recursive removal; see TempDir.h. It never follows
// a symbolic link out of the folder while removing.
#include "support/TempDir.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/host.h"

namespace parcelo::test {

namespace fs = std::filesystem;

namespace {

// Makes every folder below root writable and searchable again, so that removal can proceed.
void MakeRemovable(const fs::path& root) {
  std::error_code ec;
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(
           root, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code statError;
    if (it->is_directory(statError) && !it->is_symlink(statError)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, statError);
    }
  }
}

std::string Slashed(std::string relative) {
  std::replace(relative.begin(), relative.end(), '\\', '/');
  return relative;
}

}  // namespace

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary folder from " + pattern);
  }
  host_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  MakeRemovable(host_);
  fs::remove_all(host_, ec);
}

std::string TempDir::SystemPath() const {
  return host::FromHostPath(host_);
}

std::string TempDir::Host(const std::string& relative) const {
  return host_ + "/" + Slashed(relative);
}

std::string TempDir::System(const std::string& relative) const {
  std::string rest = relative;
  std::replace(rest.begin(), rest.end(), '/', '\\');
  return SystemPath() + "\\" + rest;
}

void TempDir::WriteFile(const std::string& relative, const std::string& contents) const {
  const fs::path path = Host(relative);
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string TempDir::ReadFile(const std::string& relative) const {
  std::ifstream in(Host(relative), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + Host(relative));
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace parcelo::test
