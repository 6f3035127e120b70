#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/discovery.h"

#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/machine.h"
#include "perfdata/paths.h"

namespace perfdata::linux_backend {

namespace {

// Every instance of `obj` now; false when its primary source cannot be read.
bool list_instances(const Env& env, const ObjectDef& obj, std::vector<Instance>& list) {
  Request every;
  every.every = true;
  Pass pass;
  obj.pass(env, every, pass);
  list = std::move(pass.instances);
  return pass.ok;
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
  if (obj == nullptr || !list_instances(env, *obj, list)) return CSTATUS_NO_OBJECT;
  for (const CounterDef& row : obj->counters) counters.push_back(counter_info(row, env));
  if (obj->multi_instance) instances = numbered_names(list);
  return 0;
}

Status expand_wildcard_path(const Env& env, const std::string& path,
                            std::vector<std::string>& paths) {
  paths.clear();
  ParsedPath pp;
  if (Status st = parse_path(strip_own_machine(path), pp, true); st != 0) return st;
  if (pp.object.find('*') != std::string::npos || pp.machine.find('*') != std::string::npos) {
    return CSTATUS_BAD_COUNTERNAME;
  }
  if (pp.has_machine && !is_local_machine(pp.machine)) return CSTATUS_NO_MACHINE;
  const ObjectDef* obj = find_object(pp.object);
  std::vector<Instance> list;
  if (obj == nullptr || !list_instances(env, *obj, list)) return CSTATUS_NO_OBJECT;
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
  const std::vector<std::string> names = numbered_names(list);
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string& name = names[i];
    if (!instance_matches(*obj, pattern, list[i].name,
                          std::string_view(name).substr(list[i].name.size())))
      continue;
    for (const CounterDef* row : rows) paths.push_back(join_path(obj->name, &name, row->name));
  }
  return 0;
}

}  // namespace perfdata::linux_backend
