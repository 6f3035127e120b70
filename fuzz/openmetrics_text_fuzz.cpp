// The OpenMetrics renderer's label values and HELP text on arbitrary bytes,
// read back by a strict line parser written here: every line is a TYPE,
// UNIT or HELP line or a sample, the text is valid UTF-8 and ends with
// "# EOF", and each label value decodes (\\, \n, \" only) to the bytes that
// went in; HELP decodes to them with '"' read as '\''.
//
// Bytes outside well-formed UTF-8 are written today as the Latin-1
// characters they would be, which cannot be told from the same characters
// written in UTF-8: for such input only the validity of the text is
// checked. Once the renderer writes them in a reversible form, decode it in
// decode_escape (or beside the raw-byte branch of decode) and set
// kInvalidBytesRoundTrip, and every input is checked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/utf8.h"
#include "plugin/check_result.h"
#include "plugin/render_openmetrics.h"

namespace {

constexpr bool kInvalidBytesRoundTrip = false;

// The escape at the start of `t` (after its backslash) into `out`; its
// length, 0 for none the format has.
size_t decode_escape(std::string_view t, std::string* out) {
  if (t.empty()) return 0;
  switch (t[0]) {
    case '\\':
      *out += '\\';
      return 1;
    case 'n':
      *out += '\n';
      return 1;
    case '"':
      *out += '"';
      return 1;
    default:
      return 0;
  }
}

// Escaped text up to `end` (a '"' for a label value, the end of the line
// for HELP); false when it breaks the format.
bool decode(std::string_view t, size_t* i, char end, std::string* out) {
  while (*i < t.size() && t[*i] != end) {
    if (t[*i] == '\\') {
      const size_t n = decode_escape(t.substr(*i + 1), out);
      if (n == 0) return false;
      *i += 1 + n;
      continue;
    }
    if (t[*i] == '"' || t[*i] == '\n') return false;
    const size_t n = fuzz::utf8_length(t.substr(*i));
    if (n == 0) return false;
    out->append(t.substr(*i, n));
    *i += n;
  }
  return end == '\n' || *i < t.size();
}

bool is_name_char(char c, bool first) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
         (!first && c >= '0' && c <= '9');
}

size_t name_length(std::string_view t) {
  size_t n = 0;
  while (n < t.size() && is_name_char(t[n], n == 0)) ++n;
  return n;
}

struct Sample {
  std::string name;
  std::map<std::string, std::string> labels;
  std::string value;
};

struct Parsed {
  std::map<std::string, std::string> help;  // by family
  std::vector<Sample> samples;
};

// One line without its newline.
bool parse_line(std::string_view line, Parsed* p) {
  if (line.substr(0, 2) == "# ") {
    const std::string_view rest = line.substr(2);
    const std::string_view word = rest.substr(0, 5);
    if (word != "TYPE " && word != "UNIT " && word != "HELP ") return false;
    std::string_view name = rest.substr(5);
    const size_t n = name_length(name);
    if (n == 0 || name.size() <= n || name[n] != ' ') return false;
    std::string_view tail = name.substr(n + 1);
    name = name.substr(0, n);
    if (word == "TYPE ") return tail == "gauge";
    if (word == "UNIT ") return tail == "bytes" || tail == "seconds" || tail == "ratio";
    size_t i = 0;
    std::string text;
    if (!decode(tail, &i, '\n', &text)) return false;
    return p->help.emplace(name, text).second;
  }
  Sample s;
  size_t i = name_length(line);
  if (i == 0) return false;
  s.name = line.substr(0, i);
  if (i < line.size() && line[i] == '{') {
    for (++i;;) {
      const size_t n = name_length(line.substr(i));
      if (n == 0 || line.substr(i + n, 2) != "=\"") return false;
      std::string key(line.substr(i, n)), value;
      i += n + 2;
      if (!decode(line, &i, '"', &value) || !s.labels.emplace(key, value).second) return false;
      ++i;
      if (i < line.size() && line[i] == ',') {
        ++i;
        continue;
      }
      if (i >= line.size() || line[i] != '}') return false;
      ++i;
      break;
    }
  }
  if (i >= line.size() || line[i] != ' ') return false;
  s.value = line.substr(i + 1);
  if (s.value.empty() || s.value.find(' ') != std::string::npos) return false;
  p->samples.push_back(std::move(s));
  return true;
}

bool parse(std::string_view t, Parsed* p) {
  const std::string_view eof = "# EOF\n";
  if (t.size() < eof.size() || t.substr(t.size() - eof.size()) != eof) return false;
  t.remove_suffix(eof.size());
  while (!t.empty()) {
    const size_t nl = t.find('\n');
    if (nl == std::string_view::npos || !parse_line(t.substr(0, nl), p)) return false;
    t.remove_prefix(nl + 1);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  plugin::CheckResult result;
  plugin::CounterResult c = plugin::counter_result("\\Memory(" + text + ")\\Available Bytes");
  c.object = "Memory";
  c.counter = "Available Bytes";
  c.instance = text;
  c.kind = "count";
  c.unit = "B";
  c.explanation = text;
  c.has_value = true;
  c.value = 1;
  result.counters.push_back(c);
  result.unmatched.push_back(text);
  const std::string out = plugin::render_openmetrics(result);

  if (!fuzz::valid_utf8(out)) abort();
  Parsed p;
  if (!parse(out, &p)) abort();
  if (!kInvalidBytesRoundTrip && !fuzz::valid_utf8(text)) return 0;

  std::string help = text.empty() ? "\\Memory\\Available Bytes" : text;
  for (char& ch : help) ch = ch == '"' ? '\'' : ch;
  const auto family = p.help.find("vantric_memory_available_bytes");
  if (family == p.help.end() || family->second != help) abort();
  size_t counters = 0, up = 0;
  for (const Sample& s : p.samples) {
    if (s.name == "vantric_memory_available_bytes") {
      ++counters;
      const auto instance = s.labels.find("vantric_instance");
      if (text.empty() ? !s.labels.empty() : instance == s.labels.end() || instance->second != text)
        abort();
    } else if (s.name == "vantric_up") {
      const auto path = s.labels.find("path");
      if (path == s.labels.end()) abort();
      if (!(path->second == c.path && s.value == "1") && !(path->second == text && s.value == "0"))
        abort();
      ++up;
    } else {
      abort();
    }
  }
  if (counters != 1 || up != 2) abort();
  return 0;
}
