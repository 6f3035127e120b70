#include "plugin/path_thresholds.h"

#include <gtest/gtest.h>

namespace {

// Events and results as compact text: "w80 pA pB c95" -> "A:80:95 B:80:95",
// '-' for no range.
std::string attach(const std::string& line) {
  std::vector<plugin::ThresholdEvent> events;
  size_t at = 0;
  while (at < line.size()) {
    size_t end = line.find(' ', at);
    if (end == std::string::npos) end = line.size();
    const char tag = line[at];
    const auto kind = tag == 'p'   ? plugin::ThresholdEvent::path
                      : tag == 'w' ? plugin::ThresholdEvent::warn
                                   : plugin::ThresholdEvent::crit;
    events.push_back({kind, line.substr(at + 1, end - at - 1)});
    at = end + 1;
  }
  std::string out;
  for (const plugin::PathThresholds& p : plugin::attach_thresholds(events))
    out +=
        (out.empty() ? "" : " ") + p.path + ":" + p.warn.value_or("-") + ":" + p.crit.value_or("-");
  return out;
}

TEST(PathThresholds, Attach) {
  struct Row {
    int line;
    const char *events, *paths;
  };
  const Row rows[] = {
      {__LINE__, "pA w85 c95", "A:85:95"},  // the classic command line
      {__LINE__, "pA pB w85 c95", "A:85:95 B:85:95"},
      {__LINE__, "w80 pA pB w90 pC c95", "A:80:95 B:80:95 C:90:95"},
      {__LINE__, "w1 c2 pA w3 c4 pB", "A:1:2 B:3:4"},
      {__LINE__, "w1 pA c9 pB w5", "A:1:- B:1:9"},  // -c 9 is B's; nobody lacks a -w
      {__LINE__, "pA w1 pB c2", "A:-:2 B:1:2"},     // -w 1 is B's only, -c 2 trails
      {__LINE__, "pA w1 w2", "A:2:-"},
      {__LINE__, "w pA", "A::-"},
      {__LINE__, "pA pA", "A:-:- A:-:-"},
      {__LINE__, "w1 c2", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(attach(row.events), row.paths);
  }
}

}  // namespace
