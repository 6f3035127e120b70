// The posix console backend over real descriptors: the write loop under
// scripted system calls, and the real standard output pointed at a file, a
// pipe, a full device, a non-blocking pipe or nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "platform/posix/console_calls.h"
#include "runtime/console_output.h"
#include "tests/support/test_support.h"

namespace {

using platform::FileType;

// The real calls, as the table holds them before any test replaces one.
const platform::ConsoleCalls system_calls = platform::console_calls();
using test_support::Caught;
using test_support::pattern;
using test_support::run_check_io;

// ---------------------------------------------------------------------------
// The posix write loop: interrupted and partial writes are retried until
// every byte is out, a full non-blocking descriptor is waited for; a real
// error ends the loop with its errno.

struct ScriptedWrite {
  std::vector<intptr_t> results;  // > 0: accept that many bytes; 0; -errno
  std::size_t next = 0;
  std::string accepted;
  int waits = 0;
};
ScriptedWrite* script = nullptr;

intptr_t scripted_write(int, const void* data, std::size_t size) {
  intptr_t r = script->next < script->results.size() ? script->results[script->next++]
                                                     : static_cast<intptr_t>(size);
  if (r < 0) {
    errno = static_cast<int>(-r);
    return -1;
  }
  if (static_cast<std::size_t>(r) > size) r = static_cast<intptr_t>(size);
  script->accepted.append(static_cast<const char*>(data), static_cast<std::size_t>(r));
  return r;
}

TEST(DescriptorWrite, RetriesInterruptedAndShortWrites) {
  platform::DescriptorCalls* calls = &platform::descriptor_calls;
  struct Row {
    int line;
    std::vector<intptr_t> results;
    bool ok;
    std::size_t accepted;
    uint32_t error;
    int waits = 0;  // for the descriptor to become writable
  };
  const Row rows[] = {
      {__LINE__, {}, true, 128, 0},
      {__LINE__, {-EINTR}, true, 128, 0},
      {__LINE__, {-EINTR, -EINTR, 1, -EINTR, 3}, true, 128, 0},
      {__LINE__, {1, 1, 1, 1, 1}, true, 128, 0},
      {__LINE__, {127}, true, 128, 0},
      {__LINE__, {5, -ENOSPC}, false, 5, 28},
      {__LINE__, {-EPIPE}, false, 0, 32},
      {__LINE__, {-EINTR, 100, -EBADF}, false, 100, 9},
      {__LINE__, {10, 0}, false, 10, 5},  // accepts nothing, reports nothing
      {__LINE__, {-EAGAIN}, true, 128, 0, 1},
      {__LINE__, {50, -EAGAIN, -EAGAIN, 20, -EINTR}, true, 128, 0, 2},
      {__LINE__, {-EAGAIN, -EPIPE}, false, 0, 32, 1},
  };
  const platform::DescriptorCalls saved = *calls;
  const platform::ConsoleCalls& system = system_calls;
  const std::string data = pattern(128, 6);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    ScriptedWrite w;
    w.results = row.results;
    script = &w;
    calls->write = scripted_write;
    calls->wait_writable = [](int) {
      ++script->waits;
      return 1;
    };
    uint32_t written = 12345;
    bool ok = system.write_file(1, data.data(), 128, &written);
    uint32_t error = ok ? 0 : system.last_error();
    *calls = saved;
    script = nullptr;
    EXPECT_EQ(ok, row.ok);
    EXPECT_EQ(written, row.accepted);
    EXPECT_EQ(w.accepted, data.substr(0, row.accepted));
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(w.waits, row.waits);
  }
}

// ---------------------------------------------------------------------------
// The real standard output pointed at a file, a pipe, a full device or
// nothing. Descriptor 1 is restored before any assertion, since the test
// framework reports on it.

class RealStdOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_calls_ = platform::console_calls();
    platform::console_calls() = system_calls;
    console_output_reset();
  }
  void TearDown() override {
    if (saved_fd_ >= 0) restore();
    console_output_reset();
    platform::console_calls() = saved_calls_;
  }
  // Points descriptor 1 at `fd` (or closes it when fd is -1).
  void redirect(int fd) {
    std::fflush(stdout);
    saved_fd_ = ::dup(1);
    ASSERT_GE(saved_fd_, 0);
    if (fd >= 0) {
      ASSERT_EQ(::dup2(fd, 1), 1);
    } else {
      ::close(1);
    }
  }
  void restore() {
    ::dup2(saved_fd_, 1);
    ::close(saved_fd_);
    saved_fd_ = -1;
  }
  static std::string read_all(int fd) {
    std::string s;
    char chunk[512];
    intptr_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0) s.append(chunk, n);
    return s;
  }
  // Writes `lines` as a writer does; returns the number of each line's
  // check that raised (or 0), all in order.
  static std::vector<Caught> write_lines(const std::vector<std::string>& lines) {
    std::vector<Caught> checks;
    for (const std::string& l : lines) {
      write_text(l);
      write_line_end();
      checks.push_back(run_check_io());
    }
    return checks;
  }

  int saved_fd_ = -1;
  platform::ConsoleCalls saved_calls_;
};

TEST_F(RealStdOutput, FileGetsEveryByteOnceInOrder) {
  const std::string path = ::testing::TempDir() + "console_output_file.txt";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  redirect(fd);
  const std::vector<std::string> lines = {pattern(20, 7), pattern(150, 8), pattern(100, 9)};
  std::vector<Caught> checks = write_lines(lines);
  FileType type = platform::console_calls().file_type(1);
  std::FILE* before_close = std::fopen(path.c_str(), "rb");
  std::fseek(before_close, 0, SEEK_END);
  long size_before_close = std::ftell(before_close);
  std::fclose(before_close);
  close_output();
  restore();
  ::close(fd);

  EXPECT_EQ(type, FileType::disk);
  for (const Caught& c : checks) EXPECT_FALSE(c.raised) << c.message;
  EXPECT_EQ(size_before_close, 256);  // two full buffers: 20+2+150+2+100+2 = 276
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::string got(400, '\0');
  got.resize(std::fread(got.data(), 1, got.size(), f));
  std::fclose(f);
  std::remove(path.c_str());
  EXPECT_EQ(got, lines[0] + "\r\n" + lines[1] + "\r\n" + lines[2] + "\r\n");
}

TEST_F(RealStdOutput, PipeGetsTheLineAtTheEndStep) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  redirect(fds[1]);
  std::vector<Caught> checks = write_lines({"12.34568"});
  bool waiting = console_output_has_pending_bytes();
  FileType type = platform::console_calls().file_type(1);
  close_output();
  restore();
  ::close(fds[1]);
  std::string got = read_all(fds[0]);
  ::close(fds[0]);

  EXPECT_FALSE(checks[0].raised);
  EXPECT_TRUE(waiting);
  EXPECT_EQ(type, FileType::pipe);
  EXPECT_EQ(got, "12.34568\r\n");
}

TEST_F(RealStdOutput, FullDeviceFailsAtTheLineEnd) {
  int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (fd < 0) GTEST_SKIP() << "no /dev/full";
  redirect(fd);
  std::vector<Caught> checks = write_lines({"value", "again"});
  FileType type = platform::console_calls().file_type(1);
  close_output();
  restore();
  ::close(fd);

  EXPECT_EQ(type, FileType::character);
  for (const Caught& c : checks) {
    ASSERT_TRUE(c.raised);
    EXPECT_EQ(c.kind, "EInOutError");
    EXPECT_EQ(c.code, 28);
    EXPECT_EQ(c.message, "I/O error 28");
  }
}

TEST_F(RealStdOutput, ClosedDescriptorIsNoStandardOutput) {
  redirect(-1);
  std::vector<Caught> checks = write_lines({"lost"});
  close_output();
  restore();

  ASSERT_TRUE(checks[0].raised);
  EXPECT_EQ(checks[0].code, 105);
  EXPECT_EQ(checks[0].message, "I/O error 105");
}

TEST_F(RealStdOutput, PipeWithoutReaderIsAWriteFailure) {
  struct Row {
    int line;
    std::size_t length;  // of the one line
    bool raised;         // by the line's check
  };
  const Row rows[] = {
      {__LINE__, 20, false},  // waits in the buffer; fails silently at the end step
      {__LINE__, 200, true},  // fails when the buffer fills
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    console_output_reset();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    redirect(fds[1]);
    std::vector<Caught> checks = write_lines({pattern(row.length, 10)});
    close_output();
    int32_t at_end = take_pending_io_result();
    restore();
    ::close(fds[1]);

    // Still running: the broken pipe did not end the process.
    EXPECT_EQ(checks[0].raised, row.raised);
    if (row.raised) {
      EXPECT_EQ(checks[0].code, EPIPE);
      EXPECT_EQ(checks[0].message, "I/O error 32");
    } else {
      EXPECT_EQ(at_end, EPIPE);
    }
  }
}

// A parent that made the pipe non-blocking, and a reader that lags: the
// line must still arrive whole, with no I/O error.
TEST_F(RealStdOutput, FullNonBlockingPipeIsWaitedFor) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK), 0);
  std::string filler;
  char block[4096] = {};
  for (intptr_t put; (put = ::write(fds[1], block, sizeof block)) != -1 || errno == EINTR;) {
    if (put > 0) filler.append(static_cast<std::size_t>(put), '\0');
  }
  ASSERT_EQ(errno, EAGAIN);
  std::string drained;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    drained = read_all(fds[0]);
  });
  redirect(fds[1]);
  const std::string line = pattern(300, 11);
  std::vector<Caught> checks = write_lines({line});
  close_output();
  restore();
  ::close(fds[1]);
  reader.join();
  ::close(fds[0]);

  EXPECT_FALSE(checks[0].raised) << checks[0].message;
  EXPECT_EQ(drained, filler + line + "\r\n");
}

}  // namespace
