// Whether the machine part of a counter path names this computer.
#pragma once

#include <string_view>

#include "perfdata/linux/env.h"

namespace perfdata::linux_backend {

// True when `machine` names this computer: ".", "localhost", "127.0.0.1", the
// host name from <root>/proc/sys/kernel/hostname or its first label, the
// computer name cut from it, or a dotted name whose first label is a dot-free
// host name; ASCII case ignored. No resolver is asked.
// is_local_machine(env, "VM.lan") = true on host "vm".
bool is_local_machine(const Env& env, std::string_view machine);

}  // namespace perfdata::linux_backend
