// The counter-path grammar (parts, their join, a refused path split for
// showing), wildcard matching and '#k' numbering, shared by the backends
// that serve counters themselves; every platform runs these.
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

TEST(ParsePath, PartsOfAValidPath) {
  struct Row {
    int line;
    std::string path;
    std::string machine, object, instance;
    uint32_t index;
    std::string counter;
  } rows[] = {
      {__LINE__, "\\\\m\\PhysicalDisk(_Total)\\Avg. Disk sec/Read", "m", "PhysicalDisk", "_Total",
       0, "Avg. Disk sec/Read"},
      {__LINE__, "\\LogicalDisk(/var/lib)\\Free Megabytes", "", "LogicalDisk", "/var/lib", 0,
       "Free Megabytes"},
      {__LINE__, "\\Process(a(b))\\ID Process", "", "Process", "a(b)", 0, "ID Process"},
      {__LINE__, "\\Process(x)\\y)\\z", "", "Process", "x)\\y", 0, "z"},
      {__LINE__, "\\Process(x#01)\\c", "", "Process", "x", 1, "c"},
      {__LINE__, "\\Process(x#0)\\c", "", "Process", "x", 0, "c"},
      {__LINE__, "\\Process(#1)\\c", "", "Process", "#1", 0, "c"},
      {__LINE__, "\\Process(x#)\\c", "", "Process", "x#", 0, "c"},
      {__LINE__, "\\Process(x#1234567890)\\c", "", "Process", "x#1234567890", 0, "c"},
      {__LINE__, "\\Process(x#123456789)\\c", "", "Process", "x", 123456789, "c"},
      {__LINE__, "\\Process(a#1#2)\\c", "", "Process", "a#1", 2, "c"},
      {__LINE__, "\\Memory\\b(c)", "", "Memory", "", 0, "b(c)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    perfdata::ParsedPath pp;
    ASSERT_EQ(perfdata::parse_path(row.path, pp), 0u);
    EXPECT_EQ(pp.machine, row.machine);
    EXPECT_EQ(pp.object, row.object);
    EXPECT_EQ(pp.instance, row.instance);
    EXPECT_EQ(pp.index, row.index);
    EXPECT_EQ(pp.counter, row.counter);
    EXPECT_EQ(perfdata::join_path(pp), row.path);
  }
}

// A refused path is still split for showing it.
TEST(ParsePath, PartsOfARefusedPath) {
  const auto parts = [](std::string_view path) {
    perfdata::ParsedPath pp;
    EXPECT_EQ(perfdata::parse_path(path, pp), perfdata::CSTATUS_BAD_COUNTERNAME);
    return pp.object + "|" + pp.written_instance + "|" + pp.counter;
  };
  EXPECT_EQ(parts("\\A\\B\\C") + " " + parts("\\X") + " " + parts("\\P(a)\\b\\c"),
            "A\\B||C X|| P|a|c");
}

}  // namespace
