#include "getoptlib/getoptlib.h"

namespace getoptlib {

int32_t argc = 0;
argvarray argv;

namespace {

bool vector_built = false;

bool is_white(char c) {
  auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

// One step with `next`, held to the text: a stepper that claims a trail byte
// where the NUL stands (a lead byte at the very end of the line) must not
// carry the walk past the end.
const char* step(const char* at, const char* (*next)(const char*)) {
  if (*at == '\0') return at;
  const char* after = next(at);
  if (after <= at) return at + 1;
  for (const char* inside = at + 1; inside < after; ++inside) {
    if (*inside == '\0') return inside;
  }
  return after;
}

}  // namespace

std::string split_next_argument(const char*& position, const char* (*next)(const char*)) {
  const char* at = position;
  for (;;) {
    if (is_white(*at)) {
      at = step(at, next);
    } else if (at[0] == '"' && at[1] == '"') {
      at = step(step(at, next), next);
    } else {
      break;
    }
  }
  std::string text;
  while (static_cast<unsigned char>(*at) > 32) {
    if (*at == '"') {
      at = step(at, next);
      while (*at != '\0' && *at != '"') {
        const char* after = step(at, next);
        text.append(at, after);
        at = after;
      }
      if (*at == '"') at = step(at, next);
    } else {
      const char* after = step(at, next);
      text.append(at, after);
      at = after;
    }
  }
  position = at;
  return text;
}

std::vector<std::string> split_command_line(const char* line, const char* (*next)(const char*)) {
  std::vector<std::string> texts;
  if (line == nullptr) return texts;
  split_next_argument(line, next);  // the program name as typed
  for (;;) {
    std::string text = split_next_argument(line, next);
    if (text.empty()) return texts;
    texts.push_back(std::move(text));
  }
}

namespace {

std::vector<std::string> command_line_arguments() {
  if (platform::arguments_presplit()) return platform::process_arguments();
  return split_command_line(platform::command_line());
}

}  // namespace

int32_t parameter_count() { return static_cast<int32_t>(command_line_arguments().size()); }

std::string parameter_text(int32_t index) {
  if (index == 0) return platform::module_path();
  if (index < 0) return {};
  std::vector<std::string> texts = command_line_arguments();
  if (static_cast<size_t>(index) > texts.size()) return {};
  return texts[static_cast<size_t>(index) - 1];
}

void build_argument_vector() {
  if (vector_built) return;
  vector_built = true;
  // One split of the whole line: asking parameter_text for each index would
  // split the line again per argument.
  std::vector<std::string> texts = command_line_arguments();
  argc = static_cast<int32_t>(texts.size()) + 1;
  argv.assign(texts.size() + 2, std::string());
  argv[0] = platform::module_path();
  for (size_t i = 0; i < texts.size(); ++i) argv[i + 1] = std::move(texts[i]);
}

}  // namespace getoptlib
