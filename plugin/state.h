// The state of a check as a monitoring agent reads it from the exit status,
// and the rule that says which of two states matters more.
//
//   worse(State::warning, State::unknown) -> State::warning
//   parse_state("critical", &s) -> true, s == State::critical
#pragma once

#include <string_view>

namespace plugin {

// In exit-status order: OK 0, WARNING 1, CRITICAL 2, UNKNOWN 3.
enum class State { ok = 0, warning = 1, critical = 2, unknown = 3 };

// "OK", "WARNING", "CRITICAL", "UNKNOWN".
const char* state_word(State state);
// The state that matters more to an administrator: CRITICAL, then WARNING,
// then UNKNOWN, then OK.
State worse(State a, State b);
// A state named by its word in any case ("critical") or its digit ("2");
// false for anything else.
bool parse_state(std::string_view text, State* state);

}  // namespace plugin
