#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// Paging File: swap areas from /proc/swaps.
#include <cerrno>

#include "perfdata/counter_types.h"
#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

enum : uint32_t { kSwaps = 1 };

struct SwapArea {
  std::string file;  // unescaped
  uint64_t size_kib = 0, used_kib = 0;
};

// Rows after the header: "Filename Type Size Used Priority". The filename is
// octal-escaped, so it holds no spaces. False on a malformed row.
bool parse_swaps(std::string_view text, std::vector<SwapArea>& out) {
  std::vector<std::string_view> lines = split_lines(text);
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string_view> tok = split_ws(lines[i]);
    if (tok.empty()) continue;
    SwapArea a;
    if (tok.size() < 4 || !parse_u64(tok[2], a.size_kib) || !parse_u64(tok[3], a.used_kib))
      return false;
    a.file = unescape_octal(tok[0]);
    out.push_back(std::move(a));
  }
  return true;
}

// One read of /proc/swaps gives every area and their _Total.
void pass(const Env& env, const Request& req, Pass& out) {
  std::string text;
  if (!read_file(env, "proc/swaps", text)) {
    out.problem = read_problem("proc/swaps", errno);
    return;
  }
  out.ok = true;
  std::vector<SwapArea> areas;
  const bool parsed = parse_swaps(text, areas);
  // Without swap areas there is no _Total either: "no paging file" is
  // reported as such rather than as 0 % used.
  if (areas.empty()) return;
  uint64_t size = 0, used = 0;
  if (req.wants("")) add_instance(out, Instance{"_Total", "", -1, 0});
  for (const SwapArea& a : areas) {
    size += a.size_kib;
    used += a.used_kib;
    if (!req.wants(a.file)) continue;
    Sample& s = add_instance(out, Instance{mangle(a.file), a.file, 0, 0});
    s.u = {a.size_kib, a.used_kib};
    s.ok = parsed;
  }
  if (!out.instances.empty() && out.instances[0].id == -1) {
    out.samples[0].u = {size, used};
    out.samples[0].ok = parsed;
  }
}

bool usage(const Sample& s, int64_t, const Env&, RawCounter& out) {
  out.first_value = static_cast<int64_t>(s.u[1]);
  out.second_value = static_cast<int64_t>(s.u[0]);
  return true;
}

constexpr CounterDef kCounters[] = {
    {"Paging File",
     "% Usage",
     CounterKind::fraction,
     kSwaps,
     nullptr,
     "%",
     "Share of the swap area in use (_Total: of all swap areas)",
     "/proc/swaps 100*Used/Size",
     {TYPE_LARGE_RAW_FRACTION, usage, TimeBase::stamp, false,
      "first value Used KiB; second value Size KiB"}},
};

}  // namespace

const ObjectDef& paging_file_object() {
  static const ObjectDef def{"Paging File", true, kCounters, pass};
  return def;
}

}  // namespace perfdata::linux_backend
