#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "getoptlib/getoptlib.h"
#include "platform/args.h"
#include "platform/codepage.h"

namespace {

using getoptlib::split_command_line;
using getoptlib::split_next_argument;
using Texts = std::vector<std::string>;

struct SplitRow {
  int line;
  std::string command_line;
  Texts expected;  // the arguments after the program name
};

TEST(SplitCommandLine, QuotesAndWhiteSpace) {
  const SplitRow rows[] = {
      {__LINE__, "prog a b c", {"a", "b", "c"}},
      {__LINE__, "prog \"% Processor Time\"", {"% Processor Time"}},
      {__LINE__, "prog a\"b c\"d", {"ab cd"}},
      {__LINE__, "prog -C \"\" -w 5", {"-C", "-w", "5"}},
      {__LINE__, "prog x\"\"", {"x"}},
      {__LINE__, "prog \"a b", {"a b"}},
      {__LINE__, "prog a\tb", {"a", "b"}},
      {__LINE__, "prog a     b", {"a", "b"}},
      {__LINE__, "prog a \"", {"a"}},
      {__LINE__, "prog", {}},
      {__LINE__, "", {}},
      {__LINE__, "prog   \t ", {}},
      {__LINE__,
       "prog a\x01"
       "b\x1f"
       "c",
       {"a", "b", "c"}},
      {__LINE__, "prog a\"\"b", {"ab"}},
      {__LINE__, "prog \"a\"\" b\"", {"a b"}},
      {__LINE__, "prog \"a\tb\x01\"", {"a\tb\x01"}},
      {__LINE__, "prog \"\" \"\"", {}},
      {__LINE__, "prog \"\"\"\"a", {"a"}},
      {__LINE__, "prog \"\"\"a\"", {"a"}},
      {__LINE__, "prog a \"\" b", {"a", "b"}},
      {__LINE__, "prog a \" ", {"a", " "}},
      {__LINE__, "prog \" a b", {" a b"}},
      {__LINE__, "\"C:\\Program Files\\v.exe\" -h", {"-h"}},
      {__LINE__, "\"C:\\Program Files\\v.exe", {}},
  };
  for (const SplitRow& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(split_command_line(row.command_line.c_str()), row.expected);
  }
}

struct PositionRow {
  int line;
  std::string text;
  std::string argument;
  std::string rest;  // the text from the returned position on
};

TEST(SplitNextArgument, StopsAtTheCharacterThatEndedTheArgument) {
  const PositionRow rows[] = {
      {__LINE__, "a\"b c\"d e", "ab cd", " e"},
      {__LINE__, "  abc\tdef", "abc", "\tdef"},
      {__LINE__, "\"a b", "a b", ""},
      {__LINE__, "\"\"  x", "x", ""},
      {__LINE__, "   ", "", ""},
      {__LINE__, "\"", "", ""},
  };
  for (const PositionRow& row : rows) {
    SCOPED_TRACE(row.line);
    const char* position = row.text.c_str();
    EXPECT_EQ(split_next_argument(position), row.argument);
    EXPECT_EQ(std::string(position), row.rest);
  }
}

// A double-byte code page cannot be chosen inside a running process (and the
// test machine's code page is single-byte), so the splitter's handling of
// two-byte characters is tested through a stepper that treats 0x81..0x9F
// and 0xE0..0xFC as lead bytes. It steps two bytes after a lead byte blindly,
// even onto a NUL, as a careless stepper might.
const char* double_byte_next(const char* p) {
  if (*p == '\0') return p;
  auto byte = static_cast<unsigned char>(*p);
  bool lead = (byte >= 0x81 && byte <= 0x9f) || (byte >= 0xe0 && byte <= 0xfc);
  return p + (lead ? 2 : 1);
}

const std::vector<SplitRow>& double_byte_rows() {
  static const std::vector<SplitRow> rows = {
      // A quote or a space as the second byte is part of the character.
      {__LINE__, "p \x81\" b", {"\x81\"", "b"}},
      {__LINE__, "p \"\x81\"\" x", {"\x81\"", "x"}},
      {__LINE__, "p \x81 x", {"\x81 x"}},
      {__LINE__, "p \xe0\t\xe0\t y", {"\xe0\t\xe0\t", "y"}},
      // A lead byte at the very end: the walk stops at the NUL.
      {__LINE__, "p a\x81", {"a\x81"}},
      {__LINE__, "p \"a\x81", {"a\x81"}},
      {__LINE__, "p \x81", {"\x81"}},
  };
  return rows;
}

// Bytes above 127 are ordinary characters in a single-byte code page.
TEST(SplitCommandLine, HighBytesAreOrdinaryInASingleByteCodePage) {
  if (platform::is_lead_byte(0xe9)) GTEST_SKIP() << "double-byte code page";
  EXPECT_EQ(split_command_line("prog \xe9t\xe9 \xff"), (Texts{"\xe9t\xe9", "\xff"}));
}

TEST(SplitCommandLine, DoubleByteCharactersStayWhole) {
  for (const SplitRow& row : double_byte_rows()) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(split_command_line(row.command_line.c_str(), double_byte_next), row.expected);
  }
}

// The same splits with the system's own stepper, when the process runs under
// a double-byte code page (the Windows build is run once more with a
// Japanese locale for this).
TEST(SplitCommandLine, SystemStepperKeepsDoubleByteCharactersWhole) {
  if (!platform::is_lead_byte(0x81) || !platform::is_lead_byte(0xe0))
    GTEST_SKIP() << "single-byte code page";
  for (const SplitRow& row : double_byte_rows()) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(split_command_line(row.command_line.c_str()), row.expected);
  }
}

TEST(SplitCommandLine, LeadByteAtTheEndLeavesThePositionOnTheNul) {
  const std::string text = "ab\x81";
  const char* position = text.c_str();
  EXPECT_EQ(split_next_argument(position, double_byte_next), "ab\x81");
  EXPECT_EQ(position, text.c_str() + text.size());
}

TEST(CharNext, StepsOneSingleByteCharacterAndStopsAtTheNul) {
  const char text[] = "a b";
  EXPECT_EQ(platform::char_next(text), text + 1);
  EXPECT_EQ(platform::char_next(text + 1), text + 2);
  EXPECT_EQ(platform::char_next(text + 3), text + 3);
}

TEST(SplitCommandLine, ServesMoreThanSixtyThreeArguments) {
  std::string line = "prog";
  Texts expected;
  for (int i = 1; i <= 300; ++i) {
    expected.push_back("arg" + std::to_string(i));
    line += (i % 2 ? " " : " \"\" ") + expected.back();
  }
  EXPECT_EQ(split_command_line(line.c_str()), expected);
}

// The C runtime's split: the documented examples first.
TEST(SplitCRuntimeCommandLine, FollowsTheRuntimesRules) {
  const SplitRow rows[] = {
      {__LINE__, R"(p "a b c" d e)", {"a b c", "d", "e"}},
      {__LINE__, R"(p "ab\"c" "\\" d)", {"ab\"c", "\\", "d"}},
      {__LINE__, R"(p a\\\b d"e f"g h)", {R"(a\\\b)", "de fg", "h"}},
      {__LINE__, R"(p a\\\"b c d)", {R"(a\"b)", "c", "d"}},
      {__LINE__, R"(p a\\\\"b c" d e)", {R"(a\\b c)", "d", "e"}},
      {__LINE__, R"(p a"b"" c d)", {"ab\" c d"}},
      {__LINE__, "p -w \"\" -c 95 \"\"", {"-w", "", "-c", "95", ""}},
      {__LINE__, "p \"\"\"\" x\"\"y", {"\"", "xy"}},
      {__LINE__, "p\ta \t b\\ \"c", {"a", "b\\", "c"}},
      {__LINE__, R"("C:\Program Files\v.exe" -h)", {"-h"}},
      {__LINE__, R"(C:\v\"a b" c\" d)", {"c\"", "d"}},
      // A trail byte is neither quote nor backslash.
      {__LINE__, "p \x81\" \x81\\\"x y", {"\x81\"", "\x81\\x y"}},
      {__LINE__, "", {}},
  };
  for (const SplitRow& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(getoptlib::split_c_runtime_command_line(row.command_line.c_str(), double_byte_next),
              row.expected);
  }
}

bool is_absolute_path(const std::string& path) {
  return (!path.empty() && path[0] == '/') ||
         (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
         path.starts_with("\\\\");
}

// The vector is built once per process, so this is the only test that
// builds it.
TEST(BuildArgumentVector, HoldsEveryArgumentThenTheEmptyElement) {
  std::vector<std::string> given = {"./argument_vector_test"};
  for (int i = 1; i <= 70; ++i) given.push_back(i == 35 ? "" : "x" + std::to_string(i));
  std::vector<char*> pointers;
  for (std::string& text : given) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  platform::set_process_arguments(static_cast<int>(given.size()), pointers.data());

  getoptlib::build_argument_vector();

  Texts expected;
  if (platform::arguments_presplit()) {
    expected.assign(given.begin() + 1, given.end());  // the empty one kept
  } else {
    expected = split_command_line(platform::command_line());
  }
  ASSERT_EQ(getoptlib::argc, static_cast<int32_t>(expected.size()) + 1);
  ASSERT_EQ(getoptlib::argv.size(), expected.size() + 2);
  EXPECT_EQ(Texts(getoptlib::argv.begin() + 1, getoptlib::argv.end() - 1), expected);
  EXPECT_EQ(getoptlib::argv.back(), "");
  EXPECT_EQ(getoptlib::parameter_count() + 1, getoptlib::argc);
  for (int32_t i = 1; i <= getoptlib::argc; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(getoptlib::parameter_text(i), getoptlib::argv[i]);
  }
  EXPECT_EQ(getoptlib::parameter_text(-1), "");

  // Element 0 is the full path of the executable, not the name as started.
  const std::string& path = getoptlib::argv[0];
  EXPECT_TRUE(is_absolute_path(path)) << path;
  EXPECT_NE(path.find("argument_vector_test"), std::string::npos) << path;
  EXPECT_EQ(getoptlib::parameter_text(0), path);

  // A second start-up call changes nothing.
  const getoptlib::argvarray before = getoptlib::argv;
  char other[] = "other";
  char* other_args[] = {other, other, nullptr};
  platform::set_process_arguments(2, other_args);
  getoptlib::build_argument_vector();
  EXPECT_EQ(getoptlib::argv, before);
  EXPECT_EQ(getoptlib::argc, static_cast<int32_t>(expected.size()) + 1);
}

}  // namespace
