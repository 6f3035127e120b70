// A check result as the OpenMetrics text a Prometheus server scrapes (also
// what the node exporter's textfile collector reads).
//
// One metric family per metric name, in the order their first counter comes
// in the result, then vantric_up, then "# EOF". A counter with totals
// (CounterResult::totals, what its raw record has counted) is a family of
// type counter (shape counter: one sample "<name>_total") or summary (shape
// pair: "<name>_sum" and "<name>_count", whose rates divided are the
// average); every other counter is a gauge of its value (a rate over the
// sampling interval, not a running total).
//
// Metric name: "vantric_" + object + "_" + counter + unit suffix, lower
// snake case: every run of bytes other than ASCII letters and digits
// separates words, and so does a lower-case letter followed by an upper-case
// one ("PhysicalDisk" -> "physical_disk"; "KBytes", "TCPv4" stay one word).
// In the counter:
//   "/" reads "per", "/sec" (any case) "per_second", a word "sec" "seconds",
//   "%" "percent";
//   unit "%": the value is divided by 100, "percent" words are dropped and
//   the suffix is "_ratio";
//   unit "B" or a word "bytes": suffix "_bytes" (the word moves to the end);
//   without a unit a word "kbytes" (x1024), "mbytes" or "megabytes"
//   (x1048576) turns the value into bytes the same way;
//   unit "s": suffix "_seconds", a word "seconds" in the name moves there;
//   the words "total", "counter", "gauge", "histogram", "summary" and
//   "untyped" are dropped (they claim a metric type the family does not
//   have); a final word "count" becomes a plural "s" on the word before it
//   ("Handle Count" -> "handles"), and a name still ending in "_sum",
//   "_bucket", "_created" or "_info" gets "_value" appended, and so does a
//   name that would be "vantric_up".
// Names of totals (openmetrics_totals_name): the same words, but "/sec"
// (what rate() forms), "%", "avg"/"average", "total" and a "/" are dropped,
// the operations of an average ("sec/Read") stay as words; a timer's unit is
// seconds (its words "time" and "sec" dropped), an inverse timer is named
// "busy" (the time its raw value leaves out), a bulk count of bytes ends in
// "_bytes" (kbytes, megabytes scaled to bytes):
//   "% Processor Time" (inverse) -> vantric_processor_busy_seconds_total
//   "Disk Read Bytes/sec" -> vantric_physical_disk_disk_read_bytes_total
//   "Avg. Disk sec/Read" -> vantric_physical_disk_disk_read_seconds_sum/_count
// A name that a family of another type has taken gets "_" and the type.
// "# UNIT" is written for the suffixes bytes, seconds and ratio; "# HELP" is
// the explanation (else the path), with what the value means for rates,
// averages and percentages, for totals what rate() of the series gives,
// '"' written as "'" so that parsers of the older text format read it too.
// TextFormat::prometheus (the node exporter's textfile collector reads the
// older format) differs in one point: a counter family's metadata lines name
// "<name>_total", as its samples do.
//
// Labels: vantric_instance="<instance>" where the counter has one (never
// "instance" or "job", which Prometheus sets itself), then
// vantric_process_id="<id>" where the counter has a process id. When counters of
// different objects or names collapse to one metric name ("Available Bytes"
// and "Available KBytes"), every sample of that family also carries
// vantric_object and vantric_counter with the original names, so the series
// stay distinct. A sample whose label set already appeared in its family
// (the same path checked twice) is written once.
//
// Label values and HELP: '\' -> "\\", newline -> "\n", '"' -> "\"" (HELP:
// "'"). A byte that is not part of well-formed UTF-8 reads "\xHH" (lower-case
// hex) in the value, and a run of backslashes right before such a byte or
// before an 'x' is doubled, so the text is always valid UTF-8 and every value
// reads back to the original bytes: distinct instances are distinct series.
// Written out: "caf" and the byte E9 -> caf\\xe9; "café" in UTF-8 -> café;
// a\x -> a\\\\x; a\b -> a\\b.
//
// A counter without a value is left out of its family (a family with no
// sample keeps its metadata); vantric_up{path="<path>"} is 1 for each
// counter read and 0 for each counter without a value and each wildcard path
// that matched nothing. Values: shortest round-trip decimal, "NaN", "+Inf",
// "-Inf". No failure: every result has a rendering.
//
//   counters {\LogicalDisk(sda)\% Free Space, fraction, "%", 12.5,
//             explanation "Free share of the file system"}
//   ->
//   # TYPE vantric_logical_disk_free_space_ratio gauge
//   # UNIT vantric_logical_disk_free_space_ratio ratio
//   # HELP vantric_logical_disk_free_space_ratio Free share of the file system (ratio 0-1)
//   vantric_logical_disk_free_space_ratio{vantric_instance="sda"} 0.125
//   # TYPE vantric_up gauge
//   # HELP vantric_up 1 when the counter at path was read, 0 when it had no value or the path matched nothing
//   vantric_up{path="\\LogicalDisk(sda)\\% Free Space"} 1
//   # EOF
#pragma once

#include <string>
#include <string_view>

#include "plugin/check_result.h"

namespace plugin {

struct MetricName {
  std::string name;    // "vantric_memory_available_bytes"
  std::string unit;    // "bytes", "seconds", "ratio" or "" (no # UNIT line)
  double scale = 1.0;  // what the counter's value is multiplied by
};

// The metric name of one counter by the rules above. `unit` is the
// counter's unit ("%", "B", "s" or "").
MetricName openmetrics_name(std::string_view object, std::string_view counter,
                            std::string_view unit);

// The family name of a counter given as totals, by the rules above.
MetricName openmetrics_totals_name(std::string_view object, std::string_view counter,
                                   std::string_view unit, const Totals& totals);

// `prometheus`: the older text format that the node exporter's textfile
// collector reads, where a counter's metadata name its samples ("_total").
enum class TextFormat { openmetrics, prometheus };

std::string render_openmetrics(const CheckResult& result,
                               TextFormat text = TextFormat::openmetrics);

}  // namespace plugin
