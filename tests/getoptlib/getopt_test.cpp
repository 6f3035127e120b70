#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "failure/failure.h"
#include "getoptlib/getoptlib.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "runtime/console_output.h"
#include "tests/support/test_support.h"

namespace {

using getoptlib::argvarray;
using Texts = std::vector<std::string>;

const char kProgramText[] = "C:I:P:c:w:f:h";

// ------------------------------------------------------------ harness --

std::string captured;
uint32_t injected_error = 0;  // nonzero: every write fails with it

// Standard output replaced by a capture that behaves like a console, so
// each diagnostic line goes out at its line end.
class CapturedOutput {
 public:
  CapturedOutput() : saved_(platform::console_calls()) {
    platform::ConsoleCalls& calls = platform::console_calls();
    calls.std_output_handle = [] { return platform::FileHandle{7}; };
    calls.file_type = [](platform::FileHandle) { return platform::FileType::character; };
    calls.write_file = [](platform::FileHandle, const void* data, uint32_t size,
                          uint32_t* written) {
      if (injected_error != 0) return false;
      captured.append(static_cast<const char*>(data), size);
      *written = size;
      return true;
    };
    calls.close_handle = [](platform::FileHandle) {};
    calls.last_error = [] { return injected_error; };
    console_output_reset();
    captured.clear();
    injected_error = 0;
  }
  ~CapturedOutput() {
    console_output_reset();
    platform::console_calls() = saved_;
    injected_error = 0;
  }
  std::string text() {
    flush_output();
    return captured;
  }

 private:
  platform::ConsoleCalls saved_;
};

// POSIXLY_CORRECT as a row wants it, restored afterwards.
class Environment {
 public:
  explicit Environment(const char* posixly_correct) {
    std::string value;
    if (platform::get_environment("POSIXLY_CORRECT", value)) saved_ = value;
    test_support::set_environment("POSIXLY_CORRECT", posixly_correct);
  }
  ~Environment() {
    test_support::set_environment("POSIXLY_CORRECT", saved_ ? saved_->c_str() : nullptr);
  }

 private:
  std::optional<std::string> saved_;
};

struct Step {
  int32_t result;
  std::string optarg;
  char optopt;
  bool operator==(const Step&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Step& step) {
  return out << "{" << step.result << ", \"" << step.optarg << "\", " << int(step.optopt) << "}";
}

argvarray vector_of(const Texts& args) {
  argvarray argv = {"PROG"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back("");
  return argv;
}

// Long-option table for the long rows. "colorize" stands before "color" so
// that an exact match wins after an earlier prefix match.
int32_t flag_target = 0;
const getoptlib::option long_table[] = {
    {"verbose", 0, nullptr, 'V'}, {"version", 0, nullptr, 'R'}, {"colorize", 0, nullptr, 'Z'},
    {"color", 2, nullptr, 'K'},   {"file", 1, nullptr, 'F'},    {"flag", 0, &flag_target, 9},
    {"", 0, nullptr, 0},          {"hidden", 0, nullptr, 'H'},  // after the terminator: unread
};

enum class Table { none, long_table, single_dash_long };

struct ScanRow {
  int line;
  Texts args;  // elements 1 onward
  std::string option_text;
  const char* posixly_correct;  // nullptr: not set
  std::vector<Step> steps;      // every result before the -1
  int32_t final_optind;
  Texts final_args;  // elements 1 onward after the scan
  std::string diagnostics;
  Table table = Table::none;
  bool opterr = true;
};

struct ScanOutcome {
  std::vector<Step> steps;
  int32_t final_optind = 0;
  argvarray final_argv;
};

int32_t scan_once(argvarray& argv, int32_t argc, const std::string& option_text, Table table) {
  static int32_t long_index;
  switch (table) {
    case Table::none:
      return getoptlib::getopt(argc, argv, option_text);
    case Table::long_table:
      return getoptlib::scan_options(argc, argv, option_text, long_table, long_index, false);
    case Table::single_dash_long:
      return getoptlib::scan_options(argc, argv, option_text, long_table, long_index, true);
  }
  return -1;
}

// Scans until -1 (or a bound that only a runaway scan reaches).
ScanOutcome scan_all(argvarray argv, int32_t argc, const std::string& option_text, Table table) {
  ScanOutcome outcome;
  for (int calls = 0; calls < 1000; ++calls) {
    int32_t result = scan_once(argv, argc, option_text, table);
    if (result == -1) {
      EXPECT_EQ(getoptlib::optarg, "");
      outcome.final_optind = getoptlib::optind;
      outcome.final_argv = argv;
      return outcome;
    }
    outcome.steps.push_back({result, getoptlib::optarg, getoptlib::optopt});
  }
  ADD_FAILURE() << "the scan did not end";
  return outcome;
}

void start_scan(bool opterr = true) {
  getoptlib::optind = 0;
  getoptlib::opterr = opterr;
  getoptlib::optopt = '?';
}

void run_rows(const std::vector<ScanRow>& rows) {
  for (const ScanRow& row : rows) {
    SCOPED_TRACE(row.line);
    CapturedOutput output;
    Environment environment(row.posixly_correct);
    start_scan(row.opterr);
    argvarray argv = vector_of(row.args);
    ScanOutcome outcome =
        scan_all(argv, static_cast<int32_t>(row.args.size()) + 1, row.option_text, row.table);
    EXPECT_EQ(outcome.steps, row.steps);
    EXPECT_EQ(outcome.final_optind, row.final_optind);
    EXPECT_EQ(outcome.final_argv, vector_of(row.final_args));
    EXPECT_EQ(output.text(), row.diagnostics);
  }
}

constexpr char Q = '?';

// -------------------------------------------------------------- short --

TEST(ScanShortOptions, ClustersArgumentsAndDiagnostics) {
  const std::string p = kProgramText;
  run_rows({
      {__LINE__, {}, p, nullptr, {}, 1, {}, ""},
      {__LINE__,
       {"-C", "Proc", "-P", "x"},
       p,
       nullptr,
       {{'C', "Proc", Q}, {'P', "x", Q}},
       5,
       {"-C", "Proc", "-P", "x"},
       ""},
      {__LINE__, {"-CProc"}, p, nullptr, {{'C', "Proc", Q}}, 2, {"-CProc"}, ""},
      {__LINE__,
       {"-hC", "Proc"},
       p,
       nullptr,
       {{'h', "", Q}, {'C', "Proc", Q}},
       3,
       {"-hC", "Proc"},
       ""},
      {__LINE__, {"-c", "-w"}, p, nullptr, {{'c', "-w", Q}}, 3, {"-c", "-w"}, ""},
      {__LINE__, {"-C", "--"}, p, nullptr, {{'C', "--", Q}}, 3, {"-C", "--"}, ""},
      {__LINE__, {"-h", "-C"}, p, nullptr, {{'h', "", Q}, {'?', "", 'C'}}, 3, {"-h", "-C"}, ""},
      {__LINE__, {"-x"}, p, nullptr, {{'?', "", 'x'}}, 2, {"-x"}, "PROG: invalid option -- x\r\n"},
      {__LINE__,
       {"-xh"},
       p,
       nullptr,
       {{'?', "", 'x'}, {'h', "", 'x'}},
       2,
       {"-xh"},
       "PROG: invalid option -- x\r\n"},
      {__LINE__, {"-:"}, p, nullptr, {{'?', "", ':'}}, 2, {"-:"}, "PROG: invalid option -- :\r\n"},
      {__LINE__,
       {"--foo"},
       p,
       nullptr,
       {{'?', "", '-'}, {'f', "oo", '-'}},
       2,
       {"--foo"},
       "PROG: invalid option -- -\r\n"},
      {__LINE__,
       {"-x", "-y"},
       p,
       nullptr,
       {{'?', "", 'x'}, {'?', "", 'y'}},
       3,
       {"-x", "-y"},
       "PROG: invalid option -- x\r\nPROG: invalid option -- y\r\n"},
      {__LINE__, {"-x"}, p, nullptr, {{'?', "", 'x'}}, 2, {"-x"}, "", Table::none, false},
      // Bytes above 127 are characters like any other, results 128 to 255.
      {__LINE__,
       {"-\xe9"},
       p,
       nullptr,
       {{'?', "", '\xe9'}},
       2,
       {"-\xe9"},
       "PROG: invalid option -- \xe9\r\n"},
      {__LINE__,
       {"-\xe9"
        "v"},
       "\xe9:",
       nullptr,
       {{0xe9, "v", Q}},
       2,
       {"-\xe9"
        "v"},
       ""},
  });
}

TEST(ScanShortOptions, ArgumentKindsAndLeadingColon) {
  run_rows({
      {__LINE__, {"-C"}, ":C:h", nullptr, {{':', "", 'C'}}, 2, {"-C"}, ""},
      {__LINE__,
       {"-x"},
       ":C:h",
       nullptr,
       {{'?', "", 'x'}},
       2,
       {"-x"},
       "PROG: invalid option -- x\r\n"},
      // Optional argument: only from the same element.
      {__LINE__, {"-Cx"}, "C::h", nullptr, {{'C', "x", Q}}, 2, {"-Cx"}, ""},
      {__LINE__, {"-C", "y"}, "C::h", nullptr, {{'C', "", Q}}, 2, {"-C", "y"}, ""},
      {__LINE__, {"-hC"}, "C::h", nullptr, {{'h', "", Q}, {'C', "", Q}}, 2, {"-hC"}, ""},
      // The order mark is not an option character on any call, and a ':'
      // after it still selects the ':' result.
      {__LINE__,
       {"-h", "-C"},
       "+:C:h",
       nullptr,
       {{'h', "", Q}, {':', "", 'C'}},
       3,
       {"-h", "-C"},
       ""},
      {__LINE__,
       {"-h", "-+"},
       "+C:h",
       nullptr,
       {{'h', "", Q}, {'?', "", '+'}},
       3,
       {"-h", "-+"},
       "PROG: invalid option -- +\r\n"},
      {__LINE__,
       {"-h", "-C"},
       "-:C:h",
       nullptr,
       {{'h', "", Q}, {':', "", 'C'}},
       3,
       {"-h", "-C"},
       ""},
  });
}

TEST(ScanShortOptions, EmptyElementsAreOperandsOrEmptyArguments) {
  const std::string p = kProgramText;
  run_rows({
      {__LINE__, {"", "-h"}, p, nullptr, {{'h', "", Q}}, 2, {"-h", ""}, ""},
      {__LINE__, {"-C", ""}, p, nullptr, {{'C', "", Q}}, 3, {"-C", ""}, ""},
      {__LINE__,
       {"-C", "", "", "-h"},
       p,
       nullptr,
       {{'C', "", Q}, {'h', "", Q}},
       4,
       {"-C", "", "-h", ""},
       ""},
      {__LINE__,
       {"", "-h", ""},
       "-C:h",
       nullptr,
       {{1, "", Q}, {'h', "", Q}, {1, "", Q}},
       4,
       {"", "-h", ""},
       ""},
      {__LINE__, {""}, "+C:h", nullptr, {}, 1, {""}, ""},
  });
}

// --------------------------------------------------------- scan order --

TEST(ScanOrder, PermuteStopOrReturnOperands) {
  const std::string p = kProgramText;
  run_rows({
      // Default: operands move behind the options, each block in its order.
      {__LINE__,
       {"a", "b", "-h", "d", "-I", "z", "e"},
       p,
       nullptr,
       {{'h', "", Q}, {'I', "z", Q}},
       4,
       {"-h", "-I", "z", "a", "b", "d", "e"},
       ""},
      {__LINE__, {"-", "-C", "x"}, p, nullptr, {{'C', "x", Q}}, 3, {"-C", "x", "-"}, ""},
      {__LINE__, {"--", "-C", "x"}, p, nullptr, {}, 2, {"--", "-C", "x"}, ""},
      {__LINE__,
       {"-C", "a", "x", "--", "-P", "b"},
       p,
       nullptr,
       {{'C', "a", Q}},
       4,
       {"-C", "a", "--", "x", "-P", "b"},
       ""},
      {__LINE__,
       {"x", "y", "-h", "--", "-P"},
       p,
       nullptr,
       {{'h', "", Q}},
       3,
       {"-h", "--", "x", "y", "-P"},
       ""},
      {__LINE__, {"-h", "--"}, p, nullptr, {{'h', "", Q}}, 3, {"-h", "--"}, ""},
      {__LINE__,
       {"x", "-h", "--", "--"},
       p,
       nullptr,
       {{'h', "", Q}},
       3,
       {"-h", "--", "x", "--"},
       ""},
      {__LINE__,
       {"a", "-x", "b", "-C"},
       p,
       nullptr,
       {{'?', "", 'x'}, {'?', "", 'C'}},
       3,
       {"-x", "-C", "a", "b"},
       "PROG: invalid option -- x\r\n"},
      // POSIXLY_CORRECT: stop at the first operand, "illegal" wording.
      {__LINE__, {"x", "-C", "a"}, p, "1", {}, 1, {"x", "-C", "a"}, ""},
      {__LINE__, {"-h", "x", "-C", "a"}, p, "yes", {{'h', "", Q}}, 2, {"-h", "x", "-C", "a"}, ""},
      {__LINE__, {"-x"}, p, "1", {{'?', "", 'x'}}, 2, {"-x"}, "PROG: illegal option -- x\r\n"},
      // An empty value counts as absent.
      {__LINE__, {"x", "-C", "a"}, p, "", {{'C', "a", Q}}, 3, {"-C", "a", "x"}, ""},
      {__LINE__, {"-x"}, p, "", {{'?', "", 'x'}}, 2, {"-x"}, "PROG: invalid option -- x\r\n"},
      // '+': stop at the first operand whatever the environment says.
      {__LINE__,
       {"-h", "x", "-C", "a"},
       "+C:h",
       nullptr,
       {{'h', "", Q}},
       2,
       {"-h", "x", "-C", "a"},
       ""},
      {__LINE__, {"--", "x"}, "+C:h", nullptr, {}, 2, {"--", "x"}, ""},
      // '-': operands are results of their own (1), nothing moves.
      {__LINE__,
       {"a", "-h", "b", "-Cc", "d"},
       "-C:h",
       nullptr,
       {{1, "a", Q}, {'h', "", Q}, {1, "b", Q}, {'C', "c", Q}, {1, "d", Q}},
       6,
       {"a", "-h", "b", "-Cc", "d"},
       ""},
      {__LINE__,
       {"a", "--", "-h", "b"},
       "-C:h",
       nullptr,
       {{1, "a", Q}},
       3,
       {"a", "--", "-h", "b"},
       ""},
      {__LINE__, {"-x"}, "-C:h", "1", {{'?', "", 'x'}}, 2, {"-x"}, "PROG: illegal option -- x\r\n"},
  });
}

TEST(ScanOrder, ManyArgumentsAllKeptAndOrdered) {
  CapturedOutput output;
  Environment environment(nullptr);
  Texts args, options, operands;
  std::vector<Step> expected;
  for (int i = 0; i < 150; ++i) {
    std::string operand = "op" + std::to_string(i);
    args.push_back(operand);
    operands.push_back(operand);
    if (i % 3 == 0) {
      std::string value = "v" + std::to_string(i);
      args.insert(args.end(), {"-C", value});
      options.insert(options.end(), {"-C", value});
      expected.push_back({'C', value, Q});
    } else if (i % 3 == 1) {
      args.push_back("-h");
      options.push_back("-h");
      expected.push_back({'h', "", Q});
    }
  }
  ASSERT_GT(args.size(), 63u);
  start_scan();
  ScanOutcome outcome =
      scan_all(vector_of(args), static_cast<int32_t>(args.size()) + 1, kProgramText, Table::none);
  Texts final_args = options;
  final_args.insert(final_args.end(), operands.begin(), operands.end());
  EXPECT_EQ(outcome.steps, expected);
  EXPECT_EQ(outcome.final_optind, static_cast<int32_t>(options.size()) + 1);
  EXPECT_EQ(outcome.final_argv, vector_of(final_args));
}

// --------------------------------------------------------------- long --

TEST(ScanLongOptions, MatchingArgumentsAndDiagnostics) {
  const std::string p = kProgramText;
  const Table L = Table::long_table;
  run_rows({
      {__LINE__, {"--verb"}, p, nullptr, {{'V', "", Q}}, 2, {"--verb"}, "", L},
      {__LINE__, {"--verbose"}, p, nullptr, {{'V', "", Q}}, 2, {"--verbose"}, "", L},
      {__LINE__, {"--vers"}, p, nullptr, {{'R', "", Q}}, 2, {"--vers"}, "", L},
      {__LINE__,
       {"--ver"},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"--ver"},
       "PROG: option `--ver' is ambiguous\r\n",
       L},
      {__LINE__,
       {"--ver=3"},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"--ver=3"},
       "PROG: option `--ver=3' is ambiguous\r\n",
       L},
      {__LINE__,
       {"--verbose=1"},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"--verbose=1"},
       "PROG: option `--verbose' doesn't allow an argument\r\n",
       L},
      {__LINE__,
       {"--verb="},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"--verb="},
       "PROG: option `--verbose' doesn't allow an argument\r\n",
       L},
      {__LINE__,
       {"--quiet"},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"--quiet"},
       "PROG: unrecognized option `--quiet'\r\n",
       L},
      {__LINE__,
       {"--quiet=5"},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"--quiet=5"},
       "PROG: unrecognized option `--quiet=5'\r\n",
       L},
      {__LINE__,
       {"--=x"},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"--=x"},
       "PROG: unrecognized option `--=x'\r\n",
       L},
      {__LINE__,
       {"--hidden"},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"--hidden"},
       "PROG: unrecognized option `--hidden'\r\n",
       L},
      // Exact match wins over an earlier prefix match.
      {__LINE__, {"--color"}, p, nullptr, {{'K', "", Q}}, 2, {"--color"}, "", L},
      {__LINE__,
       {"--colo"},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"--colo"},
       "PROG: option `--colo' is ambiguous\r\n",
       L},
      {__LINE__, {"--colorize"}, p, nullptr, {{'Z', "", Q}}, 2, {"--colorize"}, "", L},
      // Optional argument: only after '='.
      {__LINE__, {"--color=red"}, p, nullptr, {{'K', "red", Q}}, 2, {"--color=red"}, "", L},
      {__LINE__, {"--color", "red"}, p, nullptr, {{'K', "", Q}}, 2, {"--color", "red"}, "", L},
      // Required argument: after '=' or in the next element, whatever it is.
      {__LINE__, {"--file=a=b"}, p, nullptr, {{'F', "a=b", Q}}, 2, {"--file=a=b"}, "", L},
      {__LINE__, {"--fi="}, p, nullptr, {{'F', "", Q}}, 2, {"--fi="}, "", L},
      {__LINE__, {"--file", "-h"}, p, nullptr, {{'F', "-h", Q}}, 3, {"--file", "-h"}, "", L},
      {__LINE__, {"--file", ""}, p, nullptr, {{'F', "", Q}}, 3, {"--file", ""}, "", L},
      {__LINE__, {"--file"}, p, nullptr, {{'?', "", Q}}, 2, {"--file"}, "", L},
      {__LINE__, {"--file"}, ":C:h", nullptr, {{':', "", Q}}, 2, {"--file"}, "", L},
      // Operands still move behind long options and their arguments.
      {__LINE__,
       {"a", "--file", "x", "b", "-h"},
       p,
       nullptr,
       {{'F', "x", Q}, {'h', "", Q}},
       4,
       {"--file", "x", "-h", "a", "b"},
       "",
       L},
      // With the table in use a single dash still means a cluster.
      {__LINE__, {"-hC", "x"}, p, nullptr, {{'h', "", Q}, {'C', "x", Q}}, 3, {"-hC", "x"}, "", L},
  });
}

TEST(ScanLongOptions, SingleDashLongOptions) {
  const std::string p = kProgramText;
  const Table S = Table::single_dash_long;
  run_rows({
      {__LINE__, {"-verbose"}, p, nullptr, {{'V', "", Q}}, 2, {"-verbose"}, "", S},
      {__LINE__, {"--verbose"}, p, nullptr, {{'V', "", Q}}, 2, {"--verbose"}, "", S},
      {__LINE__, {"-h"}, p, nullptr, {{'h', "", Q}}, 2, {"-h"}, "", S},
      {__LINE__, {"-hC", "x"}, p, nullptr, {{'h', "", Q}, {'C', "x", Q}}, 3, {"-hC", "x"}, "", S},
      {__LINE__,
       {"-quiet"},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"-quiet"},
       "PROG: unrecognized option `-quiet'\r\n",
       S},
      {__LINE__,
       {"--hC"},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"--hC"},
       "PROG: unrecognized option `--hC'\r\n",
       S},
      {__LINE__,
       {"-verbose=1"},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"-verbose=1"},
       "PROG: option `-verbose' doesn't allow an argument\r\n",
       S},
      {__LINE__,
       {"-ver"},
       p,
       nullptr,
       {{'?', "", Q}},
       2,
       {"-ver"},
       "PROG: option `-ver' is ambiguous\r\n",
       S},
      {__LINE__, {"-fi", "x"}, p, nullptr, {{'F', "x", Q}}, 3, {"-fi", "x"}, "", S},
      {__LINE__, {"-f"}, p, nullptr, {{'?', "", 'f'}}, 2, {"-f"}, "", S},
  });
}

TEST(ScanLongOptions, TargetAndIndexOfTheMatch) {
  CapturedOutput output;
  Environment environment(nullptr);
  start_scan();
  flag_target = 0;
  int32_t index = -1;
  argvarray argv = vector_of({"--flag", "--vers"});
  EXPECT_EQ(getoptlib::scan_options(3, argv, kProgramText, long_table, index, false), 0);
  EXPECT_EQ(flag_target, 9);
  EXPECT_EQ(index, 5);
  EXPECT_EQ(getoptlib::scan_options(3, argv, kProgramText, long_table, index, false), 'R');
  EXPECT_EQ(index, 1);
  EXPECT_EQ(getoptlib::scan_options(3, argv, kProgramText, long_table, index, false), -1);
}

// ---------------------------------------------------------- lifecycle --

TEST(ScanLifecycle, CallsAfterTheEndKeepReturningTheEnd) {
  struct Row {
    int line;
    Texts args;
    std::string option_text;
  };
  const Row rows[] = {
      {__LINE__, {"a", "-h", "b"}, kProgramText},
      {__LINE__, {"a", "-C", "x", "--", "b", "c"}, kProgramText},
      {__LINE__, {"-h"}, kProgramText},
      {__LINE__, {"-h", "a", "-h"}, "+C:h"},
      {__LINE__, {"a", "--", "b"}, "-C:h"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    CapturedOutput output;
    Environment environment(nullptr);
    start_scan();
    argvarray argv = vector_of(row.args);
    int32_t argc = static_cast<int32_t>(row.args.size()) + 1;
    ScanOutcome first = scan_all(argv, argc, row.option_text, Table::none);
    argv = first.final_argv;
    for (int again = 0; again < 3; ++again) {
      EXPECT_EQ(getoptlib::getopt(argc, argv, row.option_text), -1);
      EXPECT_EQ(getoptlib::optind, first.final_optind);
      EXPECT_EQ(argv, first.final_argv);
    }
  }
}

TEST(ScanLifecycle, MovingOptindPastAStopResumesTheScan) {
  CapturedOutput output;
  Environment environment(nullptr);
  start_scan();
  argvarray argv = vector_of({"-h", "sub", "-C", "x", "y"});
  EXPECT_EQ(getoptlib::getopt(6, argv, "+C:h"), 'h');
  EXPECT_EQ(getoptlib::getopt(6, argv, "+C:h"), -1);
  EXPECT_EQ(getoptlib::optind, 2);
  getoptlib::optind = 3;
  EXPECT_EQ(getoptlib::getopt(6, argv, "+C:h"), 'C');
  EXPECT_EQ(getoptlib::optarg, "x");
  EXPECT_EQ(getoptlib::getopt(6, argv, "+C:h"), -1);
  EXPECT_EQ(getoptlib::optind, 5);
}

TEST(ScanLifecycle, CountBeyondTheVectorIsHeldToIt) {
  struct Row {
    int line;
    int32_t argc;
    argvarray argv;
    std::vector<Step> steps;
    int32_t final_optind;
  };
  const Row rows[] = {
      {__LINE__, 64, {"PROG", "-C"}, {{'?', "", 'C'}}, 2},
      {__LINE__, 10, {"PROG", "a", "-h"}, {{'h', "", Q}}, 2},
      {__LINE__, 5, {}, {}, 1},
      {__LINE__, 0, {"PROG", "-h"}, {}, 1},
      {__LINE__, -3, {"PROG", "-h"}, {}, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    CapturedOutput output;
    Environment environment(nullptr);
    start_scan();
    ScanOutcome outcome = scan_all(row.argv, row.argc, kProgramText, Table::none);
    EXPECT_EQ(outcome.steps, row.steps);
    EXPECT_EQ(outcome.final_optind, row.final_optind);
  }
}

TEST(ScanLifecycle, OptindZeroStartsANewScanAndRereadsTheEnvironment) {
  CapturedOutput output;
  argvarray argv = vector_of({"x", "-h"});
  {
    Environment environment("1");
    start_scan();
    EXPECT_EQ(getoptlib::getopt(3, argv, kProgramText), -1);
    EXPECT_EQ(getoptlib::optind, 1);
  }
  // Same scan, environment changed: still stops (read only at the start).
  EXPECT_EQ(getoptlib::getopt(3, argv, kProgramText), -1);
  EXPECT_EQ(getoptlib::optind, 1);
  getoptlib::optind = 0;
  EXPECT_EQ(getoptlib::getopt(3, argv, kProgramText), 'h');
  EXPECT_EQ(getoptlib::getopt(3, argv, kProgramText), -1);
  EXPECT_EQ(getoptlib::optind, 2);
  EXPECT_EQ(argv, vector_of({"-h", "x"}));
}

TEST(ScanDiagnostics, FailedWriteRaisesAfterTheWholeLineAndTheScanGoesOn) {
  CapturedOutput output;
  Environment environment(nullptr);
  start_scan();
  argvarray argv = vector_of({"-xh"});
  injected_error = 5;
  Exception* raised = nullptr;
  try {
    getoptlib::getopt(2, argv, kProgramText);
  } catch (Exception* failure) {
    raised = failure;
  }
  ASSERT_NE(raised, nullptr);
  EXPECT_STREQ(raised->kind_name(), "EInOutError");
  EXPECT_EQ(raised->message(), "File access denied");
  delete raised;
  injected_error = 0;
  EXPECT_EQ(getoptlib::getopt(2, argv, kProgramText), 'h');
  EXPECT_EQ(getoptlib::getopt(2, argv, kProgramText), -1);
  EXPECT_EQ(output.text(), "");
}

}  // namespace
