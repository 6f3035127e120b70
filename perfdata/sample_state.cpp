#include "perfdata/sample_state.h"

#include <charconv>
#include <cstdio>
#include <limits>

#include "perfdata/counter_types.h"

namespace perfdata {

namespace {

constexpr std::string_view kMagic = "vantric-state";
constexpr int kVersion = 1;

bool plain(unsigned char c) { return c >= 0x20 && c != 0x7f && c != '%'; }

void append_escaped(std::string* out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const unsigned char c : text) {
    if (plain(c)) {
      out->push_back(static_cast<char>(c));
    } else {
      out->push_back('%');
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    }
  }
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Only the escapes the writer makes: a name has one spelling, so a damaged
// one is noticed rather than read as another name.
bool unescape(std::string_view text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c != '%') {
      if (!plain(c)) return false;
      out->push_back(static_cast<char>(c));
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = hex_digit(text[i + 1]), low = hex_digit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    const unsigned char byte = static_cast<unsigned char>(high * 16 + low);
    if (plain(byte)) return false;
    out->push_back(static_cast<char>(byte));
    i += 2;
  }
  return true;
}

// One line cut into fields; the last field asked for with rest() keeps its
// spaces.
class Fields {
 public:
  explicit Fields(std::string_view line) : line_(line) {}
  bool word(std::string_view* out) {
    if (at_ > line_.size()) return false;
    const size_t end = std::min(line_.find(' ', at_), line_.size());
    *out = line_.substr(at_, end - at_);
    at_ = end + 1;
    return !out->empty();
  }
  template <typename T>
  bool number(T* out, int base = 10) {
    std::string_view text;
    if (!word(&text)) return false;
    if (text.size() > 1 && text[0] == '0' && base == 10) return false;  // one spelling
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *out, base);
    return error == std::errc() && end == text.data() + text.size();
  }
  bool rest(std::string* out) {
    if (at_ > line_.size()) return false;
    const std::string_view text = line_.substr(at_);
    at_ = line_.size() + 1;
    return unescape(text, out);
  }
  bool done() const { return at_ > line_.size(); }

 private:
  std::string_view line_;
  size_t at_ = 0;
};

bool read_raw(Fields* fields, RawCounter* raw) {
  return fields->number(&raw->c_status) && fields->number(&raw->time_stamp) &&
         fields->number(&raw->first_value) && fields->number(&raw->second_value) &&
         fields->number(&raw->multi_count);
}

void append_raw(std::string* out, const RawCounter& raw) {
  *out += std::to_string(raw.c_status) + ' ' + std::to_string(raw.time_stamp) + ' ' +
          std::to_string(raw.first_value) + ' ' + std::to_string(raw.second_value) + ' ' +
          std::to_string(raw.multi_count) + ' ';
}

std::string hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
  return text;
}

bool fail(std::string* why, size_t line, const std::string& what) {
  *why = "line " + std::to_string(line) + ": " + what;
  return false;
}

// newer - older without overflow (the values come from a file): -1 when
// older is the later one, INT64_MAX at the most.
int64_t span(int64_t older, int64_t newer) {
  if (newer < older) return -1;
  const uint64_t difference = static_cast<uint64_t>(newer) - static_cast<uint64_t>(older);
  return difference > uint64_t{std::numeric_limits<int64_t>::max()}
             ? std::numeric_limits<int64_t>::max()
             : static_cast<int64_t>(difference);
}

bool token(std::string_view text) {
  if (text.empty()) return false;
  for (const unsigned char c : text)
    if (c <= 0x20 || c >= 0x7f) return false;
  return true;
}

}  // namespace

std::string state_key(const std::vector<std::string>& parts) {
  uint64_t hash = 0xcbf29ce484222325ull;
  const auto mix = [&hash](unsigned char byte) { hash = (hash ^ byte) * 0x100000001b3ull; };
  for (const std::string& part : parts) {
    uint64_t size = part.size();
    for (int i = 0; i < 8; ++i, size >>= 8) mix(static_cast<unsigned char>(size & 0xff));
    for (const char c : part) mix(static_cast<unsigned char>(c));
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::string write_sample_state(const SampleState& state) {
  std::string out = std::string(kMagic) + ' ' + std::to_string(kVersion) + '\n';
  out += "key " + state.key + "\nboot " + state.boot + "\ncollected " +
         std::to_string(state.collected) + '\n';
  for (const StoredCounter& counter : state.counters) {
    out += "counter " + hex32(counter.type) + ' ' + std::to_string(counter.time_base) + ' ';
    append_escaped(&out, counter.path);
    out += '\n';
    for (const StoredInstance& instance : counter.instances) {
      const InstanceIdentity& who = instance.identity;
      if (who.process)
        out += "process " + std::to_string(who.pid) + ' ' + std::to_string(who.start_time) + ' ';
      else
        out += "name ";
      append_raw(&out, instance.raw);
      append_escaped(&out, who.name);
      out += '\n';
    }
  }
  return out + "end\n";
}

bool parse_sample_state(std::string_view text, SampleState* state, std::string* why) {
  std::vector<std::string_view> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    if (end == std::string_view::npos) break;  // an unfinished last line: truncated
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  const std::string_view first = text.substr(0, std::min(text.find('\n'), size_t{40}));
  if (first.substr(0, kMagic.size() + 1) != std::string(kMagic) + ' ') {
    std::string shown;
    append_escaped(&shown, first);
    return *why = "not a state file (first line \"" + shown + "\")", false;
  }
  if (lines.empty() || lines[0] != std::string(kMagic) + ' ' + std::to_string(kVersion)) {
    std::string version;
    append_escaped(&version, first.substr(kMagic.size() + 1));
    return *why = "version " + version + " is not read by this version", false;
  }
  SampleState parsed;
  std::string_view word;
  const auto header = [&](size_t i, std::string_view name) {
    Fields fields(i < lines.size() ? lines[i] : std::string_view());
    return i < lines.size() && fields.word(&word) && word == name && fields.word(&word) &&
           fields.done();
  };
  if (!header(1, "key") || word.size() != 16 ||
      word.find_first_not_of("0123456789abcdef") != std::string_view::npos)
    return lines.size() <= 1 ? (*why = "truncated: no end line", false)
                             : fail(why, 2, "expected key and 16 hex digits");
  parsed.key = std::string(word);
  if (!header(2, "boot") || !token(word))
    return lines.size() <= 2 ? (*why = "truncated: no end line", false)
                             : fail(why, 3, "expected boot and an identity");
  parsed.boot = std::string(word);
  if (lines.size() <= 3) return *why = "truncated: no end line", false;
  {
    Fields fields(lines[3]);
    if (!fields.word(&word) || word != "collected" || !fields.number(&parsed.collected) ||
        !fields.done())
      return fail(why, 4, "expected collected and a time");
  }
  for (size_t i = 4; i < lines.size(); ++i) {
    Fields fields(lines[i]);
    if (!fields.word(&word)) return fail(why, i + 1, "empty line");
    if (word == "end") {
      if (!fields.done() || i + 1 != lines.size() || text.substr(text.size() - 4) != "end\n")
        return fail(why, i + 1, "text after end");
      *state = std::move(parsed);
      return true;
    }
    if (word == "counter") {
      StoredCounter counter;
      if (!fields.word(&word) || word.size() != 10 || word.substr(0, 2) != "0x")
        return fail(why, i + 1, "expected a counter type 0x + 8 hex digits");
      Fields type(word.substr(2));
      if (!type.number(&counter.type, 16) || !fields.number(&counter.time_base) ||
          !fields.rest(&counter.path))
        return fail(why, i + 1, "expected a counter type, time base and path");
      parsed.counters.push_back(std::move(counter));
      continue;
    }
    if (word != "name" && word != "process")
      return fail(why, i + 1, "expected 'name' or 'process' or 'counter' or 'end'");
    if (parsed.counters.empty()) return fail(why, i + 1, "an instance before any counter");
    StoredInstance instance;
    InstanceIdentity& who = instance.identity;
    who.process = word == "process";
    if ((who.process && (!fields.number(&who.pid) || !fields.number(&who.start_time))) ||
        !read_raw(&fields, &instance.raw) || !fields.rest(&who.name))
      return fail(why, i + 1, "expected an instance's identity and raw record");
    parsed.counters.back().instances.push_back(std::move(instance));
  }
  return *why = "truncated: no end line", false;
}

const StoredInstance* find_instance(const StoredCounter& counter, const InstanceIdentity& who) {
  for (const StoredInstance& instance : counter.instances) {
    const InstanceIdentity& it = instance.identity;
    if (it.process != who.process) continue;
    if (who.process ? it.pid == who.pid && it.start_time == who.start_time : it.name == who.name)
      return &instance;
  }
  return nullptr;
}

Judgement judge_stored_sample(const SampleContext& then, const RawCounter* stored,
                              const SampleContext& today, const RawCounter& newer,
                              int64_t max_age) {
  const auto baseline = [](std::string reason) {
    return Judgement{Use::baseline, std::move(reason)};
  };
  if (stored == nullptr) return baseline("no stored sample (first run or new instance)");
  if (then.boot != today.boot) return baseline("stored in another boot");
  const int64_t window = span(stored->time_stamp, newer.time_stamp);
  const int64_t wall = span(then.collected, today.collected);
  if (window < 0 || wall < 0) return baseline("stored sample is from the future");
  const int64_t age = std::max(window, wall);
  if (age > max_age)
    return baseline("stored sample is " + std::to_string(age / 10000000) + " s old, more than " +
                    std::to_string(max_age / 10000000) + " s");
  if (then.type != today.type)
    return baseline("counter type changed from " + hex32(then.type) + " to " + hex32(today.type));
  if (then.time_base != today.time_base)
    return baseline("time base changed from " + std::to_string(then.time_base) + " to " +
                    std::to_string(today.time_base));
  if (newer.c_status > CSTATUS_NEW_DATA)
    return baseline("today's record is not valid (status " + hex32(newer.c_status) + ")");
  if (stored->c_status > CSTATUS_NEW_DATA)
    return baseline("stored record is not valid (status " + hex32(stored->c_status) + ")");
  if (window < kMinimumWindow)
    return {Use::too_soon, "window of " + std::to_string(window / 10000) + " ms is under 100 ms"};
  CounterValue value;
  if (counter_value(today.type, today.time_base, FMT_DOUBLE | FMT_NOCAP100, &newer, stored,
                    &value) == CSTATUS_INVALID_DATA) {
    const bool down =
        newer.first_value < stored->first_value || newer.second_value < stored->second_value;
    return baseline(down ? "a value went down, not by a 32-bit wrap (a reset)"
                         : "the counter's clock did not advance");
  }
  return {Use::pair, ""};
}

}  // namespace perfdata
