// Whole runs of the program's lifecycle in a child process: start and end
// steps, the report of a failure or a fault, the fallback line.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <new>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "failure/failure.h"
#include "platform/console.h"
#include "runtime/console_output.h"
#include "runtime/program.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace {

using test_support::program_name;

// --- The whole program in a child process (where one can be forked) ------------

struct ChildRun {
  std::string out, err;
  test_support::ChildOutcome outcome;
};

bool run_child(void (*body)(void*), void* argument, ChildRun& run) {
  static char out[8192];
  static char err[8192];
  if (!test_support::run_in_child(body, argument, out, sizeof out, err, sizeof err, &run.outcome))
    return false;
  run.out = out;
  run.err = err;
  return true;
}

[[noreturn]] void start_program(void (*check_run)(),
                                std::initializer_list<ModuleSteps> modules = {},
                                FailureEnding ending = nullptr) {
  static char name[] = "vantric";
  static char* argv[] = {name, nullptr};
  program_main(1, argv, check_run, modules, ending);
}

// A program's own ending: the text on standard output, then status 3.
void own_ending(const char* text, std::size_t length, int32_t) {
  ::_exit(::write(1, text, length) < 0 ? 4 : 3);
}

void write_line(const char* text) {
  write_text(text);
  write_line_end();
  check_io();
}

__attribute__((noinline)) int divide(int a, int b) {
  volatile int dividend = a;
  volatile int divisor = b;
  const int quotient = dividend / divisor;
  // Division does not trap on every processor (ARM gives 0); there the
  // fault is raised the way those processors' runtimes raise it.
  if (divisor == 0) std::raise(SIGFPE);
  return quotient;
}
// Deep enough to use up any stack; the volatile frame keeps it from becoming a loop.
__attribute__((noinline)) int recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth < 0) return 0;
  return recurse(depth + 1) + frame[0];
}

struct ProgramRow {
  int line;
  void (*check_run)();
  std::initializer_list<ModuleSteps> modules;
  int32_t status;
  std::string out;
  std::string err_pattern;
  FailureEnding ending = nullptr;
};

void run_program_row(void* argument) {
  const auto* row = static_cast<const ProgramRow*>(argument);
  start_program(row->check_run, row->modules, row->ending);
}

void expect_endings(const std::vector<ProgramRow>& rows) {
  for (const ProgramRow& row : rows) {
    SCOPED_TRACE(row.line);
    ChildRun run;
    ASSERT_TRUE(run_child(&run_program_row, const_cast<ProgramRow*>(&row), run));
    EXPECT_TRUE(run.outcome.exited) << "signal " << run.outcome.status;
    EXPECT_EQ(run.outcome.status, row.status) << run.out << run.err;
    if (!row.out.empty() && row.out[0] == '^') {
      EXPECT_TRUE(std::regex_search(run.out, std::regex(row.out))) << run.out;
    } else {
      EXPECT_EQ(run.out, row.out);
    }
    if (row.err_pattern.empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_TRUE(std::regex_match(run.err, std::regex(row.err_pattern))) << run.err;
    }
  }
}

const std::string hex = "[0-9A-F]{8}";

TEST(Program, EndsAsTheRowSays) {
  const std::string module = program_name();
  expect_endings({
      {__LINE__,
       [] {
         write_line("12.34568");
         exit_status = 2;
       },
       {},
       2,
       "12.34568\r\n",
       ""},
      {__LINE__,
       [] {
         write_line("12.34568");
         exit_status = 2;
         raise_convert_error("'%s' is not a valid integer value", "abc");
       },
       {},
       1,
       "12.34568\r\n",
       "Exception EConvertError in module " + module + " at " + hex +
           "\\.\r\n'abc' is not a valid integer value\\.\r\n\r\n"},
      {__LINE__,
       [] { throw std::bad_alloc(); },
       {},
       1,
       "",
       "Exception EOutOfMemory in module " + module +
           " at 00000000\\.\r\nOut of memory\\.\r\n\r\n"},
      {__LINE__,
       [] { throw std::out_of_range("at"); },
       {},
       1,
       "",
       "Exception ERangeError in module " + module +
           " at 00000000\\.\r\nRange check error\\.\r\n\r\n"},
      {__LINE__,
       [] { throw 42; },
       {},
       1,
       "",
       "Exception EExternalException in module " + module +
           " at 00000000\\.\r\nExternal exception 20474343\\.\r\n\r\n"},
      {__LINE__,
       [] { write_text("run "); },
       {{[] { write_text("s1 "); }, [] { write_text("e1 "); }},
        {[] { write_text("s2 "); }, [] { write_text("e2 "); }}},
       0,
       "s1 s2 run e2 e1 ",
       ""},
      // A failing end step: the others still run; the family is gone by then,
      // so the run ends as runtime error 217 on standard output.
      {__LINE__,
       [] { write_text("run "); },
       {{nullptr, [] { write_text("e1 "); }},
        {nullptr,
         [] { raise_failure(new EConvertError("x"), reinterpret_cast<const void*>(0x1A2B)); }},
        {nullptr, [] { write_text("e3 "); }}},
       217,
       "run e3 e1 Runtime error 217 at 00001A2B\r\n",
       ""},
      // Without the family: a runtime error ends with its number, a failure
      // with 217, both after the buffered output.
      {__LINE__,
       [] { write_text("run "); },
       {{[] { uninstall_failure_family(); }, nullptr},
        {nullptr,
         [] {
           raise_runtime_error(RuntimeError::int_divide_by_zero,
                               reinterpret_cast<const void*>(0x1A2B));
         }}},
       200,
       "run Runtime error 200 at 00001A2B\r\n",
       ""},
      {__LINE__,
       [] {
         write_text("run ");
         uninstall_failure_family();
         raise_convert_error("'%s'", "x");
       },
       {},
       217,
       "^run Runtime error 217 at [0-9A-F]{8}([0-9A-F]{8})?\r\n$",
       ""},
      // The program's own ending gets the runtime error line instead.
      {__LINE__,
       [] {
         uninstall_failure_family();
         raise_runtime_error(RuntimeError::range_check, reinterpret_cast<const void*>(0x1A2B));
       },
       {},
       3,
       "Runtime error 201 at 00001A2B",
       "",
       &own_ending},
  });
}

// Faults provoked on purpose; the sanitizer build leaves these out, since
// its own checks stop the program before the fault is reached.
TEST(ProgramFault, EndsAsTheRowSays) {
  const std::string module = program_name();
  expect_endings({
      {__LINE__,
       [] { *static_cast<volatile int*>(nullptr) = 1; },
       {},
       1,
       "",
       "Exception EAccessViolation in module " + module + " at " + hex +
           "\\.\r\nAccess violation at address [0-9A-F]+ in module '" + module +
           "'\\. Write of address 00000000\\.\r\n\r\n"},
      {__LINE__,
       [] {
         write_line("before");
         exit_status = divide(1, 0);
       },
       {},
       1,
       "before\r\n",
       "Exception EDivByZero in module " + module + " at " + hex +
           "\\.\r\nDivision by zero\\.\r\n\r\n"},
      {__LINE__,
       [] { exit_status = recurse(0); },
       {},
       1,
       "",
       "Exception EStackOverflow in module " + module + " at " + hex +
           "\\.\r\nStack overflow\\.\r\n\r\n"},
      {__LINE__,
       [] { ::raise(SIGINT); },
       {},
       1,
       "",
       "Exception EControlC in module [^ ]+ at " + hex + "\\.\r\nControl-C hit\\.\r\n\r\n"},
      // A fault before the family is installed: the fallback line.
      {__LINE__,
       [] {},
       {{[] {
           uninstall_failure_family();
           *static_cast<volatile int*>(nullptr) = 1;
         },
         nullptr}},
       216,
       "^Runtime error 216 at [0-9A-F]+\r\n$",
       ""},
  });
}

// The report's own flush fails: the output failure is what gets reported.
bool failing_write(platform::FileHandle, const void*, uint32_t, uint32_t*) { return false; }
uint32_t broken_pipe() { return 32; }

void run_with_failing_output(void* raise_fault) {
  platform::console_calls().file_type = [](platform::FileHandle) {
    return platform::FileType::pipe;
  };
  platform::console_calls().write_file = &failing_write;
  platform::console_calls().last_error = &broken_pipe;
  if (raise_fault != nullptr) {
    start_program([] {
      write_text("12.34568");
      write_line_end();
      check_io();
      *static_cast<volatile int*>(nullptr) = 1;
    });
  }
  start_program([] {
    write_line("12.34568");
    raise_convert_error("'%s' is not a valid integer value", "abc");
  });
}

void expect_output_failure_reported(void* raise_fault) {
  const std::string pattern = "Exception EInOutError in module " + program_name() +
                              " at [0-9A-F]{8}\\.\r\nI/O error 32\\.\r\n\r\n";
  ChildRun run;
  ASSERT_TRUE(run_child(&run_with_failing_output, raise_fault, run));
  EXPECT_TRUE(run.outcome.exited);
  EXPECT_EQ(run.outcome.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(std::regex_match(run.err, std::regex(pattern))) << run.err;
}

// Under the leak checker this also shows that the failure whose report was
// displaced is released.
TEST(Program, OutputFailureIsReportedInstead) { expect_output_failure_reported(nullptr); }

TEST(ProgramFault, OutputFailureIsReportedInstead) {
  expect_output_failure_reported(reinterpret_cast<void*>(1));
}

}  // namespace
