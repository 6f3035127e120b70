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

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> split_c_runtime_command_line(const char* line,
                                                      const char* (*next)(const char*)) {
  std::vector<std::string> texts;
  if (line == nullptr) return texts;
  const char* at = line;
  bool quoted = false;
  // The program name: quotes toggle, nothing is escaped.
  while (*at != '\0' && (quoted || !is_blank(*at))) {
    if (*at == '"') quoted = !quoted;
    at = step(at, next);
  }
  quoted = false;
  for (;;) {
    while (is_blank(*at)) ++at;
    if (*at == '\0') return texts;
    std::string& text = texts.emplace_back();
    while (*at != '\0' && (quoted || !is_blank(*at))) {
      if (*at != '\\' && *at != '"') {
        const char* after = step(at, next);
        text.append(at, after);
        at = after;
        continue;
      }
      std::size_t backslashes = 0;
      for (; *at == '\\'; ++at) ++backslashes;
      if (*at != '"') {
        text.append(backslashes, '\\');
        continue;
      }
      text.append(backslashes / 2, '\\');
      if (backslashes % 2 == 1) {
        text += '"';
      } else if (quoted && at[1] == '"') {
        text += '"';
        ++at;  // the pair stands for one quote; the run goes on
      } else {
        quoted = !quoted;
      }
      ++at;
    }
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

namespace {

void fill_vector(std::vector<std::string> texts) {
  argc = static_cast<int32_t>(texts.size()) + 1;
  argv.assign(texts.size() + 2, std::string());
  argv[0] = platform::module_path();
  for (size_t i = 0; i < texts.size(); ++i) argv[i + 1] = std::move(texts[i]);
}

}  // namespace

void build_argument_vector() {
  if (vector_built) return;
  vector_built = true;
  // One split of the whole line: asking parameter_text for each index would
  // split the line again per argument.
  fill_vector(command_line_arguments());
}

void build_c_runtime_argument_vector() {
  if (vector_built) return;
  vector_built = true;
  fill_vector(platform::arguments_presplit()
                  ? platform::process_arguments()
                  : split_c_runtime_command_line(platform::command_line()));
}

}  // namespace getoptlib
