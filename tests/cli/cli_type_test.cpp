// parcelo-cli type, run as a program: its lines for archives built here, for several files at
// once, for a missing file, and without arguments.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace {

using parcelo::test::TempDir;

struct Result {
  int status;
  std::string out;
};

// Runs parcelo-cli with `arguments`, from `folder` when given.
Result RunCli(const std::string& arguments, const std::string& folder = "") {
  std::string command =
      std::string(PARCELO_BINARY_DIR) + "/cli/parcelo-cli " + arguments + " 2>/dev/null";
  if (!folder.empty()) command = "cd '" + folder + "' && " + command;
  FILE* pipe = ::popen(command.c_str(), "r");
  Result r{-1, {}};
  if (!pipe) return r;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    r.out.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

void Write(const std::string& path, const ziptest::Bytes& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(CliType, ZipBehindAStub) {
  TempDir dir("clitype");
  ziptest::Bytes stub(7612, 0);
  stub[0] = 'M';
  stub[1] = 'Z';
  ziptest::ZipBuilder zb;
  zb.Prefix(stub).AddStored("a.txt", "hello");
  Write(dir.Host("sfx.exe"), zb.Build());
  const Result r = RunCli("type '" + dir.Host("sfx.exe") + "'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "type: atZipExe\nname: ZIP self-extractor\noffset: 7612\nheader-state: 0\n");
}

TEST(CliType, SeveralFilesRelativePathsAndVolumes) {
  TempDir dir("clitype");
  ziptest::ZipBuilder zb;
  zb.AddStored("a.txt", "hello");
  Write(dir.Host("x.jar"), zb.Build());
  const auto central = zb.Layout().centralOffset;
  ziptest::Bytes rar(40, 0);
  rar[0] = 'R';
  rar[1] = 'a';
  rar[2] = 'r';
  rar[3] = '!';
  Write(dir.Host("set.r02"), rar);
  const Result r = RunCli("type " + dir.Host("x.jar") + " " + dir.Host("set.r02") + " " +
                          dir.Host("missing.zip"));
  EXPECT_EQ(r.status, 2);  // a file that is not there is an error, said with its reason
  EXPECT_EQ(r.out, "file: " + dir.Host("x.jar") +
                       "\ntype: atJar\nname: JAR\noffset: " + std::to_string(central) +
                       "\nheader-state: 7\nvolume: j 0\n\n" + "file: " + dir.Host("set.r02") +
                       "\ntype: atRar\nname: RAR\noffset: 0\nheader-state: 0\n"
                       "volume: r 3\n\n" +
                       "file: " + dir.Host("missing.zip") + "\n");
  // A path relative to the current directory.
  const Result relative = RunCli("type x.jar", dir.HostPath());
  EXPECT_EQ(relative.status, 0);
  EXPECT_EQ(relative.out.substr(0, 12), "type: atJar\n");
}

// The name a person knows the format by, beside the engine's type name: the generation of a RAR
// archive is read from its signature.
TEST(CliType, NamesAreTheOnesPeopleKnow) {
  TempDir dir("clitype");
  const struct {
    std::string file;
    ziptest::Bytes bytes;
    std::string type, name;
  } cases[] = {
      {"five.rar",
       {'R',  'a',  'r',  '!',  0x1a, 0x07, 0x01, 0x00, 0x33, 0x92, 0xb5, 0xe5,
        0x0a, 0x01, 0x05, 0x06, 0x00, 0x05, 0x01, 0x01, 0x80, 0x80, 0x00},
       "atRar",
       "RAR 5"},
      {"four.rar",
       {'R',  'a',  'r',  '!',  0x1a, 0x07, 0x00, 0xcf, 0x90, 0x73,
        0x00, 0x00, 0x0d, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
       "atRar",
       "RAR 4"},
      {"a.gz",
       {0x1f, 0x8b, 0x08, 0x00, 0, 0, 0, 0, 0x00, 0x03, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0},
       "atGZip",
       "gzip"},
      {"words.txt", {'j', 'u', 's', 't', ' ', 'w', 'o', 'r', 'd', 's', '\n'}, "atNA", "no archive"},
  };
  for (const auto& c : cases) {
    Write(dir.Host(c.file), c.bytes);
    const Result r = RunCli("type '" + dir.Host(c.file) + "'");
    EXPECT_EQ(r.out.substr(0, r.out.find("\noffset")), "type: " + c.type + "\nname: " + c.name)
        << c.file;
  }
}

TEST(CliType, NoArgumentsIsAUsageError) {
  const Result r = RunCli("type");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
}

}  // namespace
