// A temporary folder for tests: created unique under /tmp, removed with everything in it when the
// object goes (read-only files and folders included). It does not change the current directory.
#pragma once

#include <string>

namespace parcelo::test {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "parcelo");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder as the host names it ("/tmp/parcelo-Ab12Cd") and in system syntax ("Z:\tmp\...").
  const std::string& HostPath() const { return host_; }
  std::string SystemPath() const;
  // A name below the folder: "a/b.txt" -> "/tmp/parcelo-Ab12Cd/a/b.txt" (host) or
  // "Z:\tmp\parcelo-Ab12Cd\a\b.txt" (system); "/" and "\" both separate.
  std::string Host(const std::string& relative) const;
  std::string System(const std::string& relative) const;

  // Small conveniences for fixtures: writes (creating parent folders) and reads whole files.
  void WriteFile(const std::string& relative, const std::string& contents) const;
  std::string ReadFile(const std::string& relative) const;

 private:
  std::string host_;
};

}  // namespace parcelo::test
