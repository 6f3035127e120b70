// Every catalogue counter over two collections of a /proc and /sys tree made
// from the input: the input is cut at "\n\x01" into pieces, piece i is file
// i of kFiles at the first collection and piece kFiles + i at the second.
// A usable value must be finite, and a capped percent within [0, 100].
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "perfdata/linux/discovery.h"
#include "perfdata/linux/query.h"
#include "perfdata/linux/system_calls.h"

namespace {

namespace lb = perfdata::linux_backend;

constexpr const char* kFiles[] = {
    "proc/stat",
    "proc/interrupts",
    "proc/meminfo",
    "proc/vmstat",
    "proc/uptime",
    "proc/swaps",
    "proc/sys/vm/overcommit_memory",
    "proc/diskstats",
    "proc/self/mountinfo",
    "sys/block/sda/size",
    "sys/block/sda/device",
    "proc/net/dev",
    "proc/net/snmp",
    "proc/net/tcp",
    "sys/class/net/eth0/speed",
    "proc/100/stat",
    "proc/100/status",
    "proc/100/io",
    "proc/200/stat",
};
constexpr size_t kCount = sizeof kFiles / sizeof kFiles[0];

const std::string& root() {
  static const std::string dir = [] {
    char templ[] = "/tmp/proc-tree-fuzz-XXXXXX";
    const char* made = mkdtemp(templ);
    if (made == nullptr) abort();
    return std::string(made);
  }();
  return dir;
}

void write_tree(const std::vector<std::string_view>& pieces, size_t first) {
  for (size_t i = 0; i < kCount; ++i) {
    std::filesystem::path p = std::filesystem::path(root()) / kFiles[i];
    std::filesystem::create_directories(p.parent_path());
    std::string_view text = first + i < pieces.size() ? pieces[first + i] : std::string_view();
    std::ofstream(p, std::ios::binary | std::ios::trunc)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  std::filesystem::create_directories(std::filesystem::path(root()) / "proc/100/fd");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> pieces;
  for (size_t pos = 0;;) {
    size_t cut = input.find("\n\x01", pos);
    pieces.push_back(
        input.substr(pos, cut == std::string_view::npos ? std::string_view::npos : cut - pos));
    if (cut == std::string_view::npos) break;
    pos = cut + 2;
  }
  write_tree(pieces, 0);

  static double clock;
  static size_t fs_size;
  clock = 100.0;
  fs_size = size;
  lb::system_calls.monotonic = [] { return clock; };
  lb::system_calls.node_name = [] { return std::string("fuzz"); };
  lb::system_calls.statvfs = [](const char*, lb::FsStat* out) {
    *out = lb::FsStat{4096, fs_size * 7, fs_size * 3, fs_size};
    return fs_size % 3 == 0 ? EIO : 0;
  };
  lb::Env env;
  env.root = root();
  env.ulong_bits = size % 2 == 0 ? 64 : 32;

  // Every row of every object, for each instance discovery lists now.
  lb::Query q(env);
  std::vector<lb::Counter*> counters;
  std::vector<std::string> objects;
  lb::enum_objects(env, objects);
  for (const std::string& object : objects) {
    std::vector<perfdata::CounterInfo> rows;
    std::vector<std::string> instances;
    if (lb::enum_object_items(env, object, rows, instances) != 0) continue;
    if (instances.empty()) instances.push_back("");
    for (const std::string& inst : instances) {
      for (const perfdata::CounterInfo& row : rows) {
        std::string path =
            "\\\\fuzz\\" + object + (inst.empty() ? "" : "(" + inst + ")") + "\\" + row.name;
        lb::Counter* c = nullptr;
        if (q.add(path, &c) == 0) counters.push_back(c);
      }
    }
  }
  q.collect();
  write_tree(pieces, kCount);
  clock += 1.0;
  q.collect();
  for (lb::Counter* c : counters) {
    for (uint32_t flags : {perfdata::FMT_DOUBLE, perfdata::FMT_DOUBLE | perfdata::FMT_NOCAP100}) {
      lb::FormattedValue v = c->format(flags);
      if (v.c_status != 0) continue;
      if (!std::isfinite(v.value)) abort();
      if (perfdata::linux_backend::is_percent(c->row()) && !(flags & perfdata::FMT_NOCAP100) &&
          (v.value < 0.0 || v.value > 100.0))
        abort();
    }
  }
  return 0;
}
