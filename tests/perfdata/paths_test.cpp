// Wildcard matching and '#k' numbering, shared by the backends that serve
// counters themselves.
#include "perfdata/paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Wildcard, Matching) {
  struct Row {
    int line;
    std::string pattern, text;
    bool match;
  } rows[] = {
      {__LINE__, "*", "", true},
      {__LINE__, "*", "anything", true},
      {__LINE__, "", "", true},
      {__LINE__, "", "x", false},
      {__LINE__, "_total", "_Total", true},  // ASCII case folding
      {__LINE__, "ETH*", "eth0", true},
      {__LINE__, "*0", "eth0", true},
      {__LINE__, "*0", "eth01", false},
      {__LINE__, "a*b*c", "aXbYc", true},
      {__LINE__, "a*b*c", "aXcYb", false},
      {__LINE__, "a***c", "ac", true},  // a run of '*' is one
      {__LINE__, "*ab", "aab", true},   // back-track after a false start
      {__LINE__, "*a*a*a*a*b", std::string(60, 'a'), false},
      {__LINE__, "sh#1", "SH#1", true},
      {__LINE__, "sh", "sh#1", false},      // '#k' is part of the name
      {__LINE__, "\xC4*", "\xE4x", false},  // no folding beyond ASCII
      {__LINE__, "?", "x", false},          // '?' is an ordinary byte
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(perfdata::wildcard_match(row.pattern, row.text), row.match);
  }
}

TEST(Wildcard, DuplicatesNumberedInGroupOrder) {
  EXPECT_EQ(perfdata::number_duplicates({"sh", "bash", "SH", "sh", "_Total"}),
            (std::vector<std::string>{"sh", "bash", "SH#1", "sh#2", "_Total"}));
}

TEST(Wildcard, PatternsParseWhereAddRefusesThem) {
  perfdata::ParsedPath pp;
  EXPECT_EQ(perfdata::parse_path("\\Process(svc*#1)\\*", pp), perfdata::CSTATUS_BAD_COUNTERNAME);
  ASSERT_EQ(perfdata::parse_path("\\Process(svc*#1)\\*", pp, true), 0u);
  EXPECT_EQ(pp.instance, "svc*#1");  // '#k' stays in a pattern
  EXPECT_EQ(pp.index, 0u);
  EXPECT_EQ(pp.counter, "*");
}

}  // namespace
