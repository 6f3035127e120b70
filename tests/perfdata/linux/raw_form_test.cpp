// Every catalogue row, over a tree that holds every source: the formatted
// value of each instance is its counter type's formula over the raw records
// of the same two collections, and the raw array names and orders the
// instances as the formatted one does.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "perfdata/counter_types.h"
#include "tests/perfdata/linux/proc_tree.h"

namespace {

namespace lb = perfdata::linux_backend;
using proc_tree::Tree;

std::string n(uint64_t base, uint64_t step, int k) { return std::to_string(base + step * k); }

std::string process(int pid, const std::string& comm, uint64_t start, int k) {
  return std::to_string(pid) + " (" + comm + ") S 1 1 1 0 -1 0 " + n(10, 5, k) + " 0 1 0 " +
         n(100, 30, k) + " " + n(50, 10, k) + " 0 0 20 0 3 0 " + std::to_string(start) +
         " 9000000 120 0 0 0 0 0 0\n";
}

// Step k of the machine: counts advance with k; process 200 ends after step
// 0 and process 300 starts, so _Total keeps counting across them.
void snapshot(const Tree& t, int k) {
  t.write("proc/stat", "cpu  " + n(1000, 70, k) + " 100 " + n(200, 30, k) + " " + n(5000, 80, k) +
                           " " + n(300, 20, k) + " 40 " + n(60, 5, k) + " 100 0 0\ncpu0 " +
                           n(500, 40, k) + " 50 100 " + n(2500, 30, k) + " 150 20 30 50 0 0\n" +
                           "ctxt " + n(10, 400, k) + "\nprocs_running 3\n");
  t.write("proc/interrupts", "      CPU0\n 0: " + n(4294967290, 20, k) + " timer\n");
  t.write("proc/uptime", n(1000, 2, k) + ".50 1900.00\n");
  t.write("proc/meminfo",
          "MemTotal: 8000 kB\nMemFree: " + n(3000, 8, k) +
              " kB\nMemAvailable: 5000 kB\nBuffers: 100 kB\nCached: 900 kB\nSwapTotal: 1000 "
              "kB\nDirty: 8 kB\nWriteback: 0 kB\nSReclaimable: 50 kB\nCommitted_AS: " +
              n(4000, 100, k) + " kB\nCommitLimit: 4500 kB\n");
  t.write("proc/vmstat", "pgfault " + n(900, 90, k) + "\npgmajfault " + n(9, 3, k) + "\npgpgin " +
                             n(800, 64, k) + "\npgpgout " + n(400, 8, k) + "\n");
  t.write("proc/sys/vm/overcommit_memory", "0\n");
  t.write("proc/swaps",
          "Filename Type Size Used Priority\n/swapfile file 1000 " + n(100, 50, k) + " -2\n");
  t.write("proc/diskstats", "   8 0 sda " + n(100, 20, k) + " 0 " + n(1000, 400, k) + " " +
                                n(4294967000, 1000, k) + " " + n(50, 20, k) + " 0 " +
                                n(800, 400, k) + " " + n(200, 60, k) + " 2 " + n(1000, 500, k) +
                                " " + n(3000, 1000, k) + "\n 252 16 vdb " + n(5, 10, k) +
                                " 0 40 50 0 0 0 0 0 100 100\n");
  t.write("proc/self/mountinfo", "36 35 8:0 / / rw - ext4 /dev/sda rw\n");
  t.write("proc/net/dev", "Inter-| Receive\n face |bytes\n  eth0: " + n(3000, 700, k) + " " +
                              n(30, 7, k) + " 1 2 0 0 0 0 " + n(900, 300, k) + " " + n(9, 3, k) +
                              " 3 4 0 0 0 0\n");
  t.write("sys/class/net/eth0/speed", "1000\n");
  t.write("proc/net/snmp",
          "Tcp: ActiveOpens PassiveOpens AttemptFails EstabResets InSegs OutSegs RetransSegs\n"
          "Tcp: 5 6 7 8 " +
              n(100, 40, k) + " " + n(90, 30, k) + " " + n(3, 1, k) + "\n");
  t.write("proc/net/tcp", "  sl local rem st\n   0: 0 0 01\n");
  for (int pid : {100, 200 + 100 * k}) {
    const std::string dir = "proc/" + std::to_string(pid) + "/";
    t.write(dir + "stat", process(pid, pid == 100 ? "app" : "job", pid == 300 ? 1100 : 900, k));
    t.write(dir + "status",
            "VmPeak:\t 900 kB\nVmSize:\t 800 kB\nVmHWM:\t 300 kB\nRssAnon:\t 40 kB\n"
            "VmData:\t 60 kB\nVmStk:\t 4 kB\n");
    t.write(dir + "io", "rchar: " + n(1000, 512, k) + "\nwchar: 7\nsyscr: 3\nsyscw: 1\n");
    t.write(dir + "fd/0", "");
  }
  t.remove("proc/" + std::to_string(300 - 100 * k));
}

std::map<std::string, perfdata::RawCounter> by_name(const std::vector<perfdata::RawArrayItem>& v) {
  std::map<std::string, perfdata::RawCounter> m;
  for (const auto& item : v) m[item.name] = item.raw;
  return m;
}

TEST(RawForm, EveryRowIsItsTypesFormulaOverItsRawRecords) {
  Tree t;
  for (const char* d : {"sda", "vdb"}) {
    t.write(std::string("sys/devices/") + d + "/uevent", "");
    t.write(std::string("sys/block/") + d + "/size", "1000\n");
    std::filesystem::create_directory_symlink(t.dir() + "/sys/devices/" + d,
                                              t.dir() + "/sys/block/" + d + "/device");
  }
  t.filesystems["/"] = {4096, 1000, 400, 300};
  snapshot(t, 0);
  lb::Query q(t.env());
  struct Added {
    const lb::ObjectDef* obj;
    const lb::CounterDef* row;
    lb::Counter* counter;
    std::vector<perfdata::RawArrayItem> first;
  };
  std::vector<Added> added;
  for (const lb::ObjectDef* obj : lb::all_objects()) {
    for (const lb::CounterDef& row : obj->counters) {
      const std::string path =
          std::string("\\") + obj->name + (obj->multi_instance ? "(*)" : "") + "\\" + row.name;
      lb::Counter* c = nullptr;
      ASSERT_EQ(obj->multi_instance ? q.add_array(path, &c) : q.add(path, &c), 0u) << path;
      added.push_back({obj, &row, c, {}});
    }
  }
  q.collect();
  for (Added& a : added) a.counter->raw_array(a.first);
  snapshot(t, 1);
  t.advance(2.0);
  q.collect();
  for (const Added& a : added) {
    SCOPED_TRACE(std::string(a.obj->name) + "\\" + a.row->name);
    const perfdata::CounterInfo info = lb::counter_info(*a.row, t.env());
    std::vector<perfdata::RawArrayItem> second;
    const perfdata::Status st = a.counter->raw_array(second);
    // A row has its type's formula or its own, never both, and says why
    // when it has no type.
    EXPECT_EQ(info.type == 0, a.row->value != nullptr);
    ASSERT_NE(a.row->raw.form, nullptr);
    if (info.type == 0) {
      EXPECT_EQ(st, perfdata::NOT_IMPLEMENTED);
      continue;
    }
    ASSERT_EQ(st, 0u);
    std::vector<perfdata::ArrayItem> items;
    a.counter->format_array(perfdata::FMT_DOUBLE, items);
    const auto older = by_name(a.first), newer = by_name(second);
    size_t valid = 0, at = 0;
    for (const perfdata::ArrayItem& item : items) {
      SCOPED_TRACE(item.name);
      // The raw array holds the formatted items in the same order.
      while (at < second.size() && second[at].name != item.name) ++at;
      ASSERT_LT(at, second.size());
      auto old = older.find(item.name);
      perfdata::CounterValue cv;
      perfdata::counter_value(info.type, info.time_base, perfdata::FMT_DOUBLE, &newer.at(item.name),
                              old == older.end() ? nullptr : &old->second, &cv);
      EXPECT_EQ(item.c_status, cv.c_status);
      EXPECT_EQ(item.value, cv.value);
      valid += item.c_status == 0;
    }
    EXPECT_GT(valid, 0u);
  }
}

}  // namespace
