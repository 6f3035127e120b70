// Whether the machine part of a counter path names this computer.
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <string_view>

namespace perfdata::linux_backend {

// True when `machine` names this computer: ".", "localhost", "127.0.0.1", the
// node name H (system_calls.node_name) or its first label, the computer name cut from
// H, or a dotted name whose first label is a dot-free H; ASCII case ignored.
// No resolver is asked. is_local_machine("VM.lan") = true on node "vm".
bool is_local_machine(std::string_view machine);

// `path` without its machine part when that part is exactly this computer's
// node name or computer name (ASCII case ignored), else `path` as it is. The
// sampler writes "\\" + computer name before every path, and a node name
// may hold '*' or '\', which the path grammar cannot carry; so this computer
// is recognised before the rest is parsed.
// strip_own_machine("\\we*rd\\Memory\\Pages/sec") = "\\Memory\\Pages/sec"
// on node "we*rd".
std::string_view strip_own_machine(std::string_view path);

}  // namespace perfdata::linux_backend
