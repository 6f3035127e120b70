#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/catalogue.h"

#include "perfdata/paths.h"

namespace perfdata::linux_backend {

CounterInfo counter_info(const CounterDef& row) {
  CounterInfo info;
  info.name = row.name;
  info.kind = row.kind;
  info.unit = row.unit != nullptr ? row.unit : "";
  info.explanation = row.explanation != nullptr ? row.explanation : "";
  info.source = row.source != nullptr ? row.source : "";
  return info;
}

std::span<const ObjectDef* const> all_objects() {
  static const ObjectDef* const objects[] = {
      &processor_object(),
      &memory_object(),
      &paging_file_object(),
      &system_object(),
      &logical_disk_object(),
      &physical_disk_object(),
      &network_interface_object(),
      &process_object(),
      &tcpv4_object(),
  };
  return objects;
}

const ObjectDef* find_object(std::string_view name) {
  for (const ObjectDef* obj : all_objects()) {
    if (iequals(obj->name, name)) return obj;
  }
  return nullptr;
}

const CounterDef* find_counter(const ObjectDef& obj, std::string_view name) {
  for (const CounterDef& row : obj.counters) {
    if (iequals(row.name, name)) return &row;
  }
  return nullptr;
}

std::optional<uint64_t> delta(uint64_t prev, uint64_t cur) {
  if (cur >= prev) return cur - prev;
  return std::nullopt;
}

std::optional<uint64_t> delta_ulong(const Env& env, uint64_t prev, uint64_t cur) {
  return env.ulong_bits == 32 ? delta32(prev, cur) : delta(prev, cur);
}

std::optional<uint64_t> delta32(uint64_t prev, uint64_t cur) {
  if (cur >= prev) return cur - prev;
  if (prev <= 0xFFFFFFFFull) {
    uint64_t d = cur + 0x100000000ull - prev;
    if (d < 0x80000000ull) return d;
  }
  return std::nullopt;
}

std::string mangle(std::string_view raw) {
  std::string r(raw);
  for (char& c : r) {
    switch (c) {
      case '(':
        c = '[';
        break;
      case ')':
        c = ']';
        break;
      case '#':
      case '\\':
      case '/':
        c = '_';
        break;
      default:
        break;
    }
  }
  return r;
}

std::optional<size_t> find_instance(const ObjectDef& obj, const std::vector<Instance>& list,
                                    std::string_view name, uint32_t index) {
  if (obj.strip_trailing_slash && name.size() > 1 && name.back() == '/') name.remove_suffix(1);
  // A name given exactly, without an index, is that instance: mount points
  // and interface names differ by case alone on Linux.
  if (index == 0) {
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i].name == name) return i;
    }
  }
  // Otherwise duplicates form one group ignoring case; '#k' picks the k-th
  // member in the order enumerate() gave, which is the order the display
  // names carry.
  std::vector<size_t> group;
  for (size_t i = 0; i < list.size(); ++i) {
    if (iequals(list[i].name, name)) group.push_back(i);
  }
  const size_t cut = obj.truncated_name_len;
  if (group.empty() && cut > 0 && name.size() > cut) {
    std::string_view head = name.substr(0, cut);
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i].name.size() == cut && iequals(list[i].name, head)) group.push_back(i);
    }
  }
  if (index >= group.size()) return std::nullopt;
  return group[index];
}

double cap_percent(double v) {
  if (v < 0.0) return 0.0;
  if (v > 100.0) return 100.0;
  return v;
}

}  // namespace perfdata::linux_backend
