#include "plugin/agent_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace {

using plugin::State;

TEST(PluginOutput, NumberText) {
  struct Row {
    int line;
    double value;
    const char* text;
  };
  const Row rows[] = {
      {__LINE__, 0, "0"},
      {__LINE__, -0.0, "0"},
      {__LINE__, -0.0000001, "0"},
      {__LINE__, 12.3456789, "12.345679"},
      {__LINE__, 12.35, "12.35"},
      {__LINE__, 100, "100"},
      {__LINE__, 0.5, "0.5"},
      {__LINE__, 0.00000051, "0.000001"},
      {__LINE__, 0.0000005, "0"},  // just below 5e-7 in binary
      {__LINE__, 0.00000049, "0"},
      {__LINE__, -3.5, "-3.5"},
      {__LINE__, 2147483648.25, "2147483648.25"},
      {__LINE__, 1e20, "100000000000000000000"},
      {__LINE__, 1234567.0, "1234567"},
      {__LINE__, std::numeric_limits<double>::infinity(), "inf"},
      {__LINE__, -std::numeric_limits<double>::infinity(), "-inf"},
      {__LINE__, std::nan(""), "nan"},
  };
  // Under a locale with a decimal comma the text must not change.
  for (const char* locale : {"C", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_ALL, locale) == nullptr) continue;
    for (const Row& row : rows) {
      SCOPED_TRACE(testing::Message() << row.line << " " << locale);
      EXPECT_EQ(plugin::plain_number(row.value), row.text);
    }
  }
  std::setlocale(LC_ALL, "C");
  const std::string max = plugin::plain_number(std::numeric_limits<double>::max());
  EXPECT_EQ(max.size(), 309u);
  EXPECT_EQ(max.substr(0, 6), "179769");
}

TEST(PluginOutput, PerfdataItem) {
  struct Row {
    int line;
    const char* label;
    double value;
    const char *uom, *warn, *crit, *min, *max;
    const char* item;
  };
  const Row rows[] = {
      {__LINE__, "\\Processor(_Total)\\% Processor Time", 12.35, "%", "85", "95", "0", "100",
       "'\\Processor(_Total)\\% Processor Time'=12.35%;85;95;0;100"},
      {__LINE__, "x", 5, "", "", "", "", "", "'x'=5"},
      {__LINE__, "x", 5, "B", "", "10", "", "", "'x'=5B;;10"},
      {__LINE__, "x", 5, "s", "@1:2", "", "0", "", "'x'=5s;@1:2;;0"},
      {__LINE__, "x", 5, "", "", "", "", "100", "'x'=5;;;;100"},
      {__LINE__, "it's", 1, "", "", "", "", "", "'it''s'=1"},
      {__LINE__, "''", 1, "", "", "", "", "", "''''''=1"},
      {__LINE__, "a=b|c\r\nd", 1, "", "", "", "", "", "'a_b_c__d'=1"},
      {__LINE__, "", 1, "", "", "", "", "", "''=1"},
      {__LINE__, "big", 3e9, "", "~:2147483648", "", "", "", "'big'=3000000000;~:2147483648"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(
        plugin::perfdata_item(row.label, row.value, row.uom, row.warn, row.crit, row.min, row.max),
        row.item);
  }
}

TEST(PluginOutput, StatusLine) {
  EXPECT_EQ(plugin::status_line("VANTRIC", State::ok, "a = 1", {"'a'=1", "'b'=2"}),
            "VANTRIC OK - a = 1 | 'a'=1 'b'=2");
  EXPECT_EQ(plugin::status_line("VANTRIC", State::unknown, "\\X(a|b)\\Y: no\r\nsuch", {}),
            "VANTRIC UNKNOWN - \\X(a/b)\\Y: no  such");
  EXPECT_EQ(plugin::status_line("VANTRIC", State::critical, "", {}), "VANTRIC CRITICAL - ");
}

TEST(PluginOutput, StatesOrderAndNames) {
  struct Row {
    int line;
    State a, b, worse;
  };
  const Row rows[] = {
      {__LINE__, State::ok, State::unknown, State::unknown},
      {__LINE__, State::unknown, State::warning, State::warning},
      {__LINE__, State::critical, State::unknown, State::critical},
      {__LINE__, State::warning, State::critical, State::critical},
      {__LINE__, State::ok, State::ok, State::ok},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(plugin::worse(row.a, row.b), row.worse);
    EXPECT_EQ(plugin::worse(row.b, row.a), row.worse);
  }
  struct Word {
    const char* text;
    bool ok;
    State state;
  };
  const Word words[] = {{"OK", true, State::ok},
                        {"warning", true, State::warning},
                        {"Critical", true, State::critical},
                        {"3", true, State::unknown},
                        {"2", true, State::critical},
                        {"4", false, State::ok},
                        {"", false, State::ok},
                        {"CRIT", false, State::ok},
                        {"OK ", false, State::ok}};
  for (const Word& w : words) {
    SCOPED_TRACE(w.text);
    State s = State::ok;
    EXPECT_EQ(plugin::parse_state(w.text, &s), w.ok);
    if (w.ok) {
      EXPECT_EQ(s, w.state);
    }
  }
}

}  // namespace
