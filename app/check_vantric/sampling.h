// The counters of a check request sampled and read into a CheckResult.
//
// A path with '*' is expanded first; one that matches nothing goes to
// `unmatched`. Each counter is added by its English name on the local
// computer, described (kind, unit, explanation; percent counters get the
// unit '%'), collected once, then -n times -s milliseconds apart (once
// without a pause for -s 0, which only gauges survive), and its readings
// averaged. A counter without a value carries the reason and the state
// UNKNOWN, or the --missing state for an instance that does not exist. A
// matched instance that ended before it was read (as processes do) is left
// out while others of its path were read; when every match of every path
// ended, the paths count as unmatched. Values are held against the critical
// range, then the warning range of the path they came from (Request::bounds);
// labels come from -l (plugin::assign_labels).
// Ends the run through fail() when no query can be opened or the system
// cannot expand wildcards.
//
//   -p '\Processor(*)\% Idle Time' -s 0  -> every Processor instance with
//   the problem "is a percent counter: it needs two samples (-s greater than 0)"
#pragma once

#include "app/check_vantric/options.h"
#include "plugin/check_result.h"

namespace check_vantric {

plugin::CheckResult check_counters(const Request& request);

}  // namespace check_vantric
