#include "plugin/agent_text.h"
#include "plugin/render_nagios.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using plugin::CheckResult;
using plugin::CounterResult;
using plugin::State;

CounterResult value(const char* path, double v, State state = State::ok, const char* unit = "") {
  CounterResult c = plugin::counter_result(path);
  c.has_value = true;
  c.value = v;
  c.state = state;
  c.unit = unit;
  c.label = path;
  return c;
}

CounterResult problem(const char* path, const char* why, State state = State::unknown) {
  CounterResult c = plugin::counter_result(path);
  c.problem = why;
  c.state = state;
  return c;
}

CounterResult described(CounterResult c, const char* kind, const char* explanation) {
  c.kind = kind;
  c.explanation = explanation;
  c.described = true;
  return c;
}

CounterResult ranged(CounterResult c, const char* warn, const char* crit) {
  c.warn = warn;
  c.crit = crit;
  return c;
}

std::vector<CounterResult> values(int n) {
  std::vector<CounterResult> counters;
  for (int i = 0; i < n; ++i)
    counters.push_back(value(("\\P(" + std::to_string(i) + ")\\C").c_str(), i));
  return counters;
}

CheckResult check(std::vector<CounterResult> counters, std::vector<std::string> unmatched = {},
                  State missing = State::unknown) {
  return {std::move(counters), std::move(unmatched), missing, {}};
}

TEST(RenderNagios, StatusLineAndDetails) {
  struct Row {
    int line;
    CheckResult result;
    bool verbose;
    std::string text;
  };
  const Row rows[] = {
      {__LINE__, check({value("\\S\\T", 812)}), false, "V OK - \\S\\T = 812 | '\\S\\T'=812\n"},
      {__LINE__, check({problem("\\S\\X", "no such counter")}), false,
       "V UNKNOWN - \\S\\X: no such counter\n"},
      // A percent counter has the bounds 0 and 100; the range texts go along.
      {__LINE__, check({ranged(value("\\P(_Total)\\% T", 12.345, State::ok, "%"), "85", "95")}),
       false, "V OK - \\P(_Total)\\% T = 12.345% | '\\P(_Total)\\% T'=12.345%;85;95;0;100\n"},
      {__LINE__, check(values(5)), false,
       "V OK - \\P(0)\\C = 0, \\P(1)\\C = 1, \\P(2)\\C = 2, \\P(3)\\C = 3, \\P(4)\\C = 4 | "
       "'\\P(0)\\C'=0 '\\P(1)\\C'=1 '\\P(2)\\C'=2 '\\P(3)\\C'=3 '\\P(4)\\C'=4\n"},
      {__LINE__, check(values(6)), false,
       "V OK - all 6 counters OK | '\\P(0)\\C'=0 '\\P(1)\\C'=1 '\\P(2)\\C'=2 '\\P(3)\\C'=3 "
       "'\\P(4)\\C'=4 '\\P(5)\\C'=5\n"},
      // The worst state wins: CRITICAL over UNKNOWN over WARNING; only those not OK are named.
      {__LINE__,
       check({value("\\A\\a", 1), value("\\A\\b", 2, State::warning), problem("\\A\\c", "gone"),
              value("\\A\\d", 4, State::critical)}),
       false,
       "V CRITICAL - 3 of 4 counters not OK: \\A\\b = 2 (WARNING), \\A\\c: gone (UNKNOWN), "
       "\\A\\d = 4 (CRITICAL) | '\\A\\a'=1 '\\A\\b'=2 '\\A\\d'=4\n"},
      // No match: the state given for it (--missing), the paths first.
      {__LINE__, check({}, {"\\P(x*)\\C", "\\Q(y*)\\C"}), false,
       "V UNKNOWN - \\P(x*)\\C, \\Q(y*)\\C: no match\n"},
      {__LINE__, check({}, {"\\P(x*)\\C"}, State::ok), false, "V OK - \\P(x*)\\C: no match\n"},
      {__LINE__, check({value("\\A\\a", 1)}, {"\\P(x*)\\C"}, State::warning), false,
       "V WARNING - \\P(x*)\\C: no match; \\A\\a = 1 | '\\A\\a'=1\n"},
      // Details: the kind and explanation only for a described counter with a value.
      {__LINE__,
       check({described(value("\\A\\a", 1), "gauge", "what it is"),
              described(value("\\A\\b", 2), "count", ""), value("\\A\\c", 3, State::critical),
              described(problem("\\A\\d", "gone"), "rate", "x")}),
       true,
       "V CRITICAL - 2 of 4 counters not OK: \\A\\c = 3 (CRITICAL), \\A\\d: gone (UNKNOWN) | "
       "'\\A\\a'=1 '\\A\\b'=2 '\\A\\c'=3\n"
       "\\A\\a = 1 OK [gauge: what it is]\n\\A\\b = 2 OK [count]\n\\A\\c = 3 CRITICAL\n"
       "\\A\\d: gone UNKNOWN\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(plugin::render_nagios("V", row.result, row.verbose), row.text);
  }
}

// Names a backend may return: none may add a line, perfdata or a listing field.
TEST(RenderNagios, HostileNamesStayInTheirLine) {
  for (const char* name : {"x|l=9;1", "a\nb", "a\r\nb", "t\tu", "*", "", "/#2", "\x7f\x01"}) {
    SCOPED_TRACE(::testing::PrintToString(std::string(name)));
    const std::string path = std::string("\\P(") + name + ")\\W";
    const CounterResult c = described(value(path.c_str(), 1), "gauge", "b|\n");
    const std::string text =
        plugin::render_nagios("V", check({c, problem(path.c_str(), "|")}), true);
    const std::string line = plugin::listing_line({"instance", name, "e|\t"});
    // Three lines, one '|' (before the perfdata); a listing line of three fields.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '|'), 1) << text;
    EXPECT_EQ(text.find_first_of("\r\t\x7f\x01"), std::string::npos) << text;
    EXPECT_EQ(line.find_first_of("|\r\n\x7f\x01"), line.size() - 1) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 2) << line;
  }
}

TEST(AssignLabels, FromOptionAndPath) {
  struct Row {
    int line;
    const char* label;
    std::vector<const char*> paths;
    std::vector<std::string> labels;
  };
  const Row rows[] = {
      {__LINE__, "", {"\\P(0)\\C", "\\P(1)\\C"}, {"\\P(0)\\C", "\\P(1)\\C"}},
      {__LINE__, "cpu", {"\\P(0)\\C"}, {"cpu"}},
      {__LINE__, "cpu", {"\\P(0)\\C", "\\P(_Total)\\C"}, {"cpu_0", "cpu__Total"}},
      {__LINE__, "m", {"\\Memory\\A", "\\Memory\\B"}, {"m_A", "m_B"}},
      // The instance runs to the last ")\": names with parentheses survive.
      {__LINE__, "p", {"\\Process(a(b))\\ID", "\\Process(c#1)\\ID"}, {"p_a(b)", "p_c#1"}},
      // One instance's counters add the counter, one path twice is numbered; the rest stay.
      {__LINE__, "c", {"\\P(_T)\\T", "\\P(_T)\\U", "\\P(1)\\T"}, {"c__T_T", "c__T_U", "c_1"}},
      {__LINE__, "c", {"\\P(0)\\T", "\\P(1)\\T", "\\P(0)\\T"}, {"c_0_T", "c_1", "c_0_T#2"}},
      {__LINE__, "", {"\\M\\A", "\\M\\A", "\\M\\A#2"}, {"\\M\\A", "\\M\\A#2", "\\M\\A#2#2"}},
      {__LINE__,
       "",
       {"\\M\\A", "\\M\\A#2", "\\M\\A", "\\M\\A"},
       {"\\M\\A", "\\M\\A#2", "\\M\\A#3", "\\M\\A#4"}},
      // Labels that the performance data writes alike are numbered too.
      {__LINE__,
       "p",
       {"\\P(a=b)\\W", "\\P(a_b)\\W", "\\P(a|b)\\W", "\\P(a\tb)\\W"},
       {"p_a=b", "p_a_b#2", "p_a|b#3", "p_a\tb#4"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    std::vector<CounterResult> counters;
    for (const char* path : row.paths) counters.push_back(plugin::counter_result(path));
    plugin::assign_labels(row.label, counters);
    std::vector<std::string> labels;
    for (const CounterResult& c : counters) labels.push_back(c.label);
    EXPECT_EQ(labels, row.labels);
  }
}

}  // namespace
