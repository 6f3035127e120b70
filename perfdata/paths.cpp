#include "perfdata/paths.h"

#include <unordered_map>

namespace perfdata {

namespace {

bool all_digits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return !s.empty();
}

// A refused path's parts for showing it.
ParsedPath split_as_written(std::string_view path) {
  ParsedPath out;
  const size_t open = path.find('(');
  const size_t close = path.rfind(")\\");
  const size_t last = path.rfind('\\');
  const size_t from = path.starts_with('\\') ? 1 : 0;
  if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
    out.object = path.substr(1, open - 1);
    out.has_instance = true;
    out.instance = out.written_instance = path.substr(open + 1, close - open - 1);
  } else if (last != std::string_view::npos && last > 0) {
    out.object = path.substr(1, last - 1);
  } else {
    out.object = path.substr(from);
  }
  if (last != std::string_view::npos && last > 0) out.counter = path.substr(last + 1);
  return out;
}

Status parse_strictly(std::string_view path, ParsedPath& out, bool allow_wildcards) {
  out = ParsedPath{};
  constexpr Status bad = CSTATUS_BAD_COUNTERNAME;
  if (path.empty() || path.size() > kMaxCounterPath || path.front() != '\\') return bad;
  // Adding reads a single value: a wildcard has no meaning there.
  const bool wild = path.find('*') != std::string_view::npos;
  if (wild && !allow_wildcards) return bad;

  std::string_view body = path;
  if (body.size() >= 2 && body[1] == '\\') {
    size_t end = body.find('\\', 2);
    if (end == std::string_view::npos || end == 2) return bad;
    out.has_machine = true;
    out.machine = std::string(body.substr(2, end - 2));
    body = body.substr(end);
  }
  body.remove_prefix(1);  // the '\' before the object

  size_t q = body.find('\\');
  size_t p = body.find('(');
  std::string_view object, instance, counter;
  bool has_instance = false;
  if (q != std::string_view::npos && (p == std::string_view::npos || q < p)) {
    object = body.substr(0, q);
    counter = body.substr(q + 1);
  } else if (p != std::string_view::npos) {
    object = body.substr(0, p);
    // The instance ends at the last ")\" so that names holding '(' , ')' or
    // '\' survive.
    size_t r = body.rfind(")\\");
    if (r == std::string_view::npos || r < p) return bad;
    has_instance = true;
    instance = body.substr(p + 1, r - p - 1);
    counter = body.substr(r + 2);
  } else {
    return bad;
  }
  if (object.empty() || counter.empty() || object.find(')') != std::string_view::npos ||
      counter.find('\\') != std::string_view::npos) {
    return bad;
  }
  if (has_instance && instance.empty()) return bad;

  const std::string_view written = instance;
  uint32_t index = 0;
  if (has_instance && instance.find('*') == std::string_view::npos) {
    size_t h = instance.rfind('#');
    if (h != std::string_view::npos && h > 0) {
      std::string_view digits = instance.substr(h + 1);
      if (digits.size() <= 9 && all_digits(digits)) {
        for (char c : digits) index = index * 10 + static_cast<uint32_t>(c - '0');
        instance = instance.substr(0, h);
      }
    }
  }
  out.object = std::string(object);
  out.counter = std::string(counter);
  out.has_instance = has_instance;
  out.written_instance = std::string(written);
  out.instance = std::string(instance);
  out.index = index;
  return 0;
}

}  // namespace

Status parse_path(std::string_view path, ParsedPath& out, bool allow_wildcards) {
  const Status st = parse_strictly(path, out, allow_wildcards);
  if (st != 0) out = split_as_written(path);
  return st;
}

Status parse_array_path(std::string_view path, ParsedPath& out) {
  Status st = parse_path(path, out, true);
  if (st != 0) return st;
  const auto wild = [](const std::string& s) { return s.find('*') != std::string::npos; };
  return wild(out.machine) || wild(out.object) || wild(out.counter) ? CSTATUS_BAD_COUNTERNAME : 0;
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

std::string folded(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = fold(c);
  return r;
}

bool wildcard_match(std::string_view pattern, std::string_view text) {
  // Greedy scan with one back-track point: linear in practice and never
  // exponential on runs of '*'.
  size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && fold(pattern[p]) == fold(text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> number_duplicates(const std::vector<std::string>& names) {
  // One pass with a count per folded name: a process list of thousands of
  // namesakes (service hosts, workers) stays linear.
  std::unordered_map<std::string, size_t> seen;
  seen.reserve(names.size());
  std::vector<std::string> out;
  out.reserve(names.size());
  for (const std::string& name : names) {
    const size_t k = seen[folded(name)]++;
    out.push_back(k == 0 ? name : name + "#" + std::to_string(k));
  }
  return out;
}

std::string join_path(std::string_view object, const std::string* instance,
                      std::string_view counter) {
  std::string path = "\\";
  path.append(object);
  if (instance != nullptr) {
    path.push_back('(');
    path.append(*instance);
    path.push_back(')');
  }
  path.push_back('\\');
  path.append(counter);
  return path;
}

std::string join_path(const ParsedPath& path) {
  std::string text;
  if (path.has_machine) text = "\\\\" + path.machine;
  return text +
         join_path(path.object, path.has_instance ? &path.written_instance : nullptr, path.counter);
}

const char* kind_word(CounterKind kind) {
  switch (kind) {
    case CounterKind::gauge:
      return "gauge";
    case CounterKind::count:
      return "count";
    case CounterKind::rate:
      return "rate";
    case CounterKind::percent:
      return "percent";
    case CounterKind::average:
      return "average";
    case CounterKind::fraction:
      return "fraction";
    case CounterKind::elapsed:
      return "elapsed";
    case CounterKind::unknown:
      break;
  }
  return "unknown";
}

CounterKind kind_from_word(const std::string& word) {
  for (CounterKind k :
       {CounterKind::gauge, CounterKind::count, CounterKind::rate, CounterKind::percent,
        CounterKind::average, CounterKind::fraction, CounterKind::elapsed}) {
    if (word == kind_word(k)) return k;
  }
  return CounterKind::unknown;
}

}  // namespace perfdata
