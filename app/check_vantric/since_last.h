// A check judged over the whole time since its previous run (--since-last):
// the counters' raw records of the last run are kept in a state file
// (platform/state_file.h, perfdata/sample_state.h), and this run's records
// of one collection are paired with them by each counter type's formula, so
// a check every five minutes gets the five-minute mean without a pause.
//
// The state file is "vantric-<key>.state" in Request::state_dir, else
// platform::state_directory's default; the key (perfdata::state_key) is
// over the paths as checked, ASCII case folded, and --no-cap. It is opened
// and locked before the first collection, so a second run of the same
// check waits for the first and then finds a window too short to judge.
//
// A counter without a usable stored record (first run, another boot, from
// the future, older than --max-age, another counter type or time base, a
// value that went down other than by a 32-bit wrap, a state file that is
// damaged or of another check, a window under 100 ms, or a counter that has
// no raw series on this system) is left unsettled: the caller takes today's
// pair over -s for it. An array is settled when at least one of its
// instances pairs; an instance that cannot (one that began since the last
// run, a process whose id or start time differs, a reset) is then left out
// with its reason rather than paused for. A process is matched by its id
// and start time (the ID Process and Elapsed Time arrays of the same
// instances, added here); where these have no raw series a process array
// is never paired. Whatever was judged, the newest records are stored
// (a too-short window keeps the stored record instead).
//
// Failures: only a state file that cannot be opened safely stops the check
// (open's `problem`: "state: /tmp/s is writable by others and not sticky:
// refused"); everything else falls back to the pair over -s and is told
// in the window's lines.
//
//   SinceLast since(request);
//   if (!since.open(query, prefix, sources, &problem)) ...;  // UNKNOWN
//   collect_query_data(query);
//   if (!since.pair(sources)) ... pause, collect, read the unsettled ones ...;
//   since.store(sources, paused, &result.window);
//   -> window.lines {"window: 300.2 s since the last run", "state: /var/lib/vantric/vantric-....state"}
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/check_vantric/options.h"
#include "perfdata/perfdata.h"
#include "plugin/check_result.h"

namespace check_vantric {

// One counter the check reads: a plain counter or an array, as added.
struct SinceSource {
  perfdata::Counter counter = nullptr;
  std::string path;  // as checked; for an array the wildcard path
  bool array = false;
  // Set by pair(): the values come from the stored records, no pause needed.
  bool settled = false;
  double value = 0.0;                                  // a settled plain counter
  std::vector<std::pair<std::string, double>> values;  // a settled array: instance, value
};

class SinceLast {
 public:
  explicit SinceLast(const Request& request);
  ~SinceLast();
  SinceLast(const SinceLast&) = delete;
  SinceLast& operator=(const SinceLast&) = delete;

  // Before the first collection: opens and locks the state file and adds
  // the identity arrays of process arrays to `query` (`prefix` the
  // computer part of the paths). False with `problem` when the state file
  // cannot be used safely; nothing is held then.
  bool open(perfdata::Query query, const std::string& prefix,
            const std::vector<SinceSource>& sources, std::string* problem);

  // After one collection: pairs today's records with the stored ones and
  // settles what it can. True when every source is settled.
  bool pair(std::vector<SinceSource>& sources);

  // After the last collection (`again`: later collections followed pair's,
  // whose records are read anew): replaces the state, closes it, and tells
  // the window in `window`.
  void store(const std::vector<SinceSource>& sources, bool again, plugin::Window* window);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace check_vantric
