#include "number_text/integers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/number_text/number_text_fixture.h"

namespace {

TEST_F(NumberText, ScansIntegers) {
  struct Row {
    int line;
    const char* text;
    int32_t expected;
  };
  const Row rows[] = {
      {__LINE__, "42", 42},
      {__LINE__, "   42", 42},
      {__LINE__, "+42", 42},
      {__LINE__, "-42", -42},
      {__LINE__, "007", 7},
      {__LINE__, "0", 0},
      {__LINE__, "-0", 0},
      {__LINE__, "$1F", 31},
      {__LINE__, "0x1f", 31},
      {__LINE__, "0X10", 16},
      {__LINE__, "x1f", 31},
      {__LINE__, "X1F", 31},
      {__LINE__, "-$10", -16},
      {__LINE__, "+0x10", 16},
      {__LINE__, "2147483647", 2147483647},
      {__LINE__, "-2147483648", INT32_MIN},
      {__LINE__, "$FFFFFFFF", -1},
      {__LINE__, "$80000000", INT32_MIN},
      {__LINE__, "-$80000000", INT32_MIN},
      {__LINE__, "$0FFFFFFFF", -1},
      {__LINE__, "-$FFFFFFFF", 1},
      {__LINE__, "0000000000002147483647", 2147483647},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    ScanIntResult scanned = scan_int(row.text);
    EXPECT_TRUE(scanned.ok);
    EXPECT_EQ(scanned.value, row.expected);
    EXPECT_EQ(parse_int(row.text), row.expected);
    EXPECT_EQ(parse_int_or_default(row.text, 99), row.expected);
  }
}

TEST_F(NumberText, RejectsNonIntegers) {
  const std::string rows[] = {
      "",
      "  ",
      "-",
      "+",
      "42 ",
      "4 2",
      "- 5",
      "+-5",
      "--5",
      "2147483648",
      "-2147483649",
      "$",
      "0x",
      "1.5",
      "1e3",
      "0A",
      "$G",
      "$123456789",
      "4294967338",
      "0x-1",
      "\t1",
      std::string("4\0", 2),
      "\xb2",
      "21474836470",
  };
  for (const std::string& text : rows) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(scan_int(text).ok);
    EXPECT_EQ(parse_int_or_default(text, -77), -77);
    expect_convert_error([&] { parse_int(text); }, "'" + text + "' is not a valid integer value");
  }
}

TEST_F(NumberText, WritesHexadecimal) {
  struct Row {
    int line;
    int64_t value;
    int digits;
    const char* expected;
  };
  const Row rows[] = {
      {__LINE__, 0, 8, "00000000"},
      {__LINE__, 255, 8, "000000FF"},
      {__LINE__, 3221228472, 8, "C0000BB8"},
      {__LINE__, 0x123456789, 8, "123456789"},
      {__LINE__, 0, 0, "0"},
      {__LINE__, 255, 40, "FF"},
      {__LINE__, 255, -1, "FF"},
      {__LINE__, -1, 8, "FFFFFFFFFFFFFFFF"},
      {__LINE__, 0xABCDEF, 32, "00000000000000000000000000ABCDEF"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(int_to_hex(row.value, row.digits), row.expected);
  }
}

}  // namespace
