#include "plugin/state.h"

#include <string>

namespace plugin {

const char* state_word(State state) {
  switch (state) {
    case State::ok:
      return "OK";
    case State::warning:
      return "WARNING";
    case State::critical:
      return "CRITICAL";
    case State::unknown:
      break;
  }
  return "UNKNOWN";
}

namespace {
int severity(State s) {
  switch (s) {
    case State::ok:
      return 0;
    case State::unknown:
      return 1;
    case State::warning:
      return 2;
    case State::critical:
      return 3;
  }
  return 1;
}

char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

State worse(State a, State b) { return severity(a) >= severity(b) ? a : b; }

bool parse_state(std::string_view text, State* state) {
  std::string upper;
  for (char c : text) upper.push_back(ascii_upper(c));
  static constexpr State all[] = {State::ok, State::warning, State::critical, State::unknown};
  for (State s : all) {
    if (upper == state_word(s) || (upper.size() == 1 && upper[0] == '0' + static_cast<int>(s))) {
      *state = s;
      return true;
    }
  }
  return false;
}

}  // namespace plugin
