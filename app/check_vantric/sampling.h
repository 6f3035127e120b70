// The counters of a check request sampled and read into a CheckResult.
//
// Each counter is added by its English name on the local computer,
// described (kind, unit, explanation; percent counters get the unit '%'),
// collected once, then -n times -s milliseconds apart (once without a pause
// for -s 0, which only gauges survive), and its readings averaged. A '*' in
// the counter part stands for every counter of the object whose name it
// matches (the object's counter list, read once). A '*' in the instance part
// makes the path one array counter, read whole at every round: an instance
// that is not in a round's array (it started later, or ended) is left out of
// that round, and its value is the mean of the rounds it was present in; one
// that is in it but cannot be read (no permission, a reset, no progress) is
// reported UNKNOWN with the status in words from its first such round on. A
// wildcard path that gives no instance in any round (none matched, or every
// match ended) goes to `unmatched`, which counts as the --missing state. A
// counter without a value carries the reason and the state UNKNOWN, or the
// --missing state for an instance that does not exist; a missing object adds
// what the system can tell of its cause (perfdata::describe_missing_object).
// With --no-cap, percentages are read with FMT_NOCAP100 and marked uncapped.
// Where the system has no counter arrays (NOT_IMPLEMENTED at the add), the
// path is expanded into one counter per instance instead, and a match that
// ends before it is read is left out while others of its path were read.
// Each counter result names the path it came from (`source`, the index in
// Request::paths); its state is UNKNOWN or the --missing state without a
// value, else OK: thresholds and labels are applied over the result
// (plugin::apply_thresholds, plugin::assign_labels). Instances are listed in
// the array's order with "_Total" first, as discovery lists them. A check
// that cannot run at all gives a result with only its `problem`: no query
// can be opened ("cannot open a performance-data query: <status words>"),
// or a wildcard path meets a system with neither arrays nor wildcard
// expansion ("this system does not provide wildcard expansion (<call>)").
//
//   -p '\Processor(*)\% Idle Time' -s 0  -> one result for the path, with
//   the problem "is a percent counter: it needs two samples (-s greater than 0)"
#pragma once

#include "app/check_vantric/options.h"
#include "plugin/check_result.h"

namespace check_vantric {

plugin::CheckResult check_counters(const Request& request);

}  // namespace check_vantric
