#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/machine.h"

#include <string>

#include "perfdata/linux/system_calls.h"
#include "perfdata/linux/text.h"
#include "platform/computer_name.h"

namespace perfdata::linux_backend {

bool is_local_machine(std::string_view machine) {
  if (machine == "." || iequals(machine, "localhost") || machine == "127.0.0.1") return true;
  const std::string node = system_calls.node_name();
  const std::string_view host = node;
  if (host.empty()) return false;
  if (iequals(machine, host)) return true;
  size_t dot = host.find('.');
  if (dot != std::string_view::npos && iequals(machine, host.substr(0, dot))) return true;
  size_t mdot = machine.find('.');
  if (dot == std::string_view::npos && mdot != std::string_view::npos &&
      iequals(machine.substr(0, mdot), host)) {
    return true;
  }
  // A path built from the computer name, which is the host name cut short,
  // must still name this machine.
  return iequals(machine, platform::computer_name_of(host));
}

std::string_view strip_own_machine(std::string_view path) {
  if (path.size() < 3 || path[0] != '\\' || path[1] != '\\') return path;
  const std::string node = system_calls.node_name();
  if (node.empty()) return path;
  // The longer name first: a node name whose first 15 bytes are followed by
  // '\' must not be cut at the computer name.
  for (const std::string& name : {node, platform::computer_name_of(node)}) {
    const size_t end = 2 + name.size();
    if (path.size() > end && path[end] == '\\' && iequals(path.substr(2, name.size()), name)) {
      return path.substr(end);
    }
  }
  return path;
}

}  // namespace perfdata::linux_backend
