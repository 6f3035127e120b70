#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/discovery.h"

#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/machine.h"
#include "perfdata/paths.h"

namespace perfdata::linux_backend {

namespace {

// The instance names as a path gives them; '#k' numbering follows the
// group order enumerate() returns.
std::vector<std::string> path_names(const std::vector<Instance>& list) {
  std::vector<std::string> names;
  names.reserve(list.size());
  for (const Instance& inst : list) names.push_back(inst.name);
  return number_duplicates(names);
}

}  // namespace

Status enum_objects(const Env&, std::vector<std::string>& objects) {
  objects.clear();
  for (const ObjectDef* obj : all_objects()) objects.emplace_back(obj->name);
  return 0;
}

Status enum_object_items(const Env& env, const std::string& object,
                         std::vector<CounterInfo>& counters, std::vector<std::string>& instances) {
  counters.clear();
  instances.clear();
  const ObjectDef* obj = find_object(object);
  std::vector<Instance> list;
  if (obj == nullptr || !obj->enumerate(env, list)) return CSTATUS_NO_OBJECT;
  for (const CounterDef& row : obj->counters) counters.push_back(counter_info(row));
  if (obj->multi_instance) instances = path_names(list);
  return 0;
}

Status expand_wildcard_path(const Env& env, const std::string& path,
                            std::vector<std::string>& paths) {
  paths.clear();
  ParsedPath pp;
  if (Status st = parse_path(strip_own_machine(env, path), pp, true); st != 0) return st;
  if (pp.object.find('*') != std::string::npos || pp.machine.find('*') != std::string::npos) {
    return CSTATUS_BAD_COUNTERNAME;
  }
  if (pp.has_machine && !is_local_machine(env, pp.machine)) return CSTATUS_NO_MACHINE;
  const ObjectDef* obj = find_object(pp.object);
  std::vector<Instance> list;
  if (obj == nullptr || !obj->enumerate(env, list)) return CSTATUS_NO_OBJECT;
  std::vector<const CounterDef*> rows;
  for (const CounterDef& row : obj->counters) {
    if (wildcard_match(pp.counter, row.name)) rows.push_back(&row);
  }
  if (!obj->multi_instance) {
    // Single-instance objects only match a path without an instance.
    if (pp.has_instance) return 0;
    for (const CounterDef* row : rows) paths.push_back(join_path(obj->name, nullptr, row->name));
    return 0;
  }
  if (!pp.has_instance) return 0;
  // The pattern is matched against the name a path would carry, index and all.
  std::string pattern = pp.instance;
  if (pp.index != 0) pattern += "#" + std::to_string(pp.index);
  for (const std::string& name : path_names(list)) {
    if (!wildcard_match(pattern, name)) continue;
    for (const CounterDef* row : rows) paths.push_back(join_path(obj->name, &name, row->name));
  }
  return 0;
}

}  // namespace perfdata::linux_backend
