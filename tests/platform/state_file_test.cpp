#include "platform/state_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/state_file_calls.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(StateFile, DirectoryIsRequestedElseEnvironmentElseDefault) {
  const std::string fallback = platform::state_file_calls.default_directory();
  test_support::set_environment("NAGIOS_PLUGIN_STATE_DIRECTORY", "/env/s");
  EXPECT_EQ(platform::state_directory("/srv/s"), "/srv/s");
  EXPECT_EQ(platform::state_directory(""), "/env/s");
  test_support::set_environment("NAGIOS_PLUGIN_STATE_DIRECTORY", "");
  EXPECT_EQ(platform::state_directory(""), fallback);
  test_support::set_environment("NAGIOS_PLUGIN_STATE_DIRECTORY", nullptr);
  EXPECT_EQ(platform::state_directory(""), fallback);
}

// A second open of the same state, as a second run would, waits for the
// lock and gives up with the reason; once released it reads what the first
// one stored.
TEST(StateFile, LockedReadAndReplace) {
  const fs::path dir = fs::temp_directory_path() / "vantric-state-file-test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  platform::StateFile first, second;
  std::string text = "unset", why;
  ASSERT_TRUE(first.open(dir.string(), "check.state", 0, &text, &why)) << why;
  EXPECT_EQ(text, "");
  ASSERT_TRUE(first.replace("one\n", &why)) << why;
  EXPECT_FALSE(second.open(dir.string(), "check.state", 30, &text, &why));
  EXPECT_EQ(why, first.path() + ".lock stays locked by another run after 30 ms");
  first.close();
  EXPECT_TRUE(!first.replace("two\n", &why) && why == "not open") << why;
  ASSERT_TRUE(second.open(dir.string(), "check.state", 0, &text, &why)) << why;
  EXPECT_EQ(text, "one\n");
  fs::remove(dir / "check.state");
  fs::create_directories(dir / "check.state");
  EXPECT_FALSE(second.open(dir.string(), "check.state", 0, &text, &why));
  EXPECT_EQ(why, (dir / "check.state").string() + " is not a regular file");
  fs::remove_all(dir);
}

TEST(StateFile, BootIdentityIsStable) {
  std::string a, b, why;
  EXPECT_TRUE(platform::read_boot_identity(&a, &why) && platform::read_boot_identity(&b, &why));
  EXPECT_TRUE(a == b && a.size() >= 10 && a.find(' ') == std::string::npos) << a << why;
}

}  // namespace
