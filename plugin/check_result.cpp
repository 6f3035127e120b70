#include "plugin/check_result.h"

namespace plugin {

State overall_state(const CheckResult& result) {
  State state = State::ok;
  for (const CounterResult& c : result.counters) state = worse(state, c.state);
  if (!result.unmatched.empty()) state = worse(state, result.unmatched_state);
  return state;
}

}  // namespace plugin
