#include "Platform/Shell.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/TempFile.h"

namespace plat {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    had_ = std::getenv(name) != nullptr;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

// A scratch folder of its own, removed afterwards.
class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.empty()); }
  void TearDown() override { SetShellLauncher(nullptr); }
  std::string Write(const std::string& name, const std::string& text, bool executable) {
    return tmp_.Write(name, text, executable ? 0755 : 0644);
  }
  // Records what would be started instead of starting it.
  void Capture(int result = 0) {
    SetShellLauncher([this, result](const ShellCommand& cmd) {
      launched_.push_back(cmd);
      return result;
    });
  }
  testsupport::TempDir tmp_;
  const std::string dir_ = tmp_.Path();
  std::vector<ShellCommand> launched_;
};

TEST_F(ShellTest, AnExecutableRunsWithItsParametersInTheGivenFolder) {
  const std::string prog = Write("setup.bin", "#!/bin/sh\n", true);
  Capture();
  EXPECT_GT(ShellExecuteA(0, "open", prog.c_str(), "/S  \"C:\\my dir\" say\\\"hi\"", dir_.c_str(),
                          SW_SHOWNORMAL),
            32);
  ASSERT_EQ(launched_.size(), 1u);
  EXPECT_EQ(launched_[0].program, prog);
  EXPECT_EQ(launched_[0].args, (std::vector<std::string>{"/S", "C:\\my dir", "say\"hi"}));
  EXPECT_EQ(launched_[0].dir, dir_);
}

TEST_F(ShellTest, ARelativeNameIsFoundInTheFolderAndPassedAbsolute) {
  const std::string prog = Write("tool", "#!/bin/sh\n", true);
  Capture();
  EXPECT_GT(ShellExecuteA(0, nullptr, "tool", nullptr, dir_.c_str(), SW_SHOWNORMAL), 32);
  ASSERT_EQ(launched_.size(), 1u);
  EXPECT_EQ(launched_[0].program, prog);
  EXPECT_TRUE(launched_[0].args.empty());
}

TEST_F(ShellTest, ADocumentGoesToTheDesktopOpener) {
  const std::string opener = Write("xdg-open", "#!/bin/sh\n", true);
  const std::string doc = Write("readme.txt", "hello", false);
  ScopedEnv path("PATH", dir_.c_str());
  Capture();
  EXPECT_GT(ShellExecuteA(0, "open", doc.c_str(), "ignored", nullptr, SW_SHOWNORMAL), 32);
  ASSERT_EQ(launched_.size(), 1u);
  EXPECT_EQ(launched_[0].program, opener);
  EXPECT_EQ(launched_[0].args, std::vector<std::string>{doc});
  EXPECT_TRUE(launched_[0].dir.empty());
}

TEST_F(ShellTest, FailuresAreReportedAndStartNothing) {
  const std::string doc = Write("readme.txt", "hello", false);
  Capture();
  EXPECT_EQ(ShellExecuteA(0, "open", (dir_ + "/missing.exe").c_str(), nullptr, nullptr, 1),
            SE_ERR_FNF);
  EXPECT_EQ(ShellExecuteA(0, "open", "", nullptr, nullptr, 1), SE_ERR_FNF);
  EXPECT_EQ(ShellExecuteA(0, "open", nullptr, nullptr, nullptr, 1), SE_ERR_FNF);
  EXPECT_EQ(ShellExecuteA(0, "print", doc.c_str(), nullptr, nullptr, 1), SE_ERR_NOASSOC);
  EXPECT_EQ(ShellExecuteA(0, "open", doc.c_str(), nullptr, (dir_ + "/nope").c_str(), 1),
            SE_ERR_PNF);
  {
    ScopedEnv path("PATH", dir_.c_str());  // no opener for documents there
    EXPECT_EQ(ShellExecuteA(0, "open", doc.c_str(), nullptr, nullptr, 1), SE_ERR_NOASSOC);
  }
  EXPECT_TRUE(launched_.empty());
}

std::string ReadWhenThere(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    if (text.str().find("end") != std::string::npos) return text.str();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {};
}

TEST_F(ShellTest, TheRealLauncherStartsTheProgramWithoutWaitingForIt) {
  const std::string out = dir_ + "/out.txt";
  // The program outlives the call: it waits for a go file the test writes afterwards.
  const std::string prog = Write("prog.sh",
                                 "#!/bin/sh\n"
                                 "i=0; while [ ! -e go ] && [ $i -lt 500 ]; do sleep 0.01; "
                                 "i=$((i+1)); done\n"
                                 "{ pwd; echo \"$1|$2\"; echo end; } > out.txt\n",
                                 true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_GT(ShellExecuteA(0, "open", prog.c_str(), "\"a b\" c", dir_.c_str(), 1), 32);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_FALSE(fs::exists(out));
  std::ofstream(dir_ + "/go") << "";
  const std::string text = ReadWhenThere(out);
  EXPECT_EQ(text, fs::canonical(dir_).string() + "\na b|c\nend\n");
}

// Programs that the system refuses to start, for the reason the shell's error names.
TEST_F(ShellTest, TheRealLauncherReportsProgramsThatCannotRun) {
  const std::string junk = Write("junk.bin", "\x01\x02 not a program", true);
  EXPECT_EQ(ShellExecuteA(0, "open", junk.c_str(), nullptr, nullptr, 1), SE_ERR_BADFORMAT);
  // A script whose interpreter may not be run: no execute permission (for root too).
  const std::string interpreter = Write("interpreter", "#!/bin/sh\n", false);
  const std::string denied = Write("denied.sh", "#!" + interpreter + "\n", true);
  EXPECT_EQ(ShellExecuteA(0, "open", denied.c_str(), nullptr, nullptr, 1), SE_ERR_ACCESSDENIED);
  // ...or whose interpreter is not there.
  const std::string orphan = Write("orphan.sh", "#!" + dir_ + "/no-interpreter\n", true);
  EXPECT_EQ(ShellExecuteA(0, "open", orphan.c_str(), nullptr, nullptr, 1), SE_ERR_FNF);
}

TEST(TempPath, FollowsTmpdirWithATrailingSlash) {
  char buf[64];
  {
    ScopedEnv tmp("TMPDIR", "/var/scratch");
    EXPECT_EQ(GetTempPathA(sizeof buf, buf), 13u);
    EXPECT_STREQ(buf, "/var/scratch/");
  }
  {
    ScopedEnv tmp("TMPDIR", "/var/scratch/");
    EXPECT_EQ(GetTempPathA(sizeof buf, buf), 13u);
    EXPECT_STREQ(buf, "/var/scratch/");
  }
  {
    ScopedEnv tmp("TMPDIR", nullptr);
    EXPECT_EQ(GetTempPathA(sizeof buf, buf), 5u);
    EXPECT_STREQ(buf, "/tmp/");
  }
  {
    ScopedEnv tmp("TMPDIR", "");
    EXPECT_EQ(GetTempPathA(sizeof buf, buf), 5u);
  }
}

TEST(TempPath, TooSmallABufferGetsTheSizeNeededAndStaysUntouched) {
  ScopedEnv tmp("TMPDIR", "/tmp");
  char buf[8] = "canary!";
  EXPECT_EQ(GetTempPathA(5, buf), 6u) << "the size with the terminating NUL";
  EXPECT_STREQ(buf, "canary!");
  EXPECT_EQ(GetTempPathA(0, nullptr), 6u);
  EXPECT_EQ(GetTempPathA(6, buf), 5u);
  EXPECT_STREQ(buf, "/tmp/");
}

}  // namespace
}  // namespace plat
