#ifndef __linux__
#error "this perfdata backend file belongs to another system's build"
#endif

#include "perfdata/linux/machine.h"

#include <string>

#include "perfdata/linux/text.h"
#include "platform/computer_name.h"

namespace perfdata::linux_backend {

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
  // A path built from the computer name, which is the host name cut short,
  // must still name this machine.
  return iequals(machine, platform::computer_name_of(host));
}

}  // namespace perfdata::linux_backend
