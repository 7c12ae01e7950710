// Tests of the shell and GUI services: harmless defaults, installed hooks, the recording launcher
// and scripted Retry/Cancel answers of the seams, the detached launcher, and error texts.
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/host.h"
#include "platform/seams.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::TempDir;

// Leaves the default hooks behind, whatever a test installed.
class HostShell : public ::testing::Test {
 protected:
  ~HostShell() override { host::InstallShellHooks({}); }
};

TEST_F(HostShell, DefaultsDoNothingHarmful) {
  EXPECT_FALSE(host::ShellOpen("C:\\"));
  host::ProcessMessages();
  EXPECT_EQ(host::AskRetryCancel("Insert disk", "Parcelo"), host::TAnswer::Cancel);
}

TEST_F(HostShell, InstalledHooksAreCalled) {
  std::string opened;
  int pumped = 0;
  std::string asked;
  host::TShellHooks hooks;
  hooks.OpenInNewWindow = [&](const std::string& target) {
    opened = target;
    return true;
  };
  hooks.ProcessMessages = [&] { ++pumped; };
  hooks.AskRetryCancel = [&](const std::string& text, const std::string& caption) {
    asked = caption + ": " + text;
    return host::TAnswer::Retry;
  };
  host::InstallShellHooks(hooks);
  EXPECT_TRUE(host::ShellOpen("https://example.org/"));
  EXPECT_EQ(opened, "https://example.org/");
  host::ProcessMessages();
  host::ProcessMessages();
  EXPECT_EQ(pumped, 2);
  EXPECT_EQ(host::AskRetryCancel("A:\\ is not accessible", "Parcelo"), host::TAnswer::Retry);
  EXPECT_EQ(asked, "Parcelo: A:\\ is not accessible");

  // Empty members fall back to the defaults.
  host::InstallShellHooks({});
  EXPECT_FALSE(host::ShellOpen("C:\\"));
  EXPECT_EQ(host::AskRetryCancel("q", "c"), host::TAnswer::Cancel);
}

TEST_F(HostShell, SeamsRecordLaunchesAndScriptAnswers) {
  int hookCalls = 0;
  host::TShellHooks hooks;
  hooks.OpenInNewWindow = [&](const std::string&) { return ++hookCalls > 0; };
  host::InstallShellHooks(hooks);

  host::TSeams seams;
  seams.RecordLaunches = true;
  seams.Answers = {host::TAnswer::Retry, host::TAnswer::Retry};
  host::ScopedSeams scope(seams);
  EXPECT_TRUE(host::ShellOpen("C:\\out\\folder"));
  EXPECT_TRUE(host::ShellOpen("https://example.org/"));
  EXPECT_EQ(seams.Launched, (std::vector<std::string>{"C:\\out\\folder", "https://example.org/"}));
  EXPECT_EQ(hookCalls, 0);  // nothing was really launched

  EXPECT_EQ(host::AskRetryCancel("first", "t"), host::TAnswer::Retry);
  EXPECT_EQ(host::AskRetryCancel("second", "t"), host::TAnswer::Retry);
  EXPECT_EQ(host::AskRetryCancel("third", "t"), host::TAnswer::Cancel);
  EXPECT_EQ(seams.Questions, (std::vector<std::string>{"first", "second", "third"}));
}

TEST_F(HostShell, SpawnDetachedRunsAProgramWithoutAShell) {
  TempDir dir;
  // A name a shell would mangle arrives intact as one argument.
  const std::string target = dir.Host("a b;$(echo x)");
  ASSERT_TRUE(host::SpawnDetached({"touch", target}));
  for (int i = 0; i < 500 && !std::filesystem::exists(target); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(std::filesystem::exists(target));
  EXPECT_FALSE(host::SpawnDetached({"parcelo-no-such-program-here"}));
  EXPECT_FALSE(host::SpawnDetached({}));
  EXPECT_FALSE(host::SpawnDetached({std::string("tou\0ch", 6)}));
}

TEST(HostErrors, TextsAndPerThreadCodes) {
  EXPECT_EQ(host::SysErrorMessage(host::kErrorNotReady), "The device is not ready.");
  EXPECT_EQ(host::SysErrorMessage(host::kErrorDiskFull), "There is not enough space on the disk.");
  EXPECT_EQ(host::SysErrorMessage(host::kErrorWriteProtect), "The media is write protected.");
  EXPECT_EQ(host::SysErrorMessage(99999), "System error 99999.");

  host::SetLastError(host::kErrorDiskFull);
  uint32_t seenByOtherThread = 1;
  std::thread([&] { seenByOtherThread = host::LastError(); }).join();
  EXPECT_EQ(seenByOtherThread, host::kErrorSuccess);
  EXPECT_EQ(host::LastError(), host::kErrorDiskFull);
}

}  // namespace
