#include "plugin/range.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Each accepted range with the values that must alert and those that must not.
struct Accepted {
  int line;
  const char* text;
  double start, end;
  bool inside;
  std::vector<double> alert, quiet;
};

TEST(PluginRange, AcceptedRangesAndTheirAlerts) {
  // Below the smallest double (its nearest is 0), and a subnormal.
  const std::string tiny = "0." + std::string(400, '0') + "1:";
  const std::string subnormal = "~:0." + std::string(323, '0') + "3";
  const double least = std::numeric_limits<double>::denorm_min();
  const Accepted rows[] = {
      {__LINE__, tiny.c_str(), 0, kInf, false, {-least}, {0, least}},
      {__LINE__, subnormal.c_str(), -kInf, least, false, {2 * least}, {least, 0}},
      {__LINE__, "10", 0, 10, false, {-0.000001, 10.000001, -5}, {0, 10, 5.5}},
      {__LINE__, "10:", 10, kInf, false, {9.999999, -1}, {10, 1e300}},
      {__LINE__, "~:10", -kInf, 10, false, {10.5}, {10, -1e300}},
      {__LINE__, "10:20", 10, 20, false, {9.99, 20.01}, {10, 15, 20}},
      {__LINE__, "@10:20", 10, 20, true, {10, 15, 20}, {9.99, 20.01}},
      {__LINE__, "@10", 0, 10, true, {0, 10}, {-1, 11}},
      {__LINE__, ":5", 0, 5, false, {-1, 6}, {0, 5}},
      {__LINE__, "~:", -kInf, kInf, false, {}, {-1e308, 1e308}},
      {__LINE__, "-5:-1", -5, -1, false, {0, -6}, {-5, -3, -1}},
      {__LINE__, "+.5:1.", 0.5, 1, false, {0.4}, {0.5, 1}},
      {__LINE__, "0.000001:3000000000", 0.000001, 3e9, false, {0, 3000000001}, {2147483648.5}},
      {__LINE__, "5:5", 5, 5, false, {4.9, 5.1}, {5}},
      // Wider than any 32-bit integer, and longer than a double's digits.
      {__LINE__,
       "123456789012345678901234567890",
       0,
       1.2345678901234568e29,
       false,
       {1.3e29},
       {1e29}},
  };
  for (const Accepted& row : rows) {
    SCOPED_TRACE(row.line);
    plugin::Range r;
    std::string why;
    ASSERT_TRUE(plugin::parse_range(row.text, &r, &why)) << why;
    EXPECT_EQ(r.start, row.start);
    EXPECT_EQ(r.end, row.end);
    EXPECT_EQ(r.inside, row.inside);
    for (double v : row.alert) EXPECT_TRUE(plugin::range_alerts(r, v)) << v;
    for (double v : row.quiet) EXPECT_FALSE(plugin::range_alerts(r, v)) << v;
  }
}

TEST(PluginRange, RefusedRangesSayWhy) {
  struct Row {
    int line;
    const char* text;
    const char* why;
  };
  const Row rows[] = {
      {__LINE__, "", "empty range"},
      {__LINE__, "@", "empty range"},
      {__LINE__, "20:10", "start is greater than end"},
      {__LINE__, "@-1:-2", "start is greater than end"},
      {__LINE__, "1e3", "'1e3' is not a decimal number"},
      {__LINE__, "1,5", "'1,5' is not a decimal number"},
      {__LINE__, "inf", "'inf' is not a decimal number"},
      {__LINE__, "0x10", "'0x10' is not a decimal number"},
      {__LINE__, "1.2.3", "'1.2.3' is not a decimal number"},
      {__LINE__, ".", "'.' is not a decimal number"},
      {__LINE__, "-", "'-' is not a decimal number"},
      {__LINE__, "--1", "'--1' is not a decimal number"},
      {__LINE__, " 5", "' 5' is not a decimal number"},
      {__LINE__, "5 ", "'5 ' is not a decimal number"},
      {__LINE__, "~", "'~' is not a decimal number"},
      {__LINE__, "1:~", "'~' is not a decimal number"},
      {__LINE__, "1:2:3", "'2:3' is not a decimal number"},
      {__LINE__, "@@1", "'@1' is not a decimal number"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    plugin::Range r;
    r.end = 42;
    std::string why;
    EXPECT_FALSE(plugin::parse_range(row.text, &r, &why));
    EXPECT_EQ(why, row.why);
    EXPECT_EQ(r.end, 42) << "a refused range leaves the record alone";
  }
}

TEST(PluginRange, HugeEndpointIsOutOfRange) {
  plugin::Range r;
  std::string why;
  const std::string huge = "1" + std::string(400, '0');
  EXPECT_FALSE(plugin::parse_range(huge, &r, &why));
  EXPECT_EQ(why, "'" + huge + "' is out of range");
}

TEST(PluginRange, NanAlertsOutsideOnly) {
  plugin::Range outside, inside;
  std::string why;
  ASSERT_TRUE(plugin::parse_range("~:", &outside, &why));
  ASSERT_TRUE(plugin::parse_range("@~:", &inside, &why));
  EXPECT_TRUE(plugin::range_alerts(outside, std::nan("")));
  EXPECT_FALSE(plugin::range_alerts(inside, std::nan("")));
}

}  // namespace
