#include "plugin/render_openmetrics.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "plugin/machine_text.h"

namespace plugin {

namespace {

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_alnum(char c) { return is_lower(c) || is_upper(c) || (c >= '0' && c <= '9'); }
char lower(char c) { return is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c; }

// Lower-case words; "/" and "%" become words of their own so that the
// unit rules can see them.
std::vector<std::string> split_words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  const auto flush = [&] {
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!is_alnum(c)) {
      flush();
      if (c == '/') words.emplace_back("per");
      if (c == '%') words.emplace_back("percent");
      continue;
    }
    if (is_upper(c) && i > 0 && is_lower(text[i - 1])) flush();
    word += lower(c);
  }
  flush();
  return words;
}

bool one_of(const std::string& word, std::initializer_list<std::string_view> set) {
  return std::find(set.begin(), set.end(), word) != set.end();
}

void append_words(std::string* name, const std::vector<std::string>& words) {
  for (const std::string& w : words) {
    *name += '_';
    *name += w;
  }
}

}  // namespace

MetricName openmetrics_name(std::string_view object, std::string_view counter,
                            std::string_view unit) {
  MetricName m;
  if (unit == "%") m.unit = "ratio", m.scale = 0.01;
  if (unit == "B") m.unit = "bytes";
  if (unit == "s") m.unit = "seconds";
  std::vector<std::string> words;
  const std::vector<std::string> raw = split_words(counter);
  for (size_t i = 0; i < raw.size(); ++i) {
    std::string w = raw[i];
    if (one_of(w, {"sec", "secs", "second", "seconds"}))
      w = i > 0 && raw[i - 1] == "per" ? "second" : "seconds";
    if (one_of(w, {"total", "counter", "gauge", "histogram", "summary", "untyped"})) continue;
    if (m.unit == "ratio" && w == "percent") continue;
    if (unit.empty() && m.unit.empty() && one_of(w, {"kbytes", "mbytes", "megabytes"})) {
      m.unit = "bytes";
      m.scale = w == "kbytes" ? 1024.0 : 1048576.0;
      continue;
    }
    // A unit word that is not part of a rate ("bytes per second" keeps its
    // "bytes") moves to the end as the suffix.
    const bool rate_follows = std::find(raw.begin() + i, raw.end(), "per") != raw.end();
    if (w == "bytes" && (m.unit == "bytes" || (unit.empty() && m.unit.empty() && !rate_follows))) {
      m.unit = "bytes";
      continue;
    }
    if (w == "seconds" && m.unit == "seconds") continue;
    words.push_back(std::move(w));
  }
  if (!words.empty() && words.back() == "count" && m.unit.empty() && words.size() > 1) {
    words.pop_back();
    if (words.back().back() != 's') words.back() += 's';
  }
  if (!m.unit.empty()) words.push_back(m.unit);
  if (!words.empty() && one_of(words.back(), {"sum", "bucket", "created", "info", "count"}))
    words.emplace_back("value");
  m.name = "vantric";
  append_words(&m.name, split_words(object));
  append_words(&m.name, words);
  if (m.name == "vantric_up") m.name += "_value";  // the family of the read states
  return m;
}

MetricName openmetrics_totals_name(std::string_view object, std::string_view counter,
                                   std::string_view unit, const Totals& totals) {
  MetricName m;
  if (totals.seconds) m.unit = "seconds";
  if (unit == "B" && !totals.seconds) m.unit = "bytes";
  std::vector<std::string> words;
  const std::vector<std::string> raw = split_words(counter);
  const auto is_second = [](const std::string& w) {
    return one_of(w, {"sec", "secs", "second", "seconds"});
  };
  for (size_t i = 0; i < raw.size(); ++i) {
    const std::string& w = raw[i];
    // "/sec" is the rate that rate() forms; "sec/Read": the reads are the count.
    if (w == "per" && i + 1 < raw.size() && is_second(raw[i + 1])) ++i;
    if (w == "per") continue;
    if (one_of(w, {"percent", "avg", "average", "total", "counter", "gauge", "histogram", "summary",
                   "untyped"}))
      continue;
    if (totals.seconds && (w == "time" || is_second(w))) continue;
    if (!totals.seconds && one_of(w, {"kbytes", "mbytes", "megabytes"})) {
      m.unit = "bytes";
      m.scale = w == "kbytes" ? 1024.0 : 1048576.0;
      continue;
    }
    if (!totals.seconds && w == "bytes") {
      m.unit = "bytes";
      continue;
    }
    words.push_back(is_second(w) ? "seconds" : w);
  }
  // What an inverse timer counts is the time its raw value leaves out.
  if (totals.inverse) words = {"busy"};
  if (!m.unit.empty()) words.push_back(m.unit);
  if (words.empty() || one_of(words.back(), {"sum", "bucket", "created", "info", "count"}))
    words.emplace_back("value");
  m.name = "vantric";
  append_words(&m.name, split_words(object));
  append_words(&m.name, words);
  if (m.name == "vantric_up") m.name += "_value";
  return m;
}

namespace {

const char kHex[] = "0123456789abcdef";

bool escapes_byte(std::string_view rest) {
  return !rest.empty() && (rest[0] == 'x' || utf8_sequence_length(rest) == 0);
}

// Escapes for label values and HELP text. A byte outside well-formed UTF-8
// reads "\xHH" in the value, and a run of backslashes standing before such an
// escape or before a literal 'x' is doubled, so every value reads back to the
// bytes it came from: the names "caf\xE9" and "café" stay two series.
void append_escaped(std::string* out, std::string_view text, bool help) {
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '\\') {
      size_t end = i;
      while (end < text.size() && text[end] == '\\') ++end;
      const size_t copies = escapes_byte(text.substr(end)) ? 2 : 1;
      for (size_t k = 0; k < (end - i) * copies; ++k) *out += "\\\\";
      i = end;
      continue;
    }
    const size_t n = utf8_sequence_length(text.substr(i));
    if (n == 0) {
      const auto byte = static_cast<unsigned char>(c);
      *out += "\\\\x";
      *out += kHex[byte >> 4];
      *out += kHex[byte & 0xF];
      ++i;
      continue;
    }
    if (c == '\n')
      *out += "\\n";
    else if (c == '"')
      *out += help ? "'" : "\\\"";
    else
      out->append(text.data() + i, n);
    i += n;
  }
}

void append_label(std::string* out, std::string_view name, std::string_view value) {
  *out += out->back() == '{' ? "" : ",";
  *out += name;
  *out += "=\"";
  append_escaped(out, value, false);
  *out += '"';
}

void append_value(std::string* out, double value) {
  if (std::isnan(value))
    *out += "NaN";
  else if (std::isinf(value))
    *out += value > 0 ? "+Inf" : "-Inf";
  else
    append_shortest_number(out, value);
}

const char* help_note(std::string_view kind) {
  if (kind == "rate") return " (per second, the rate over the sampling interval)";
  if (kind == "average") return " (average over the sampling interval)";
  if (kind == "percent") return " (share of the sampling interval, ratio 0-1)";
  if (kind == "fraction") return " (ratio 0-1)";
  return "";
}

// What rate() of a family of totals gives, for its HELP.
std::string totals_note(const Totals& t, const std::string& unit) {
  if (t.shape == Totals::Shape::pair)
    return " (rate(_sum) / rate(_count) is the average" +
           (unit.empty() ? std::string() : " in " + unit) + " per operation)";
  if (t.inverse)
    return " (busy seconds, the elapsed less the idle time; rate() is the busy share 0-1)";
  if (t.queue) return " (queue length times seconds; rate() is the average queue length)";
  if (t.seconds) return " (seconds; rate() is the share of time 0-1)";
  if (unit == "bytes") return " (bytes; rate() is bytes per second)";
  return " (rate() is the count per second)";
}

const char* family_type(const Totals& t) {
  if (t.shape == Totals::Shape::counter) return "counter";
  return t.shape == Totals::Shape::pair ? "summary" : "gauge";
}

struct Family {
  MetricName metric;
  const char* type;
  const CounterResult* first;  // gives the HELP text and the original names
  bool collapsed = false;      // holds counters of more than one object/counter pair
  std::vector<std::pair<const CounterResult*, double>> samples;  // with the counter's scale
};

void append_family(std::string* out, const Family& f, TextFormat text) {
  const std::string& name = f.metric.name;
  const Totals::Shape shape = f.first->totals.shape;
  // The older text format names a counter's family as its samples.
  const std::string described =
      text == TextFormat::prometheus && shape == Totals::Shape::counter ? name + "_total" : name;
  *out += "# TYPE " + described + ' ' + f.type + '\n';
  if (!f.metric.unit.empty()) *out += "# UNIT " + described + ' ' + f.metric.unit + '\n';
  *out += "# HELP " + described + ' ';
  const CounterResult& c = *f.first;
  append_escaped(out, c.explanation.empty() ? "\\" + c.object + "\\" + c.counter : c.explanation,
                 true);
  if (shape != Totals::Shape::none)
    *out += totals_note(c.totals, f.metric.unit);
  else if (f.metric.unit == "ratio" && c.kind != "percent" && c.kind != "fraction")
    *out += " (ratio 0-1)";
  else
    *out += help_note(c.kind);
  *out += '\n';
  std::unordered_set<std::string> seen;
  seen.reserve(f.samples.size());
  std::string line;
  std::string labels;
  for (const auto& [c, scale] : f.samples) {
    line = '{';
    if (!c->instance.empty()) append_label(&line, "vantric_instance", c->instance);
    if (!c->process_id.empty()) append_label(&line, "vantric_process_id", c->process_id);
    if (f.collapsed) {
      append_label(&line, "vantric_object", c->object);
      append_label(&line, "vantric_counter", c->counter);
    }
    if (line.back() == '{')
      line.pop_back();
    else
      line += '}';
    if (!seen.insert(line).second) continue;
    const auto sample = [&](std::string_view suffix, double value) {
      *out += name;
      *out += suffix;
      *out += line;
      *out += ' ';
      append_value(out, value);
      *out += '\n';
    };
    if (shape == Totals::Shape::counter) {
      sample("_total", c->totals.sum * scale);
    } else if (shape == Totals::Shape::pair) {
      sample("_sum", c->totals.sum * scale);
      sample("_count", c->totals.count);
    } else {
      sample("", c->value * scale);
    }
  }
}

void append_up(std::string* out, std::unordered_set<std::string>* seen, std::string_view path,
               bool up) {
  std::string series = "vantric_up{";
  append_label(&series, "path", path);
  series += '}';
  if (seen->contains(series)) return;
  *out += series;
  *out += up ? " 1\n" : " 0\n";
  seen->insert(std::move(series));
}

}  // namespace

std::string render_openmetrics(const CheckResult& result, TextFormat text) {
  std::vector<Family> families;
  std::unordered_map<std::string, size_t> by_name;
  // Many series share one counter (every process, every disk): the name is
  // derived once per object/counter/unit.
  struct Known {
    size_t family;
    double scale;
  };
  std::unordered_map<std::string, Known> by_counter;
  std::string key;
  for (const CounterResult& c : result.counters) {
    key = c.object;
    key += '\0';
    key += c.counter;
    key += '\0';
    key += c.unit;
    key += '\0';
    key += family_type(c.totals);
    auto known = by_counter.find(key);
    if (known == by_counter.end()) {
      MetricName m = c.totals.shape == Totals::Shape::none
                         ? openmetrics_name(c.object, c.counter, c.unit)
                         : openmetrics_totals_name(c.object, c.counter, c.unit, c.totals);
      const char* type = family_type(c.totals);
      // A family holds one type: a name that another type took gets the type's word.
      if (auto taken = by_name.find(m.name);
          taken != by_name.end() && families[taken->second].type != std::string_view(type))
        m.name += std::string("_") + type;
      auto [at, added] = by_name.emplace(m.name, families.size());
      if (added) families.push_back({m, type, &c, false, {}});
      known = by_counter.emplace(key, Known{at->second, m.scale}).first;
      Family& f = families[at->second];
      if (f.first->object != c.object || f.first->counter != c.counter) f.collapsed = true;
    }
    if (c.has_value) families[known->second.family].samples.emplace_back(&c, known->second.scale);
  }
  std::string out;
  out.reserve(result.counters.size() * 96 + 256);
  for (const Family& f : families) append_family(&out, f, text);
  if (!result.counters.empty() || !result.unmatched.empty()) {
    out +=
        "# TYPE vantric_up gauge\n"
        "# HELP vantric_up 1 when the counter at path was read, 0 when it had no value or the "
        "path matched nothing\n";
    std::unordered_set<std::string> seen;
    seen.reserve(result.counters.size() + result.unmatched.size());
    for (const CounterResult& c : result.counters) append_up(&out, &seen, c.path, c.has_value);
    for (const std::string& p : result.unmatched) append_up(&out, &seen, p, false);
  }
  out += "# EOF\n";
  return out;
}

}  // namespace plugin
