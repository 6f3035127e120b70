// The posix state file in a real directory: what it refuses, the mode it
// leaves, two processes updating one state at once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/file.h"
#include "platform/state_file.h"

namespace {

namespace fs = std::filesystem;

class PosixStateFile : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vantric-state-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    chmod(dir_.c_str(), 0755);
  }
  void TearDown() override { fs::remove_all(dir_); }
  bool open(std::string* why) {
    std::string text;
    return state_.open(dir_.string(), "c.state", 0, &text, why);
  }
  fs::path dir_;
  platform::StateFile state_;
};

TEST_F(PosixStateFile, RefusesWhatAnotherUserCouldHavePlaced) {
  const std::string d = dir_.string();
  const struct {
    int line;
    void (*arrange)(const fs::path&);
    std::string why;  // after the directory
  } rows[] = {
      {__LINE__, [](const fs::path& p) { chmod(p.c_str(), 0777); },
       " is writable by others and not sticky: refused"},
      {__LINE__, [](const fs::path& p) { fs::create_symlink("/etc/passwd", p / "c.state"); },
       "/c.state is a symbolic link: not followed"},
      {__LINE__, [](const fs::path& p) { fs::create_symlink("/etc/passwd", p / "c.state.lock"); },
       "/c.state.lock is a symbolic link: not followed"},
      {__LINE__, [](const fs::path& p) { mkfifo((p / "c.state").c_str(), 0600); },
       "/c.state is not a regular file"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    TearDown();
    SetUp();
    row.arrange(dir_);
    std::string why;
    EXPECT_TRUE(!open(&why) && why == d + row.why) << why;
  }
  TearDown();
  SetUp();
  chmod(dir_.c_str(), 01777);  // /tmp's way: allowed
  std::string why;
  ASSERT_TRUE(open(&why)) << why;
  ASSERT_TRUE(state_.replace("x\n", &why)) << why;
  for (struct stat status; const char* name : {"c.state", "c.state.lock"})
    EXPECT_TRUE(stat((dir_ / name).c_str(), &status) == 0 && (status.st_mode & 07777) == 0600);
  state_.close();
  if (geteuid() == 0) {  // a file of another user, as root can make one
    ASSERT_EQ(chown((dir_ / "c.state").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(open(&why));
    EXPECT_EQ(why, d + "/c.state belongs to another user: refused");
  }
}

// Each child adds one to the number in the state, many times: a lost
// update or a torn read would leave the sum short.
TEST_F(PosixStateFile, TwoProcessesNeverLoseAnUpdate) {
  constexpr int kRounds = 40;
  pid_t children[2];
  for (pid_t& child : children) {
    child = fork();
    ASSERT_GE(child, 0);
    if (child != 0) continue;
    for (int round = 0; round < kRounds; ++round) {
      std::string text, why;
      if (!state_.open(dir_.string(), "c.state", 10000, &text, &why)) _exit(1);
      const int n = text.empty() ? 0 : std::stoi(text);
      if (!state_.replace(std::to_string(n + 1) + "\n", &why)) _exit(2);
      state_.close();
    }
    _exit(0);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::string text, why;
  EXPECT_TRUE(platform::read_file((dir_ / "c.state").string(), 64, &text, &why) &&
              text == std::to_string(2 * kRounds) + "\n")
      << text;
}

}  // namespace
