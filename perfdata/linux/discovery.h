// Discovery over the catalogue: the objects, one object's counters and
// current instances, and the expansion of a path holding '*'.
//
// Example (two CPUs): enum_object_items(env, "processor", c, i) gives the
// seven Processor rows and {"_Total", "0", "1"};
// expand_wildcard_path(env, "\\Processor(*)\\% Idle*", p) gives
// {"\Processor(_Total)\% Idle Time", "\Processor(0)\% Idle Time",
//  "\Processor(1)\% Idle Time"}.
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <string>
#include <vector>

#include "perfdata/linux/env.h"
#include "perfdata/perfdata.h"

namespace perfdata::linux_backend {

// Every served object, in catalogue order. Always 0.
Status enum_objects(const Env& env, std::vector<std::string>& objects);

// The object's rows (with kind, unit, explanation, source) and its instances
// as a path names them: duplicates as "name#k", _Total where served, none for
// a single-instance object. CSTATUS_NO_OBJECT for an unknown object or one
// whose primary source cannot be read.
Status enum_object_items(const Env& env, const std::string& object,
                         std::vector<CounterInfo>& counters, std::vector<std::string>& instances);

// The paths that `path` matches now, '*' standing for any run of bytes in
// the instance or the counter (ASCII case folded); the machine part, when
// given, must be local. The object must be named without '*'.
// BAD_COUNTERNAME (syntax), NO_MACHINE, NO_OBJECT, or 0 with the matches in
// instance order, then counter order (possibly none).
Status expand_wildcard_path(const Env& env, const std::string& path,
                            std::vector<std::string>& paths);

}  // namespace perfdata::linux_backend
