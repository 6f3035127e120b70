#include "plugin/render_openmetrics.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using plugin::CounterResult;

TEST(RenderOpenMetrics, Names) {
  struct Row {
    int line;
    const char *object, *counter, *unit, *name, *metric_unit;
    double scale;
  };
  const Row rows[] = {
      {__LINE__, "Processor", "% Processor Time", "%", "vantric_processor_processor_time_ratio",
       "ratio", 0.01},
      {__LINE__, "Memory", "Cache (Data) Bytes", "B", "vantric_memory_cache_data_bytes", "bytes",
       1},
      {__LINE__, "Memory", "Available KBytes", "", "vantric_memory_available_bytes", "bytes", 1024},
      {__LINE__, "LogicalDisk", "Free Megabytes", "", "vantric_logical_disk_free_bytes", "bytes",
       1048576},
      {__LINE__, "Network Interface", "Bytes Total/sec", "",
       "vantric_network_interface_bytes_per_second", "", 1},
      {__LINE__, "PhysicalDisk", "Avg. Disk sec/Read", "s",
       "vantric_physical_disk_avg_disk_per_read_seconds", "seconds", 1},
      {__LINE__, "Process", "Virtual Bytes Peak", "B", "vantric_process_virtual_peak_bytes",
       "bytes", 1},
      {__LINE__, "Process", "Handle Count", "", "vantric_process_handles", "", 1},
      {__LINE__, "System", "Processes", "", "vantric_system_processes", "", 1},
      {__LINE__, "TCPv4", "Segments Retransmitted/sec", "",
       "vantric_tcpv4_segments_retransmitted_per_second", "", 1},
      {__LINE__, "3D Engine", "2nd \"Counter\"\\x\nSum", "", "vantric_3d_engine_2nd_x_sum_value",
       "", 1},
      {__LINE__, "Up", "Total", "", "vantric_up_value", "", 1},
      {__LINE__, "Caf\xC3\xA9", "Elapsed Time", "s", "vantric_caf_elapsed_time_seconds", "seconds",
       1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const plugin::MetricName m = plugin::openmetrics_name(row.object, row.counter, row.unit);
    EXPECT_EQ(m.name, row.name);
    EXPECT_EQ(m.unit, row.metric_unit);
    EXPECT_EQ(m.scale, row.scale);
  }
}

CounterResult counter(const char* object, const char* instance, const char* name, const char* kind,
                      const char* unit, double value) {
  CounterResult c;
  c.object = object, c.instance = instance, c.counter = name, c.kind = kind, c.unit = unit;
  c.path = std::string("\\") + object + (*instance ? std::string("(") + instance + ")" : "") +
           "\\" + name;
  c.has_value = !std::isnan(value);
  c.value = value;
  if (!c.has_value) c.problem = "no such instance";
  return c;
}

TEST(RenderOpenMetrics, Document) {
  plugin::CheckResult r;
  r.counters = {
      counter("Processor", "_Total", "% Processor Time", "percent", "%", 12.5),
      counter("Processor", "a\"b\\c\nd\xE9", "% Processor Time", "percent", "%", 50),
      counter("Processor", "_Total", "% Processor Time", "percent", "%", 12.5),  // twice
      // Three names that a Latin-1 reading or an unescaped "\x" would merge.
      counter("Processor", "\xE9", "% Processor Time", "percent", "%", 1),
      counter("Processor", "\xC3\xA9", "% Processor Time", "percent", "%", 2),
      counter("Processor", "\\xe9", "% Processor Time", "percent", "%", 3),
      counter("Processor", "gone", "% Processor Time", "percent", "%", NAN),
      counter("Memory", "", "Available Bytes", "gauge", "B", 1e21),
      counter("Memory", "", "Available KBytes", "gauge", "", 2),
      counter("Network Interface", "lo", "Bytes Total/sec", "rate", "", 0.25),
  };
  r.counters[7].explanation = "Free \"now\"";
  r.unmatched = {"\\Process(zz*)\\Working Set"};
  EXPECT_EQ(
      plugin::render_openmetrics(r),
      "# TYPE vantric_processor_processor_time_ratio gauge\n"
      "# UNIT vantric_processor_processor_time_ratio ratio\n"
      "# HELP vantric_processor_processor_time_ratio \\\\Processor\\\\% Processor Time "
      "(share of the sampling interval, ratio 0-1)\n"
      "vantric_processor_processor_time_ratio{vantric_instance=\"_Total\"} 0.125\n"
      "vantric_processor_processor_time_ratio{vantric_instance=\"a\\\"b\\\\c\\nd\\\\xe9\"} 0.5\n"
      "vantric_processor_processor_time_ratio{vantric_instance=\"\\\\xe9\"} 0.01\n"
      "vantric_processor_processor_time_ratio{vantric_instance=\"\xC3\xA9\"} 0.02\n"
      "vantric_processor_processor_time_ratio{vantric_instance=\"\\\\\\\\xe9\"} 0.03\n"
      "# TYPE vantric_memory_available_bytes gauge\n"
      "# UNIT vantric_memory_available_bytes bytes\n"
      "# HELP vantric_memory_available_bytes Free 'now'\n"
      "vantric_memory_available_bytes{vantric_object=\"Memory\",vantric_counter=\"Available "
      "Bytes\"} 1e+21\n"
      "vantric_memory_available_bytes{vantric_object=\"Memory\",vantric_counter=\"Available "
      "KBytes\"} 2048\n"
      "# TYPE vantric_network_interface_bytes_per_second gauge\n"
      "# HELP vantric_network_interface_bytes_per_second \\\\Network Interface\\\\Bytes "
      "Total/sec (per second, the rate over the sampling interval)\n"
      "vantric_network_interface_bytes_per_second{vantric_instance=\"lo\"} 0.25\n"
      "# TYPE vantric_up gauge\n"
      "# HELP vantric_up 1 when the counter at path was read, 0 when it had no value or the "
      "path matched nothing\n"
      "vantric_up{path=\"\\\\Processor(_Total)\\\\% Processor Time\"} 1\n"
      "vantric_up{path=\"\\\\Processor(a\\\"b\\\\c\\nd\\\\xe9)\\\\% Processor Time\"} 1\n"
      "vantric_up{path=\"\\\\Processor(\\\\xe9)\\\\% Processor Time\"} 1\n"
      "vantric_up{path=\"\\\\Processor(\xC3\xA9)\\\\% Processor Time\"} 1\n"
      "vantric_up{path=\"\\\\Processor(\\\\\\\\xe9)\\\\% Processor Time\"} 1\n"
      "vantric_up{path=\"\\\\Processor(gone)\\\\% Processor Time\"} 0\n"
      "vantric_up{path=\"\\\\Memory\\\\Available Bytes\"} 1\n"
      "vantric_up{path=\"\\\\Memory\\\\Available KBytes\"} 1\n"
      "vantric_up{path=\"\\\\Network Interface(lo)\\\\Bytes Total/sec\"} 1\n"
      "vantric_up{path=\"\\\\Process(zz*)\\\\Working Set\"} 0\n"
      "# EOF\n");
}

TEST(RenderOpenMetrics, TotalsNamesAndTypes) {
  using Shape = plugin::Totals::Shape;
  struct Row {
    int line;
    const char *object, *counter, *unit;
    plugin::Totals totals;
    const char *name, *metric_unit;
  };
  const plugin::Totals busy{Shape::counter, 0, 0, true, true, false};
  const plugin::Totals count{Shape::counter, 0, 0, false, false, false};
  const plugin::Totals average{Shape::pair, 0, 0, true, false, false};
  const Row rows[] = {
      {__LINE__, "Processor", "% Processor Time", "%", busy, "vantric_processor_busy_seconds",
       "seconds"},
      {__LINE__, "Network Interface", "Bytes Total/sec", "", count,
       "vantric_network_interface_bytes", "bytes"},
      {__LINE__, "PhysicalDisk", "Avg. Disk sec/Read", "s", average,
       "vantric_physical_disk_disk_read_seconds", "seconds"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const plugin::MetricName m =
        plugin::openmetrics_totals_name(row.object, row.counter, row.unit, row.totals);
    EXPECT_EQ(m.name, row.name);
    EXPECT_EQ(m.unit, row.metric_unit);
  }
  // Counter samples end in _total (so do its metadata names in the older format).
  plugin::CheckResult r;
  r.counters = {counter("Processor", "0", "% Processor Time", "percent", "%", 1),
                counter("PhysicalDisk", "0", "Avg. Disk sec/Read", "average", "s", 1)};
  r.counters[0].totals = {Shape::counter, 6, 0, true, true, false};
  r.counters[0].process_id = "7";
  r.counters[1].totals = {Shape::pair, 0.5, 10, true, false, false};
  for (const auto text : {plugin::TextFormat::openmetrics, plugin::TextFormat::prometheus}) {
    const std::string out = plugin::render_openmetrics(r, text);
    const bool om = text == plugin::TextFormat::openmetrics;
    EXPECT_NE(out.find(om ? "# TYPE vantric_processor_busy_seconds counter\n"
                          : "# TYPE vantric_processor_busy_seconds_total counter\n"),
              std::string::npos);
    EXPECT_NE(out.find("\nvantric_processor_busy_seconds_total{vantric_instance=\"0\","
                       "vantric_process_id=\"7\"} 6\n"),
              std::string::npos);
    EXPECT_NE(out.find("# TYPE vantric_physical_disk_disk_read_seconds summary\n"
                       "# UNIT vantric_physical_disk_disk_read_seconds seconds\n"),
              std::string::npos);
    EXPECT_NE(
        out.find("_seconds_sum{vantric_instance=\"0\"} 0.5\n"
                 "vantric_physical_disk_disk_read_seconds_count{vantric_instance=\"0\"} 10\n"),
        std::string::npos);
  }
}

}  // namespace
