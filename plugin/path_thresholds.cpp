#include "plugin/path_thresholds.h"

namespace plugin {

std::vector<PathThresholds> attach_thresholds(const std::vector<ThresholdEvent>& events) {
  std::vector<PathThresholds> paths;
  std::optional<std::string> warn, crit;                    // in force now
  std::optional<std::string> trailing_warn, trailing_crit;  // given after the last path
  for (const ThresholdEvent& e : events) {
    switch (e.kind) {
      case ThresholdEvent::path:
        paths.push_back({e.text, warn, crit});
        trailing_warn.reset();
        trailing_crit.reset();
        break;
      case ThresholdEvent::warn:
        warn = trailing_warn = e.text;
        break;
      case ThresholdEvent::crit:
        crit = trailing_crit = e.text;
        break;
    }
  }
  for (PathThresholds& p : paths) {
    if (!p.warn) p.warn = trailing_warn;
    if (!p.crit) p.crit = trailing_crit;
  }
  return paths;
}

}  // namespace plugin
