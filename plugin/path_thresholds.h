// Which -w and -c ranges apply to which counter path, from the order of the
// options on the command line.
//
// A range applies to the paths that follow it, until the next range of the
// same letter replaces it. Ranges given after the last path apply to every
// path that has none of that letter of its own, so a command line that names
// its paths first and its ranges last keeps its old meaning: all paths share
// them. Warning and critical attach independently: a path may take its
// warning from before it and its critical from the end. The same path given
// twice is two entries (each with its own ranges).
//
//   {-w 80, path A, path B, -w 90, path C, -c 95}
//   -> A (warn 80, crit 95), B (warn 80, crit 95), C (warn 90, crit 95)
//
// No failure: range texts are passed through unparsed ("" is a range text
// like any other; std::nullopt is "none given").
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace plugin {

struct ThresholdEvent {
  enum Kind { path, warn, crit } kind;
  std::string text;  // the path or the range text
};

struct PathThresholds {
  std::string path;
  std::optional<std::string> warn, crit;
};

// One entry per path event, in order.
std::vector<PathThresholds> attach_thresholds(const std::vector<ThresholdEvent>& events);

}  // namespace plugin
