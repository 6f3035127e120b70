// Counter paths, the add-time checks and the value statuses.
#include <cmath>

#include "platform/posix/perf/linperf.h"

namespace linperf {

namespace {

bool all_digits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return !s.empty();
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// The length the computer-name call cuts a host name to.
constexpr size_t kComputerNameLen = 15;

}  // namespace

Status parse_path(std::string_view path, ParsedPath& out) {
  out = ParsedPath{};
  constexpr Status bad = pdh::CSTATUS_BAD_COUNTERNAME;
  if (path.empty() || path.size() > kMaxCounterPath || path.front() != '\\') return bad;
  // A single value is read; wildcard expansion has no meaning here.
  if (path.find('*') != std::string_view::npos) return bad;

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

  uint32_t index = 0;
  if (has_instance) {
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
  out.instance = std::string(instance);
  out.index = index;
  return 0;
}

bool is_local_machine(const Env& env, std::string_view machine) {
  if (machine == "." || iequals(machine, "localhost") || machine == "127.0.0.1") return true;
  std::string text;
  if (!read_file(env, "proc/sys/kernel/hostname", text)) return false;
  std::string_view host = trim(text);
  if (host.empty()) return false;
  if (iequals(machine, host)) return true;
  size_t dot = host.find('.');
  if (dot != std::string_view::npos && iequals(machine, host.substr(0, dot))) return true;
  size_t mdot = machine.find('.');
  if (dot == std::string_view::npos && mdot != std::string_view::npos &&
      iequals(machine.substr(0, mdot), host)) {
    return true;
  }
  // The local computer name is the host name cut to 15 bytes; a path built
  // from it must still name this machine when the host name is longer.
  if (host.size() > kComputerNameLen && machine.size() == kComputerNameLen &&
      iequals(machine, host.substr(0, kComputerNameLen))) {
    return true;
  }
  return false;
}

Query::Query(Env env) : env_(std::move(env)) {}

Status Query::add(std::string_view path, Counter** out) {
  ParsedPath pp;
  if (Status st = parse_path(path, pp); st != 0) return st;
  if (pp.has_machine && !is_local_machine(env_, pp.machine)) return pdh::CSTATUS_NO_MACHINE;
  const ObjectDef* obj = find_object(pp.object);
  if (obj == nullptr) return pdh::CSTATUS_NO_OBJECT;
  std::vector<Instance> list;
  if (!obj->enumerate(env_, list)) return pdh::CSTATUS_NO_OBJECT;
  const CounterDef* row = find_counter(*obj, pp.counter);
  if (row == nullptr) return pdh::CSTATUS_NO_COUNTER;
  Instance inst;
  if (obj->multi_instance) {
    if (!pp.has_instance) return pdh::CSTATUS_NO_INSTANCE;
    std::optional<size_t> pos = find_instance(*obj, list, pp.instance, pp.index);
    if (!pos) return pdh::CSTATUS_NO_INSTANCE;
    inst = list[*pos];
  } else if (pp.has_instance) {
    return pdh::CSTATUS_NO_INSTANCE;
  }
  auto counter = std::make_unique<Counter>();
  counter->query_ = this;
  counter->obj_ = obj;
  counter->row_ = row;
  counter->inst_ = std::move(inst);
  if (out != nullptr) *out = counter.get();
  counters_.push_back(std::move(counter));
  return 0;
}

Status Query::collect() {
  double t = env_.monotonic ? env_.monotonic() : 0.0;
  for (auto& c : counters_) {
    c->prev_ = std::move(c->cur_);
    c->prev_t_ = c->cur_t_;
    c->cur_ = Sample{};
    c->cur_t_ = t;
    const Sample* prev = c->samples_ > 0 ? &c->prev_ : nullptr;
    c->obj_->collect(env_, c->inst_, c->row_->needs, prev, c->cur_);
    ++c->samples_;
  }
  return 0;
}

FormattedValue Counter::format(uint32_t flags) const {
  FormattedValue fv;
  if (samples_ == 0 || !cur_.ok) return fv;
  const bool have_prev = samples_ >= 2 && prev_.ok;
  const double dt = cur_t_ - prev_t_;
  if (needs_two_samples(row_->kind) && (!have_prev || !(dt > 0.0))) return fv;
  Value v = row_->value(have_prev ? &prev_ : nullptr, cur_, have_prev ? dt : 0.0, query_->env());
  if (!v || !std::isfinite(*v)) return fv;
  double x = *v;
  if (row_->percent && (flags & pdh::FMT_NOCAP100) == 0) x = cap_percent(x);
  fv.c_status = pdh::CSTATUS_VALID_DATA;
  fv.value = x;
  return fv;
}

}  // namespace linperf
