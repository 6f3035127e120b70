#include "platform/file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/file_calls.h"

namespace {

namespace fs = std::filesystem;

platform::FileCalls real;  // the backend's own table, for the faults to call on

class ReplaceFile : public testing::Test {
 protected:
  void SetUp() override {
    real = platform::file_calls;
    dir_ = fs::temp_directory_path() / ("vantric-file-test-" + std::to_string(real.process_id()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "vantric.prom").string();
    std::string why;
    ASSERT_TRUE(platform::replace_file(path_, "old\n", &why)) << why;
  }
  void TearDown() override {
    platform::file_calls = real;
    fs::remove_all(dir_);
  }
  std::string content() const {
    std::string text, why;
    EXPECT_TRUE(platform::read_file(path_, 1 << 20, &text, &why)) << why;
    return text;
  }
  size_t files() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }
  fs::path dir_;
  std::string path_;
};

int full() { return real.disk_full_error; }
int one_byte_then_full(intptr_t handle, const char* data, size_t, size_t* done) {
  static int calls = 0;
  return calls++ % 2 == 0 ? real.write(handle, data, 1, done) : real.disk_full_error;
}
int collide_once(const char* path, intptr_t* handle) {
  static int calls = 0;
  return calls++ == 0 ? real.exists_error : real.create_new(path, handle);
}
// The time limit strikes in the middle of the write (the content names the
// directory); the file is gone at once on posix, at the process's end on
// Windows.
size_t files_at_timeout = 0;
int timed_out(intptr_t handle, const char* data, size_t size, size_t* done) {
  files_at_timeout =
      static_cast<size_t>(std::distance(fs::directory_iterator(fs::path(data, data + size)), {}));
  platform::discard_pending_replacement();
  return real.write(handle, data, size, done);
}

TEST_F(ReplaceFile, Faults) {
  using Calls = platform::FileCalls;
  struct Row {
    int line;
    void (*inject)(Calls&);
    const char* step;  // nullptr: succeeds
  };
  const Row rows[] = {
      {__LINE__, [](Calls&) {}, nullptr},
      {__LINE__, [](Calls& c) { c.create_new = collide_once; }, nullptr},
      {__LINE__, [](Calls& c) { c.create_new = [](const char*, intptr_t*) { return full(); }; },
       "create"},
      {__LINE__, [](Calls& c) { c.write = one_byte_then_full; }, "write"},
      {__LINE__, [](Calls& c) { c.sync = [](intptr_t) { return full(); }; }, "sync"},
      {__LINE__, [](Calls& c) { c.close = [](intptr_t h) { return real.close(h), full(); }; },
       "close"},
      {__LINE__, [](Calls& c) { c.rename = [](const char*, const char*) { return full(); }; },
       "rename"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    row.inject(platform::file_calls);
    std::string why;
    const bool ok = platform::replace_file(path_, "new content\n", &why);
    platform::file_calls = real;
    EXPECT_EQ(ok, row.step == nullptr) << why;
    EXPECT_EQ(why, row.step ? row.step + (": " + real.error_text(full())) : "");
    EXPECT_EQ(content(), row.step ? "old\n" : "new content\n");
    EXPECT_EQ(files(), 1u);
    ASSERT_TRUE(platform::replace_file(path_, "old\n", &why)) << why;
  }
}

// What stands at the target, on the first look and on the one just before
// the rename: only a regular file or a link is replaced.
platform::FileKind kinds[2];
int kind_calls = 0;

TEST_F(ReplaceFile, OnlyAFileOrALinkIsReplaced) {
  using K = platform::FileKind;
  const struct {
    K first, last;
    const char* why;  // nullptr: replaced
  } rows[] = {{K::link, K::link, nullptr},
              {K::fifo, K::fifo, "a FIFO is there, not a regular file"},
              {K::regular, K::socket, "a socket is there, not a regular file"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why ? row.why : "link");
    kinds[0] = row.first, kinds[1] = row.last, kind_calls = 0;
    platform::file_calls.kind = [](const char*, K* kind) { return *kind = kinds[kind_calls++], 0; };
    std::string why;
    EXPECT_EQ(platform::replace_file(path_, "new\n", &why), row.why == nullptr);
    platform::file_calls = real;
    EXPECT_EQ(why, row.why ? row.why : "");
    EXPECT_EQ(content(), row.why ? "old\n" : "new\n");
    EXPECT_EQ(files(), 1u);
    ASSERT_TRUE(platform::replace_file(path_, "old\n", &why)) << why;
  }
}

TEST_F(ReplaceFile, TimeOutLeavesNoTemporaryFile) {
  platform::file_calls.write = timed_out;
  std::string why;
  EXPECT_FALSE(platform::replace_file(path_, dir_.string(), &why));
  platform::file_calls = real;
  EXPECT_EQ(files_at_timeout, 2u);
  EXPECT_EQ(content(), "old\n");
  EXPECT_EQ(files(), 1u);
}

TEST_F(ReplaceFile, ReaderSeesWholeContents) {
  const std::string a(64 * 1024, 'a'), b(100 * 1024 + 7, 'b');
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, torn{0};
  std::thread reader([&] {
    while (!done.load()) {
      std::string text, why;
      if (!platform::read_file(path_, 1 << 20, &text, &why) ||
          (text != a && text != b && text != "old\n"))
        ++torn;
      ++reads;
      // A reader that never lets go would keep a Windows rename waiting.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::string why;
  for (int i = 0; i < 100 && why.empty(); ++i) platform::replace_file(path_, i % 2 ? a : b, &why);
  EXPECT_EQ(why, "");
  done.store(true);
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(files(), 1u);
}

TEST_F(ReplaceFile, ReadFileLimit) {
  std::string text = "kept", why;
  EXPECT_FALSE(platform::read_file(path_, 3, &text, &why));
  EXPECT_EQ(why, "larger than 3 bytes");
  EXPECT_TRUE(platform::read_file(path_, 4, &text, &why));
  EXPECT_FALSE(platform::read_file(path_ + ".gone", 4, &text, &why));
  EXPECT_EQ(text, "old\n");
}

}  // namespace
