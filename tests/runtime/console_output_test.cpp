#include "runtime/console_output.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "failure/failure.h"
#include "platform/console.h"
#include "tests/support/test_support.h"

namespace {

using platform::FileHandle;
using platform::FileType;
using test_support::Caught;
using test_support::pattern;
using test_support::run_check_io;

// ---------------------------------------------------------------------------
// A standard output in memory: every write_file call is recorded; chosen
// calls fail with a chosen error code.

struct FakeOutput {
  FileHandle handle = 7;
  FileType type = FileType::pipe;
  std::vector<uint32_t> write_sizes;     // every write_file call, failed ones too
  std::string delivered;                 // bytes of the successful calls, in order
  std::map<std::size_t, uint32_t> fail;  // write call index -> error code
  uint32_t error = 0;
  int opens = 0;
  std::vector<FileHandle> closed;
};

FakeOutput* fake = nullptr;

platform::ConsoleCalls fake_calls() {
  platform::ConsoleCalls calls;
  calls.std_output_handle = [] {
    ++fake->opens;
    return fake->handle;
  };
  calls.file_type = [](FileHandle) { return fake->type; };
  calls.write_file = [](FileHandle h, const void* data, uint32_t size, uint32_t* written) {
    EXPECT_EQ(h, fake->handle);
    std::size_t index = fake->write_sizes.size();
    fake->write_sizes.push_back(size);
    auto failure = fake->fail.find(index);
    if (failure != fake->fail.end()) {
      fake->error = failure->second;
      *written = 0;
      return false;
    }
    fake->delivered.append(static_cast<const char*>(data), size);
    *written = size;
    return true;
  };
  calls.close_handle = [](FileHandle h) { fake->closed.push_back(h); };
  calls.last_error = [] { return fake->error; };
  return calls;
}

class ConsoleOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = platform::console_calls();
    fake = &out_;
    platform::console_calls() = fake_calls();
    console_output_reset();
  }
  void TearDown() override {
    console_output_reset();
    platform::console_calls() = saved_;
    fake = nullptr;
  }
  FakeOutput out_;
  platform::ConsoleCalls saved_;
};

// ---------------------------------------------------------------------------
// Buffer boundary: a text arriving with little room left in the buffer.

TEST_F(ConsoleOutputTest, TextCrossingTheBufferEdge) {
  struct Row {
    int line;
    int room;                        // bytes free before the text
    std::size_t text;                // length of the text
    std::vector<uint32_t> during;    // writes made by the text
    std::vector<uint32_t> at_flush;  // writes made by flush_output afterwards
  };
  const Row rows[] = {
      {__LINE__, 0, 0, {128}, {}},
      {__LINE__, 0, 1, {128}, {1}},
      {__LINE__, 0, 130, {128, 128}, {2}},
      {__LINE__, 1, 0, {}, {127}},
      {__LINE__, 1, 1, {128}, {}},
      {__LINE__, 1, 2, {128}, {1}},
      {__LINE__, 2, 1, {}, {127}},
      {__LINE__, 2, 2, {128}, {}},
      {__LINE__, 2, 3, {128}, {1}},
      {__LINE__, 3, 2, {}, {127}},
      {__LINE__, 3, 3, {128}, {}},
      {__LINE__, 3, 4, {128}, {1}},
      {__LINE__, 4, 3, {}, {127}},
      {__LINE__, 4, 4, {128}, {}},
      {__LINE__, 4, 5, {128}, {1}},
      {__LINE__, 10, 9, {}, {127}},
      {__LINE__, 10, 10, {128}, {}},
      {__LINE__, 10, 138, {128, 128}, {}},
      {__LINE__, 10, 139, {128, 128}, {1}},
      {__LINE__, 128, 128, {128}, {}},
      {__LINE__, 128, 300, {128, 128}, {44}},
      {__LINE__, 128, 127, {}, {127}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    console_output_reset();
    out_ = FakeOutput{};
    // write_char is the only way to leave the buffer completely full.
    std::string before = pattern(128 - row.room, 1);
    for (char c : before) write_char(c);
    ASSERT_TRUE(out_.write_sizes.empty());
    std::string text = pattern(row.text, 2);
    write_text(text);
    EXPECT_EQ(out_.write_sizes, row.during);
    out_.write_sizes.clear();
    flush_output();
    EXPECT_EQ(out_.write_sizes, row.at_flush);
    EXPECT_EQ(out_.delivered, before + text);
    EXPECT_EQ(take_pending_io_result(), 0);
  }
}

TEST_F(ConsoleOutputTest, CharacterCrossingTheBufferEdge) {
  struct Row {
    int line;
    int room;
    std::vector<uint32_t> during;
    std::vector<uint32_t> at_flush;
  };
  // A byte that fills the buffer waits there; the next one sends it first.
  const Row rows[] = {
      {__LINE__, 0, {128}, {1}},
      {__LINE__, 1, {}, {128}},
      {__LINE__, 2, {}, {127}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    console_output_reset();
    out_ = FakeOutput{};
    std::string before = pattern(128 - row.room, 3);
    write_text(before.substr(0, 100));
    for (char c : before.substr(100)) write_char(c);
    ASSERT_TRUE(out_.write_sizes.empty());
    write_char('\xE9');
    EXPECT_EQ(out_.write_sizes, row.during);
    out_.write_sizes.clear();
    flush_output();
    EXPECT_EQ(out_.write_sizes, row.at_flush);
    EXPECT_EQ(out_.delivered, before + '\xE9');
  }
}

// ---------------------------------------------------------------------------
// Flushing by handle type.

TEST_F(ConsoleOutputTest, LineEndSendsTheLineOnlyOnACharacterDevice) {
  struct Row {
    int line;
    FileType type;
    std::vector<std::string> lines;
    std::vector<uint32_t> during;    // writes while the lines are written
    std::vector<uint32_t> at_close;  // writes by close_output
  };
  const std::string line20 = "12.34568 and more xx";
  const std::string line126(126, 'u');
  const Row rows[] = {
      {__LINE__, FileType::pipe, {line20}, {}, {22}},
      {__LINE__, FileType::disk, {line20}, {}, {22}},
      {__LINE__, static_cast<FileType>(0x8000), {line20}, {}, {22}},  // remote file
      {__LINE__, FileType::character, {line20}, {22}, {}},
      {__LINE__, FileType::character, {line20, "ab"}, {22, 4}, {}},
      {__LINE__, FileType::character, {""}, {2}, {}},
      // The line end fills the buffer exactly and goes out with it.
      {__LINE__, FileType::pipe, {line126}, {128}, {}},
      {__LINE__, FileType::pipe, {line126, line20}, {128}, {22}},
      {__LINE__, FileType::pipe, {std::string(127, 'v')}, {128}, {1}},
      {__LINE__, FileType::pipe, {std::string(128, 'w')}, {128}, {2}},
      {__LINE__, FileType::character, {std::string(128, 'w')}, {128, 2}, {}},
      {__LINE__, FileType::character, {std::string(300, 'y')}, {128, 128, 46}, {}},
      {__LINE__, FileType::disk, {std::string(300, 'y')}, {128, 128}, {46}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    console_output_reset();
    out_ = FakeOutput{};
    out_.type = row.type;
    std::string expected;
    for (const std::string& l : row.lines) {
      write_text(l);
      write_line_end();
      check_io();
      expected += l + "\r\n";
    }
    EXPECT_EQ(out_.write_sizes, row.during);
    out_.write_sizes.clear();
    close_output();
    EXPECT_EQ(out_.write_sizes, row.at_close);
    EXPECT_EQ(out_.delivered, expected);
    EXPECT_EQ(out_.opens, 1);
    EXPECT_EQ(take_pending_io_result(), 0);
  }
}

TEST_F(ConsoleOutputTest, BytesPassUnchanged) {
  out_.type = FileType::character;
  const std::string text("a\0b\xE9\xFF\x80\r\n", 8);
  write_text(text);
  write_char('\0');
  write_char('\xA4');
  write_line_end();
  EXPECT_EQ(out_.delivered, text + std::string("\0\xA4\r\n", 4));
}

TEST_F(ConsoleOutputTest, EmptyTextOpensButWritesNothing) {
  write_text("");
  EXPECT_EQ(out_.opens, 1);
  EXPECT_FALSE(console_output_has_pending_bytes());
  write_line_end();
  EXPECT_TRUE(console_output_has_pending_bytes());
  close_output();
  EXPECT_EQ(out_.delivered, "\r\n");
  EXPECT_FALSE(console_output_has_pending_bytes());
}

TEST_F(ConsoleOutputTest, ClosedStreamIsNotOpenedByFlushOrClose) {
  flush_output();
  close_output();
  EXPECT_EQ(out_.opens, 0);
  EXPECT_TRUE(out_.write_sizes.empty());
  EXPECT_EQ(take_pending_io_result(), 0);
  EXPECT_FALSE(run_check_io().raised);
}

// ---------------------------------------------------------------------------
// Failures.

TEST_F(ConsoleOutputTest, MessageByErrorNumber) {
  struct Row {
    int line;
    uint32_t error;
    int code;
    const char* message;
  };
  const Row rows[] = {
      {__LINE__, 2, 2, "File not found"},
      {__LINE__, 3, 3, "Invalid filename"},
      {__LINE__, 4, 4, "Too many open files"},
      {__LINE__, 5, 5, "File access denied"},
      {__LINE__, 100, 100, "Read beyond end of file"},
      {__LINE__, 101, 101, "Disk full"},
      {__LINE__, 106, 106, "Invalid numeric input"},
      {__LINE__, 1, 1, "I/O error 1"},
      {__LINE__, 6, 6, "I/O error 6"},
      {__LINE__, 28, 28, "I/O error 28"},
      {__LINE__, 32, 32, "I/O error 32"},
      {__LINE__, 102, 102, "I/O error 102"},
      {__LINE__, 105, 105, "I/O error 105"},
      {__LINE__, 107, 107, "I/O error 107"},
      {__LINE__, 1784, 1784, "I/O error 1784"},
      {__LINE__, 0x80000001u, -2147483647, "I/O error -2147483647"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    console_output_reset();
    out_ = FakeOutput{};
    out_.type = FileType::character;
    out_.fail[0] = row.error;
    write_text("x");
    write_line_end();
    Caught c = run_check_io();
    ASSERT_TRUE(c.raised);
    EXPECT_EQ(c.kind, "EInOutError");
    EXPECT_EQ(c.code, row.code);
    EXPECT_EQ(c.message, row.message);
    EXPECT_EQ(take_pending_io_result(), 0);
    EXPECT_FALSE(run_check_io().raised);
  }
}

// A line whose pieces fail: the writes go on, the line's check raises the
// last failure, and no byte is sent twice or out of order.
TEST_F(ConsoleOutputTest, FailureInsideALineRaisesOnlyAtItsCheck) {
  struct Row {
    int line;
    FileType type;
    std::map<std::size_t, uint32_t> fail;  // write call index -> error code
    int code;                              // raised by the failing line's check
    std::string delivered;                 // everything that reached the handle
  };
  const std::string first = "first line\r\n";
  const std::string a = pattern(200, 4), b = pattern(130, 5);
  const std::string tail = "tail\r\n", next = "next\r\n";
  const Row rows[] = {
      // A's first block fails (rest of A dropped), B's block fails again
      // (rest of B dropped); the tail goes out at the line end.
      {__LINE__, FileType::character, {{1, 5}, {2, 112}}, 112, first + tail + next},
      // A's block fails, then the line end's write: the later number wins.
      {__LINE__, FileType::character, {{1, 5}, {3, 110}}, 110, first + b.substr(0, 128) + next},
      // Only A's block fails: B and the tail go out.
      {__LINE__, FileType::character, {{1, 5}}, 5, first + b + tail + next},
      // Only the line end's write fails: the blocks sent before it stay.
      {__LINE__, FileType::character, {{3, 32}}, 32, first + a + b.substr(0, 56) + next},
      // Pipe: the failing block holds the first line and the start of A.
      {__LINE__, FileType::pipe, {{0, 109}}, 109, b + tail + next},
      {__LINE__, FileType::disk, {{1, 28}}, 28, first + a.substr(0, 116) + tail + next},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    console_output_reset();
    out_ = FakeOutput{};
    out_.type = row.type;
    out_.fail = row.fail;
    write_text("first line");
    write_line_end();
    EXPECT_FALSE(run_check_io().raised);

    write_text(a);
    write_text(b);
    write_char('t');
    write_text("ail");
    write_line_end();
    Caught c = run_check_io();
    ASSERT_TRUE(c.raised);
    EXPECT_EQ(c.code, row.code);
    EXPECT_EQ(c.message, in_out_error_message(row.code));

    write_text("next");
    write_line_end();
    EXPECT_FALSE(run_check_io().raised);
    close_output();
    EXPECT_EQ(out_.delivered, row.delivered);
    EXPECT_EQ(take_pending_io_result(), 0);
  }
}

TEST_F(ConsoleOutputTest, NoStandardOutput) {
  struct Row {
    int line;
    FileHandle handle;
    FileType type;
    bool closes;
  };
  const Row rows[] = {
      {__LINE__, platform::kInvalidHandle, FileType::disk, false},
      {__LINE__, 0, FileType::unknown, true},  // a null handle
      {__LINE__, 9, FileType::unknown, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    console_output_reset();
    out_ = FakeOutput{};
    out_.handle = row.handle;
    out_.type = row.type;
    write_text("lost");
    write_char('!');
    write_line_end();
    flush_output();  // the stream is closed again: nothing to do
    Caught c = run_check_io();
    ASSERT_TRUE(c.raised);
    EXPECT_EQ(c.kind, "EInOutError");
    EXPECT_EQ(c.code, 105);
    EXPECT_EQ(c.message, "I/O error 105");
    EXPECT_EQ(out_.opens, 3);  // every write tries the whole open again
    EXPECT_TRUE(out_.write_sizes.empty());
    EXPECT_EQ(out_.closed,
              row.closes ? std::vector<FileHandle>(3, row.handle) : std::vector<FileHandle>{});
    EXPECT_FALSE(console_output_has_pending_bytes());

    // A usable handle later: the next line goes out whole, nothing of the
    // dropped one.
    out_.handle = 7;
    out_.type = FileType::character;
    write_text("ok");
    write_line_end();
    EXPECT_FALSE(run_check_io().raised);
    EXPECT_EQ(out_.delivered, "ok\r\n");
  }
}

TEST_F(ConsoleOutputTest, FailureAtTheEndStepIsSilent) {
  const std::string line20(20, 'r');
  out_.fail[0] = 32;
  write_text(line20);
  write_line_end();
  EXPECT_FALSE(run_check_io().raised);
  EXPECT_NO_THROW(close_output());
  EXPECT_EQ(out_.write_sizes, std::vector<uint32_t>{22});
  EXPECT_EQ(out_.delivered, "");
  EXPECT_FALSE(console_output_has_pending_bytes());
}

TEST_F(ConsoleOutputTest, PendingNumberSurvivesLaterSuccess) {
  out_.type = FileType::character;
  out_.fail[0] = 5;
  write_text("a");
  write_line_end();  // fails
  write_text("b");
  write_line_end();  // succeeds
  flush_output();
  Caught c = run_check_io();
  ASSERT_TRUE(c.raised);
  EXPECT_EQ(c.code, 5);
  EXPECT_EQ(out_.delivered, "b\r\n");
}

// A writer whose only work is the check; the barrier keeps the call from
// becoming a jump, so the check's return address lies inside this function.
__attribute__((noinline)) void writer_check() {
  check_io();
  asm volatile("");
}

TEST_F(ConsoleOutputTest, LocationIsTheWritersCheck) {
  restore_pending_io_result(2);
  const void* location = nullptr;
  try {
    writer_check();
  } catch (Exception* e) {
    location = e->location();
    delete e;
  }
  auto start = reinterpret_cast<uintptr_t>(&writer_check);
  auto at = reinterpret_cast<uintptr_t>(location);
  EXPECT_GT(at, start);
  EXPECT_LT(at, start + 64);
}

}  // namespace
