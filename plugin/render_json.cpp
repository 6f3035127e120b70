#include "plugin/render_json.h"

#include <cmath>

#include "plugin/agent_text.h"
#include "plugin/machine_text.h"

namespace plugin {

namespace {

const char kHex[] = "0123456789abcdef";

void append_string(std::string* out, std::string_view text) {
  *out += '"';
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const size_t n = utf8_sequence_length(text.substr(i));
    if (n == 0 || byte < 0x20 || byte == 0x7F) {
      // Bytes outside well-formed UTF-8 take the surrogate range DC00-DCFF,
      // control characters their own code point.
      *out += n == 0 ? "\\udc" : "\\u00";
      *out += kHex[byte >> 4];
      *out += kHex[byte & 0xF];
      ++i;
      continue;
    }
    if (byte == '"' || byte == '\\') *out += '\\';
    out->append(text.data() + i, n);
    i += n;
  }
  *out += '"';
}

// Keys are written by this file only, so they are plain ASCII.
void append_key(std::string* out, const char* key) {
  *out += out->back() == '{' || out->back() == '[' ? "\"" : ",\"";
  *out += key;
  *out += "\":";
}

void append_field(std::string* out, const char* key, std::string_view value) {
  append_key(out, key);
  append_string(out, value);
}

void append_optional(std::string* out, const char* key, std::string_view value) {
  if (value.empty()) {
    append_key(out, key);
    *out += "null";
  } else {
    append_field(out, key, value);
  }
}

void append_state(std::string* out, State state) {
  append_field(out, "state", state_word(state));
  append_key(out, "code");
  *out += static_cast<char>('0' + static_cast<int>(state));
}

void append_array(std::string* out, const char* key, const std::vector<std::string>& items) {
  append_key(out, key);
  *out += '[';
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) *out += ',';
    append_string(out, items[i]);
  }
  *out += ']';
}

void append_counter(std::string* out, const CounterResult& c) {
  *out += '{';
  append_field(out, "path", c.path);
  append_field(out, "object", c.object);
  append_optional(out, "instance", c.instance);
  append_field(out, "counter", c.counter);
  append_field(out, "kind", c.kind);
  append_field(out, "unit", c.unit);
  if (c.has_value && std::isfinite(c.value)) {
    append_key(out, "value");
    append_shortest_number(out, c.value);
  } else if (c.has_value) {
    append_key(out, "value");
    *out += "null";
    append_field(out, "problem",
                 std::isnan(c.value) ? "value is nan"
                 : c.value > 0       ? "value is inf"
                                     : "value is -inf");
  } else {
    append_field(out, "problem", c.problem);
  }
  append_state(out, c.state);
  append_optional(out, "warn", c.warn);
  append_optional(out, "crit", c.crit);
  append_field(out, "label", c.label);
  *out += '}';
}

}  // namespace

std::string render_json(std::string_view service, const CheckResult& result) {
  std::string out = "{";
  append_field(&out, "service", service);
  append_state(&out, overall_state(result));
  append_field(&out, "summary", line_text(summary(result)));
  append_key(&out, "counters");
  out += '[';
  for (size_t i = 0; i < result.counters.size(); ++i) {
    if (i > 0) out += ',';
    append_counter(&out, result.counters[i]);
  }
  out += ']';
  append_key(&out, "unmatched");
  out += '[';
  for (size_t i = 0; i < result.unmatched.size(); ++i) {
    out += i > 0 ? ",{" : "{";
    append_field(&out, "path", result.unmatched[i]);
    append_state(&out, result.unmatched_state);
    out += '}';
  }
  out += ']';
  if (!result.window.lines.empty()) {
    append_key(&out, "window");
    out += '{';
    append_key(&out, "since_last_s");
    if (result.window.since_s > 0)
      append_shortest_number(&out, result.window.since_s);
    else
      out += "null";
    append_array(&out, "notes", result.window.lines);
    out += '}';
  }
  out += "}\n";
  return out;
}

std::string render_json_list(const std::vector<std::string>& objects) {
  std::string out = "{";
  append_array(&out, "objects", objects);
  out += "}\n";
  return out;
}

std::string render_json_list(std::string_view object, const std::vector<ListedCounter>& counters,
                             const std::vector<std::string>& instances) {
  std::string out = "{";
  append_field(&out, "object", object);
  append_key(&out, "counters");
  out += '[';
  for (size_t i = 0; i < counters.size(); ++i) {
    out += i > 0 ? ",{" : "{";
    append_field(&out, "name", counters[i].name);
    append_field(&out, "kind", counters[i].kind);
    append_field(&out, "unit", counters[i].unit);
    append_field(&out, "explanation", counters[i].explanation);
    out += '}';
  }
  out += ']';
  append_array(&out, "instances", instances);
  out += "}\n";
  return out;
}

std::string render_json_expand(std::string_view pattern, const std::vector<std::string>& paths) {
  std::string out = "{";
  append_field(&out, "pattern", pattern);
  append_array(&out, "paths", paths);
  out += "}\n";
  return out;
}

}  // namespace plugin
