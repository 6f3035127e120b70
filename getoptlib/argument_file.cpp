#include "getoptlib/argument_file.h"

#include <algorithm>

#include "platform/file.h"

namespace getoptlib {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

bool parse_argument_file(std::string_view text, std::vector<std::string>* args, std::string* why) {
  std::vector<std::string> words;
  int line = 1;
  const auto fail = [&](int at, const char* reason) {
    *why = "line " + std::to_string(at) + ": " + reason;
    return false;
  };
  size_t i = 0;
  const size_t n = text.size();
  if (text.find('\0') != std::string_view::npos)
    return fail(
        1 + static_cast<int>(std::count(text.begin(), text.begin() + text.find('\0'), '\n')),
        "NUL byte");
  while (i < n) {
    const char c = text[i];
    if (is_space(c)) {
      line += c == '\n';
      ++i;
      continue;
    }
    if (c == '#') {
      while (i < n && text[i] != '\n') ++i;
      continue;
    }
    if (c == '@') return fail(line, "an argument file cannot name another (quote '@' to pass it)");
    std::string word;
    bool in_word = false;  // a word ('' included) has started
    while (i < n && !is_space(text[i])) {
      const char d = text[i];
      if (d == '\'') {
        const size_t close = text.find('\'', i + 1);
        if (close == std::string_view::npos) return fail(line, "unterminated single quote");
        word.append(text.substr(i + 1, close - i - 1));
        line += static_cast<int>(std::count(text.begin() + i, text.begin() + close, '\n'));
        i = close + 1;
      } else if (d == '"') {
        const int start = line;
        for (++i;; ++i) {
          if (i >= n) return fail(start, "unterminated double quote");
          const char e = text[i];
          if (e == '"') break;
          if (e == '\\' && i + 1 < n &&
              std::string_view("\"\\$`\n").find(text[i + 1]) != std::string_view::npos) {
            if (text[++i] == '\n')
              ++line;
            else
              word += text[i];
            continue;
          }
          line += e == '\n';
          word += e;
        }
        ++i;
      } else if (d == '\\') {
        if (i + 1 >= n) return fail(line, "backslash at the end of the file");
        if (text[i + 1] == '\n')
          ++line;
        else
          word += text[i + 1];
        i += 2;
        continue;  // an escaped line end joins words; it starts none
      } else {
        word += d;
        ++i;
      }
      in_word = true;
    }
    if (in_word || !word.empty()) words.push_back(std::move(word));
  }
  args->insert(args->end(), std::make_move_iterator(words.begin()),
               std::make_move_iterator(words.end()));
  return true;
}

bool expand_argument_files(std::vector<std::string>* args, const ReadFileFn& read, std::string* why,
                           const OptionSyntax& options) {
  std::vector<std::string> out;
  bool is_argument = false;  // the element is the argument of the option before it
  const auto keep = [&](std::string word) {
    is_argument = !is_argument && takes_next_element(word, options.option_text, options.long_table);
    out.push_back(std::move(word));
  };
  for (size_t i = 0; i < args->size(); ++i) {
    const std::string& a = (*args)[i];
    if (i == 0) {
      out.push_back(a);
      continue;
    }
    if (!is_argument && a == "--") {
      out.insert(out.end(), args->begin() + static_cast<std::ptrdiff_t>(i), args->end());
      break;
    }
    if (is_argument || a.size() < 2 || a[0] != '@') {
      keep(a);
      continue;
    }
    std::string text, reason;
    std::vector<std::string> words;
    if (!read(a.substr(1), kMaxArgumentFileBytes, &text, &reason) ||
        !parse_argument_file(text, &words, &reason)) {
      *why = a + ": " + reason;
      return false;
    }
    for (std::string& w : words) keep(std::move(w));
  }
  *args = std::move(out);
  return true;
}

bool expand_argument_files(std::vector<std::string>* args, std::string* why,
                           const OptionSyntax& options) {
  return expand_argument_files(args, platform::read_file, why, options);
}

}  // namespace getoptlib
