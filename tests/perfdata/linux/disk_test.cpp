// PhysicalDisk and LogicalDisk against fixture trees: two diskstats snapshots
// 2 s apart, /sys/block, mountinfo, and an injected statvfs.
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "tests/perfdata/linux/proc_tree.h"

namespace {

using perfdata::linux_backend::Counter;
using perfdata::linux_backend::FsStat;
using perfdata::linux_backend::Query;
using proc_tree::Tree;

constexpr uint32_t kInvalid = perfdata::CSTATUS_INVALID_DATA;

// 17-field rows (f1..f17); sda1 has 11 fields like an old kernel.
const char* const kStats1 =
    "   8       0 sda 100 0 1000 400 50 0 800 200 3 1000 3000 0 0 0 0 0 0\n"
    "   8       1 sda1 10 0 80 8 4 0 40 4 0 10 12\n"
    " 252      16 vdb 5 0 40 50 0 0 0 0 0 100 100 0 0 0 0 0 0\n"
    "   7       0 loop0 1 0 2 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    "  11       0 sr0 1 0 2 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    " 253       0 dm-0 7 0 70 7 0 0 0 0 0 7 7 0 0 0 0 0 0\n";
const char* const kStats2 =
    "   8       0 sda 120 0 1400 440 70 0 1200 260 2 1500 4000 0 0 0 0 0 0\n"
    "   8       1 sda1 20 0 160 18 4 0 40 4 0 20 22\n"
    " 252      16 vdb 15 0 120 150 0 0 0 0 1 2100 2100 0 0 0 0 0 0\n"
    "   7       0 loop0 1 0 2 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    "  11       0 sr0 1 0 2 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    " 253       0 dm-0 12 0 170 7 0 0 0 0 0 7 7 0 0 0 0 0 0\n";

void write_sys_block(const Tree& t) {
  // sda reports 4096-byte logical blocks: diskstats sectors stay 512 bytes.
  for (const char* d : {"sda", "vdb", "sr0"}) {
    t.write(std::string("sys/block/") + d + "/size", "1000\n");
    t.write(std::string("sys/devices/") + d + "/uevent", "");
    std::filesystem::create_directory_symlink(t.dir() + "/sys/devices/" + d,
                                              t.dir() + "/sys/block/" + d + "/device");
  }
  t.write("sys/block/sda/queue/logical_block_size", "4096\n");
  t.write("sys/block/loop0/size", "0\n");
  t.write("sys/block/dm-0/size", "1000\n");
}

struct Row {
  int line;
  std::string path;
  uint32_t status;
  double value;
};

// Adds every path, collects, swaps in `second`, advances 2 s, collects, and
// checks each formatted value (FMT_DOUBLE, or NOCAP100 when flags say so).
void run_rows(const Tree& t, perfdata::linux_backend::Env env, const std::vector<Row>& rows,
              const char* second, uint32_t flags = perfdata::FMT_DOUBLE) {
  Query q(std::move(env));
  std::vector<Counter*> counters;
  for (const Row& row : rows) {
    Counter* c = nullptr;
    SCOPED_TRACE(row.line);
    ASSERT_EQ(q.add(row.path, &c), 0u) << row.path;
    counters.push_back(c);
  }
  q.collect();
  t.write("proc/diskstats", second);
  t.advance(2.0);
  q.collect();
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].line);
    perfdata::linux_backend::FormattedValue v = counters[i]->format(flags);
    EXPECT_EQ(v.c_status, rows[i].status) << rows[i].path;
    if (rows[i].status == 0) {
      EXPECT_NEAR(v.value, rows[i].value, 1e-9) << rows[i].path;
    }
  }
}

TEST(PhysicalDisk, FormulasFromTwoSnapshots) {
  Tree t;
  write_sys_block(t);
  t.write("proc/diskstats", kStats1);
  // sda: d1=20 d3=400 d4=40 d5=20 d7=400 d8=60 d10=500 d11=1000, f9 now 2.
  // vdb (11 counted fields used): d1=10 d3=80 d4=100 d10=2000 d11=2000, f9 now 1.
  const std::vector<Row> rows = {
      {__LINE__, "\\PhysicalDisk(sda)\\Disk Reads/sec", 0, 10},
      {__LINE__, "\\PhysicalDisk(sda)\\Disk Writes/sec", 0, 10},
      {__LINE__, "\\PhysicalDisk(sda)\\Disk Transfers/sec", 0, 20},
      {__LINE__, "\\PhysicalDisk(sda)\\Disk Read Bytes/sec", 0, 400.0 * 512 / 2},
      {__LINE__, "\\PhysicalDisk(sda)\\Disk Write Bytes/sec", 0, 400.0 * 512 / 2},
      {__LINE__, "\\PhysicalDisk(sda)\\Disk Bytes/sec", 0, 800.0 * 512 / 2},
      {__LINE__, "\\PhysicalDisk(sda)\\Avg. Disk sec/Read", 0, 0.040 / 20},
      {__LINE__, "\\PhysicalDisk(sda)\\Avg. Disk sec/Write", 0, 0.060 / 20},
      {__LINE__, "\\PhysicalDisk(sda)\\Avg. Disk sec/Transfer", 0, 0.100 / 40},
      {__LINE__, "\\PhysicalDisk(sda)\\Avg. Disk Queue Length", 0, 0.5},
      {__LINE__, "\\PhysicalDisk(sda)\\Avg. Disk Read Queue Length", 0, 0.02},
      {__LINE__, "\\PhysicalDisk(sda)\\Avg. Disk Write Queue Length", 0, 0.03},
      {__LINE__, "\\PhysicalDisk(sda)\\% Disk Time", 0, 50},
      {__LINE__, "\\PhysicalDisk(sda)\\% Idle Time", 0, 75},
      {__LINE__, "\\PhysicalDisk(sda)\\Current Disk Queue Length", 0, 2},
      {__LINE__, "\\PhysicalDisk(vdb)\\Avg. Disk sec/Write", 0,
       0},  // no writes: 0, not a division by 0
      {__LINE__, "\\PhysicalDisk(vdb)\\% Idle Time", 0, 0},
      // _Total sums rates, recomputes averages from summed deltas, averages % Idle Time.
      {__LINE__, "\\PhysicalDisk(_Total)\\Disk Reads/sec", 0, 15},
      {__LINE__, "\\PhysicalDisk(_total)\\Avg. Disk sec/Read", 0, 0.140 / 30},
      {__LINE__, "\\PhysicalDisk(_Total)\\Avg. Disk Queue Length", 0, 1.5},
      {__LINE__, "\\PhysicalDisk(_Total)\\% Idle Time", 0, 37.5},
      {__LINE__, "\\PhysicalDisk(_Total)\\% Disk Time", 0, 100},  // 150 capped
      {__LINE__, "\\PhysicalDisk(_Total)\\Current Disk Queue Length", 0, 3},
  };
  run_rows(t, t.env(), rows, kStats2);
}

TEST(PhysicalDisk, DiskTimeAboveHundredWithNocap) {
  Tree t;
  write_sys_block(t);
  t.write("proc/diskstats", kStats1);
  run_rows(t, t.env(), {{__LINE__, "\\PhysicalDisk(_Total)\\% Disk Time", 0, 150}}, kStats2,
           perfdata::FMT_DOUBLE | perfdata::FMT_NOCAP100);
}

TEST(PhysicalDisk, Instances) {
  struct Case {
    int line;
    bool with_sys;
    std::string instance;
    uint32_t status;
  };
  const std::vector<Case> cases = {
      {__LINE__, true, "sda", 0},
      {__LINE__, true, "SDA", 0},
      {__LINE__, true, "vdb", 0},
      {__LINE__, true, "sda1", perfdata::CSTATUS_NO_INSTANCE},   // a partition
      {__LINE__, true, "loop0", perfdata::CSTATUS_NO_INSTANCE},  // no device link
      {__LINE__, true, "dm-0", perfdata::CSTATUS_NO_INSTANCE},
      {__LINE__, true, "sr0", perfdata::CSTATUS_NO_INSTANCE},  // optical
      {__LINE__, false, "sda", 0},
      {__LINE__, false, "vdb", 0},
      {__LINE__, false, "sda1", perfdata::CSTATUS_NO_INSTANCE},
      {__LINE__, false, "loop0", perfdata::CSTATUS_NO_INSTANCE},
      {__LINE__, false, "dm-0", perfdata::CSTATUS_NO_INSTANCE},
      {__LINE__, false, "_Total", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Tree t;
    if (c.with_sys) write_sys_block(t);
    t.write("proc/diskstats", kStats1);
    Query q(t.env());
    EXPECT_EQ(q.add("\\PhysicalDisk(" + c.instance + ")\\Disk Reads/sec", nullptr), c.status);
  }
  Tree t;
  Query q(t.env());
  EXPECT_EQ(q.add("\\PhysicalDisk(_Total)\\Disk Reads/sec", nullptr), perfdata::CSTATUS_NO_OBJECT);
}

// f4, f8, f10 and f11 are 32-bit in the kernel: a wrap is a delta, a drop
// from a small value is a reset.
TEST(PhysicalDisk, WrapAndReset) {
  struct Case {
    int line;
    std::string f11_before, f11_after;
    uint32_t status;
    double queue;
  };
  const std::vector<Case> cases = {
      {__LINE__, "4294967000", "704", 0, 0.5},
      {__LINE__, "5000", "4000", kInvalid, 0},
      {__LINE__, "3000", "3000", 0, 0},
      {__LINE__, "8589934592", "8589935592", 0, 0.5},  // a 64-bit value
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Tree t;
    write_sys_block(t);
    t.write("proc/diskstats", "8 0 sda 1 0 1 0 0 0 0 0 0 0 " + c.f11_before + "\n");
    run_rows(t, t.env(),
             {{c.line, "\\PhysicalDisk(sda)\\Avg. Disk Queue Length", c.status, c.queue}},
             ("8 0 sda 1 0 1 0 0 0 0 0 0 0 " + c.f11_after + "\n").c_str());
  }
}

TEST(PhysicalDisk, VanishedDiskAndBadRow) {
  struct Case {
    int line;
    std::string second;
    uint32_t sda, total;
    double total_reads;  // the disks still present
  };
  const std::vector<Case> cases = {
      {__LINE__, " 252 16 vdb 15 0 120 150 0 0 0 0 1 2100 2100\n", kInvalid, 0, 5},
      {__LINE__, "8 0 sda 1 2 3\n 252 16 vdb 15 0 120 150 0 0 0 0 1 2100 2100\n", kInvalid, 0, 5},
      {__LINE__, "", kInvalid, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Tree t;
    write_sys_block(t);
    t.write("proc/diskstats", kStats1);
    run_rows(t, t.env(),
             {{c.line, "\\PhysicalDisk(sda)\\Disk Reads/sec", c.sda, 0},
              {c.line, "\\PhysicalDisk(_Total)\\Disk Reads/sec", c.total, c.total_reads}},
             c.second.c_str());
  }
}

// ------------------------------------------------------------ LogicalDisk

const char* const kMountinfo =
    "22 1 0:21 / /proc rw - proc proc rw\n"
    "29 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "30 29 8:1 /srv /mnt/my\\040bind rw shared:2 - ext4 /dev/sda1 rw\n"
    "31 29 0:40 /@data /data rw - btrfs /dev/mapper/crypt rw\n"
    "32 31 0:41 /@snap /data/snap rw - btrfs /dev/mapper/crypt rw\n"
    "33 29 0:50 / /var/lib/c rw - overlay overlay rw,lowerdir=/x\n"
    "34 29 0:22 / /run rw - tmpfs tmpfs rw\n";

// statvfs answers by mount point; f_bsize is not part of FsStat, so a unit
// mix-up would show as the frsize 1024 of /data being ignored.
perfdata::linux_backend::Env logical_env(const Tree& t) {
  perfdata::linux_backend::Env env = t.env();
  const std::string& root = t.dir();
  env.statvfs = [root](const std::string& path, FsStat& out) {
    std::map<std::string, FsStat> fs = {
        {root + "/", {4096, 1000, 500, 250}},
        {root + "/mnt/my bind", {4096, 1000, 500, 250}},
        {root + "/data", {1024, 4194304, 2097152, 1048576}},
        {root + "/data/snap", {1024, 4194304, 2097152, 1048576}},
        {root + "/var/lib/c", {4096, 100, 100, 100}},
    };
    auto it = fs.find(path);
    if (it == fs.end()) return -1;
    out = it->second;
    return 0;
  };
  return env;
}

void write_logical_tree(const Tree& t) {
  t.write("proc/self/mountinfo", kMountinfo);
  t.write("proc/diskstats", kStats1);
  t.write("dev/dm-0", "");
  std::filesystem::create_directories(t.dir() + "/dev/mapper");
  std::filesystem::create_symlink("../dm-0", t.dir() + "/dev/mapper/crypt");
}

TEST(LogicalDisk, SpaceAndBackingDevices) {
  Tree t;
  write_logical_tree(t);
  const double root_avail = 250.0 * 4096, root_size = 750.0 * 4096;
  const double data_avail = 1048576.0 * 1024, data_size = 3145728.0 * 1024;
  const double ovl_avail = 100.0 * 4096, ovl_size = 100.0 * 4096;
  const std::vector<Row> rows = {
      {__LINE__, "\\LogicalDisk(/)\\% Free Space", 0, 100 * root_avail / root_size},
      {__LINE__, "\\LogicalDisk(/data)\\Free Megabytes", 0, 1024},
      {__LINE__, "\\LogicalDisk(/data/)\\% Free Space", 0, 100.0 / 3},
      {__LINE__, "\\LogicalDisk(/mnt/my bind)\\Free Megabytes", 0, 0},
      {__LINE__, "\\LogicalDisk(/var/lib/c)\\% Free Space", 0, 100},
      // I/O: 8:1 is sda1 (10 reads in 2 s); btrfs 0:40 via /dev/mapper/crypt
      // is dm-0 (5 reads); overlay has no block device.
      {__LINE__, "\\LogicalDisk(/)\\Disk Reads/sec", 0, 5},
      {__LINE__, "\\LogicalDisk(/mnt/my bind)\\Disk Read Bytes/sec", 0, 80.0 * 512 / 2},
      {__LINE__, "\\LogicalDisk(/data)\\Disk Reads/sec", 0, 2.5},
      {__LINE__, "\\LogicalDisk(/data/snap)\\Disk Reads/sec", 0, 2.5},
      {__LINE__, "\\LogicalDisk(/var/lib/c)\\Disk Reads/sec", kInvalid, 0},
      {__LINE__, "\\LogicalDisk(/var/lib/c)\\Current Disk Queue Length", kInvalid, 0},
      // _Total counts each backing device once.
      {__LINE__, "\\LogicalDisk(_Total)\\Disk Reads/sec", 0, 7.5},
      {__LINE__, "\\LogicalDisk(_Total)\\Free Megabytes", 0,
       std::floor((root_avail + data_avail + ovl_avail) / 1048576)},
      {__LINE__, "\\LogicalDisk(_Total)\\% Free Space", 0,
       100 * (root_avail + data_avail + ovl_avail) / (root_size + data_size + ovl_size)},
  };
  run_rows(t, logical_env(t), rows, kStats2);
}

TEST(LogicalDisk, Instances) {
  struct Case {
    int line;
    std::string instance;
    uint32_t status;
  };
  const std::vector<Case> cases = {
      {__LINE__, "/mnt/my bind", 0},
      {__LINE__, "/mnt/my\\040bind", perfdata::CSTATUS_NO_INSTANCE},
      {__LINE__, "/data/", 0},
      {__LINE__, "/proc", perfdata::CSTATUS_NO_INSTANCE},
      {__LINE__, "/run", perfdata::CSTATUS_NO_INSTANCE},
      {__LINE__, "/srv", perfdata::CSTATUS_NO_INSTANCE},
  };
  Tree t;
  write_logical_tree(t);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Query q(logical_env(t));
    EXPECT_EQ(q.add("\\LogicalDisk(" + c.instance + ")\\Free Megabytes", nullptr), c.status);
  }
}

TEST(LogicalDisk, FailedStatvfsAndUnmount) {
  Tree t;
  write_logical_tree(t);
  perfdata::linux_backend::Env env = logical_env(t);
  auto inner = env.statvfs;
  std::string data = t.dir() + "/data";
  // /data fails; its subvolume /data/snap still counts the device once.
  env.statvfs = [inner, data](const std::string& p, FsStat& out) {
    return p == data ? -1 : inner(p, out);
  };
  Query q(env);
  Counter *one = nullptr, *total = nullptr, *gone = nullptr;
  ASSERT_EQ(q.add("\\LogicalDisk(/data)\\% Free Space", &one), 0u);
  ASSERT_EQ(q.add("\\LogicalDisk(_Total)\\Free Megabytes", &total), 0u);
  ASSERT_EQ(q.add("\\LogicalDisk(/mnt/my bind)\\Free Megabytes", &gone), 0u);
  std::string mounts = kMountinfo;
  mounts.erase(mounts.find("30 29"), mounts.find("31 29") - mounts.find("30 29"));
  t.write("proc/self/mountinfo", mounts);
  q.collect();
  EXPECT_EQ(one->format(perfdata::FMT_DOUBLE).c_status, kInvalid);
  EXPECT_EQ(gone->format(perfdata::FMT_DOUBLE).c_status, kInvalid);
  perfdata::linux_backend::FormattedValue v = total->format(perfdata::FMT_DOUBLE);
  EXPECT_EQ(v.c_status, 0u);
  EXPECT_EQ(v.value, std::floor((250.0 * 4096 + 1048576.0 * 1024 + 100.0 * 4096) / 1048576));
}

}  // namespace
