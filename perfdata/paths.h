// Counter-path grammar and name matching shared by the backends that serve
// counters themselves (Linux and the table); the Windows backend leaves both
// to the system.
//
// Grammar: ["\\" machine] "\" object ["(" instance ["#" index] ")"] "\" counter.
// The instance ends at the LAST ")\" so names holding '(', ')' or '\'
// survive: "\Process(a(b))\ID Process" gives instance "a(b)".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "perfdata/perfdata.h"

namespace perfdata {

constexpr size_t kMaxCounterPath = 2047;

// The parts of "[\\machine]\object[(instance[#index])]\counter": a counter
// path as a value, parsed once, written back by join_path.
struct ParsedPath {
  bool has_machine = false;
  std::string machine;
  std::string object;
  bool has_instance = false;
  std::string instance;          // without the '#index' suffix
  uint32_t index = 0;            // '#0' and no suffix both give 0
  std::string written_instance;  // as the path writes it, '#index' included
  std::string counter;
};

// Syntax only: 0 or CSTATUS_BAD_COUNTERNAME (empty, over 2047 bytes, no
// leading '\', an empty part, "()", an object holding ')', a counter holding
// '\'). A '*' anywhere is BAD_COUNTERNAME unless `allow_wildcards` (expansion
// patterns); '#k' is then not split off an instance holding '*'.
// A path that is refused is still split as far as it can be told, for
// showing it: the instance from the first '(' to the last ")\", the counter
// after the last '\', the object before either ("\A\B\C": object "A\B",
// counter "C"; "\X": object "X"); no machine, no index.
Status parse_path(std::string_view path, ParsedPath& out, bool allow_wildcards = false);

// parse_path for an array counter: '*' is allowed in the instance only; one
// in the machine, the object or the counter is CSTATUS_BAD_COUNTERNAME.
// "\Process(svc*)\ID Process" -> 0, instance "svc*"; "\Process(*)\*" -> BAD.
Status parse_array_path(std::string_view path, ParsedPath& out);

// ASCII-only case folding ('A'-'Z' -> 'a'-'z'); never locale dependent.
constexpr char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c; }
bool iequals(std::string_view a, std::string_view b);
std::string folded(std::string_view s);

// '*' matches any run of bytes (also none), every other byte itself ignoring
// ASCII case. wildcard_match("*disk*", "PhysicalDisk") = true.
bool wildcard_match(std::string_view pattern, std::string_view text);

// Display names for instances given in group order: the first of a group of
// names equal ignoring case keeps its name, the k-th becomes "name#k".
// {"sh", "bash", "SH"} -> {"sh", "bash", "SH#1"}.
std::vector<std::string> number_duplicates(const std::vector<std::string>& names);

// "\Object(Instance)\Counter", or "\Object\Counter" without an instance.
std::string join_path(std::string_view object, const std::string* instance,
                      std::string_view counter);
// The same for a parsed path, its machine and its instance as written:
// join_path(p) == path for every path that parse_path accepts.
std::string join_path(const ParsedPath& path);

}  // namespace perfdata
