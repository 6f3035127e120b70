#include "perfdata/linux/diskstats.h"
#include "perfdata/linux/mountinfo.h"
#include "perfdata/linux/pid_files.h"
#include "perfdata/linux/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace perfdata::linux_backend {
namespace {

TEST(Diskstats, FieldCountVariants) {
  struct Row {
    int line;
    std::string input;
    bool ok;
    int nfields;
    uint64_t f1, f3, f11, f17;
  };
  const std::vector<Row> rows = {
      {__LINE__, " 254       0 vda 10 2 300 40 5 6 700 80 1 90 120", true, 11, 10, 300, 120, 0},
      {__LINE__, " 254 0 vda 10 2 300 40 5 6 700 80 1 90 120 1 2 3 4", true, 15, 10, 300, 120, 0},
      {__LINE__, " 254 0 vda 10 2 300 40 5 6 700 80 1 90 120 1 2 3 4 5 6", true, 17, 10, 300, 120,
       6},
      {__LINE__, " 254 0 vda 10 2 300 40 5 6 700 80 1 90", false, 0, 0, 0, 0, 0},
      {__LINE__, " 254 0 vda", false, 0, 0, 0, 0, 0},
      {__LINE__, " 254 0 vda 10 2 300 40 5 x 700 80 1 90 120", false, 0, 0, 0, 0, 0},
      {__LINE__, " 254 0 vda 10 2 300 40 5 -6 700 80 1 90 120", false, 0, 0, 0, 0, 0},
      {__LINE__, " 254:0 vda 10 2 300 40 5 6 700 80 1 90 120", false, 0, 0, 0, 0, 0},
      {__LINE__, "", false, 0, 0, 0, 0, 0},
      // f11 is 32-bit in the kernel: the largest value must survive as is.
      {__LINE__, "8 0 sda 1 0 8 0 0 0 0 0 0 0 4294967295", true, 11, 1, 8, 4294967295u, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    DiskRow d;
    ASSERT_EQ(parse_diskstats_line(row.input, d), row.ok);
    if (!row.ok) continue;
    EXPECT_EQ(d.nfields, row.nfields);
    EXPECT_EQ(d.f[1], row.f1);
    EXPECT_EQ(d.f[3], row.f3);
    EXPECT_EQ(d.f[11], row.f11);
    EXPECT_EQ(d.f[17], row.f17);
  }
}

TEST(Diskstats, MalformedRowLeavesOthers) {
  auto rows = parse_diskstats(
      "   7       0 loop0 1 0 2 0 0 0 0 0 0 0 0\n"
      "   8       0 sda 1 2 3\n"
      "   8      16 sdb 9 0 18 0 4 0 8 0 0 7 7 0 0 0 0 0 0\n");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].name, "loop0");
  EXPECT_EQ(rows[1].name, "sdb");
  EXPECT_EQ(rows[1].major, 8u);
  EXPECT_EQ(rows[1].minor, 16u);
}

TEST(Mountinfo, Unescape) {
  struct Row {
    int line;
    std::string input, expected;
  };
  const std::vector<Row> rows = {
      {__LINE__, "/mnt/my\\040disk", "/mnt/my disk"},
      {__LINE__, "a\\011b\\012c\\134d", "a\tb\nc\\d"},
      {__LINE__, "\\134040", "\\040"},  // unescaped once, not twice
      {__LINE__, "a\\041b", "a!b"},  // any three octal digits, not only the four the kernel writes
      {__LINE__, "trail\\04", "trail\\04"},
      {__LINE__, "end\\", "end\\"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(unescape_octal(row.input), row.expected);
  }
}

TEST(Mountinfo, Lines) {
  struct Row {
    int line;
    std::string input;
    bool ok;
    uint32_t major, minor;
    std::string mount_point, fstype, source;
  };
  const std::vector<Row> rows = {
      {__LINE__, "29 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw", true, 254, 0, "/",
       "ext4", "/dev/vda"},
      {__LINE__, "40 29 0:45 /@home /home rw shared:5 master:2 - btrfs /dev/mapper/cr\\040x rw,ssd",
       true, 0, 45, "/home", "btrfs", "/dev/mapper/cr x"},
      {__LINE__, "41 29 8:1 / /mnt/my\\040disk rw - vfat /dev/sda1 rw", true, 8, 1, "/mnt/my disk",
       "vfat", "/dev/sda1"},
      {__LINE__, "42 29 0:50 / / rw - overlay overlay rw,lowerdir=/a", true, 0, 50, "/", "overlay",
       "overlay"},
      {__LINE__, "42 29 0:50 / / rw overlay overlay rw", false, 0, 0, "", "", ""},
      {__LINE__, "42 29 050 / / rw - ext4 /dev/x rw", false, 0, 0, "", "", ""},
      {__LINE__, "42 29 0:50 / / rw -", false, 0, 0, "", "", ""},
      {__LINE__, "42 29 0:50", false, 0, 0, "", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    MountEntry e;
    ASSERT_EQ(parse_mountinfo_line(row.input, e), row.ok);
    if (!row.ok) continue;
    EXPECT_EQ(e.major, row.major);
    EXPECT_EQ(e.minor, row.minor);
    EXPECT_EQ(e.mount_point, row.mount_point);
    EXPECT_EQ(e.fstype, row.fstype);
    EXPECT_EQ(e.source, row.source);
  }
}

TEST(Mountinfo, SkipListsAndLastMountWins) {
  auto mounts = parse_mountinfo(
      "22 27 0:21 / /proc rw - proc proc rw\n"
      "29 1 254:0 / / rw - ext4 /dev/vda rw\n"
      "30 29 0:30 / /run rw - tmpfs tmpfs rw\n"
      "31 29 0:31 / /srv/nfs rw - nfs4 host:/x rw\n"
      "32 29 0:32 / /srv/ssh rw - fuse.sshfs u@h: rw\n"
      "33 29 8:1 / /data rw - ext4 /dev/sda1 rw\n"
      "34 29 0:33 / /snap/a rw - squashfs /dev/loop0 ro\n"
      "35 33 8:17 / /data rw - xfs /dev/sdb1 rw\n");
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(mounts[0].mount_point, "/");
  EXPECT_EQ(mounts[1].mount_point, "/data");
  EXPECT_EQ(mounts[1].fstype, "xfs");
  EXPECT_EQ(mounts[1].minor, 17u);
}

TEST(Mountinfo, OnlyLocalFilesystemsAreServed) {
  struct Row {
    int line;
    std::string mountinfo;
    bool served;
  };
  const std::vector<Row> rows = {
      {__LINE__, "1 0 254:0 / / rw - ext4 /dev/vda rw", true},
      {__LINE__, "1 0 8:1 / /d rw - xfs /dev/sda1 rw", true},
      {__LINE__, "1 0 8:2 / /w rw - fuseblk /dev/sda2 rw",
       false},  // a disk behind it, a daemon in front
      {__LINE__, "1 0 0:40 /@ /b rw - btrfs /dev/sdb rw", true},
      {__LINE__, "1 0 0:41 / /z rw - zfs tank/home rw", true},
      {__LINE__, "1 0 0:42 / /c rw - bcachefs /dev/sdc rw", true},
      {__LINE__, "1 0 0:43 / / rw - overlay overlay rw", true},
      {__LINE__, "1 0 0:44 / /n rw - nfs4 host:/x rw", false},
      {__LINE__, "1 0 0:45 / /s rw - cifs //h/s rw", false},
      {__LINE__, "1 0 0:46 / /s3 rw - smb3 //h/s rw", false},
      {__LINE__, "1 0 0:47 / /ceph rw - ceph h:/ rw", false},
      {__LINE__, "1 0 0:48 / /9 rw - 9p share rw", false},
      {__LINE__, "1 0 0:49 / /v rw - virtiofs share rw", false},
      {__LINE__, "1 0 0:50 / /f rw - fuse.sshfs u@h: rw", false},
      {__LINE__, "1 0 0:51 / /f2 rw - fuse.stuck stuck rw", false},
      {__LINE__, "1 0 0:52 / /f3 rw - fuse fs rw", false},
      {__LINE__, "1 0 0:53 / /new rw - futurefs x rw", false},  // unknown major-0 types stay out
      {__LINE__, "1 0 0:54 / /t rw - tmpfs tmpfs rw", false},
      {__LINE__, "1 0 7:0 / /snap/a ro - squashfs /dev/loop0 ro",
       false},  // an image, though on a loop device
      {__LINE__, "1 0 7:1 / /e ro - erofs /dev/loop1 ro", false},
      {__LINE__, "1 0 0:55 / /p rw - proc proc rw", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    MountEntry e;
    ASSERT_TRUE(parse_mountinfo_line(row.mountinfo, e));
    EXPECT_EQ(is_local_mount(e), row.served);
    EXPECT_EQ(parse_mountinfo(row.mountinfo).size(), row.served ? 1u : 0u);
  }
}

TEST(BlockDevices, SysBlockEntries) {
  struct Row {
    int line;
    std::string name;
    bool device_link;
    uint64_t size;
    bool expected;
  };
  const std::vector<Row> rows = {
      {__LINE__, "vda", true, 528424168, true}, {__LINE__, "nvme0n1", true, 1000, true},
      {__LINE__, "loop0", false, 0, false},     {__LINE__, "zram0", false, 8000, false},
      {__LINE__, "dm-0", false, 8000, false},   {__LINE__, "sr0", true, 2000, false},
      {__LINE__, "sdb", true, 0, false},  // card reader with no medium
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(is_physical_block_entry(row.name, row.device_link, row.size), row.expected);
  }
}

TEST(BlockDevices, ContainerFallbackNames) {
  struct Row {
    int line;
    std::string name;
    bool expected;
  };
  const std::vector<Row> rows = {
      {__LINE__, "sda", true},        {__LINE__, "sdaa", true},
      {__LINE__, "vda", true},        {__LINE__, "xvdb", true},
      {__LINE__, "nvme0n1", true},    {__LINE__, "mmcblk0", true},
      {__LINE__, "sda1", false},      {__LINE__, "sdab12", false},
      {__LINE__, "vda3", false},      {__LINE__, "xvda1", false},
      {__LINE__, "hdc2", false},      {__LINE__, "nvme0n1p2", false},
      {__LINE__, "mmcblk0p1", false}, {__LINE__, "loop7", false},
      {__LINE__, "ram0", false},      {__LINE__, "zram0", false},
      {__LINE__, "dm-3", false},      {__LINE__, "md127", false},
      {__LINE__, "sr0", false},       {__LINE__, "fd0", false},
      {__LINE__, "loop", true},       {__LINE__, "mmcblk0boot0", true},
      {__LINE__, "nvme0n1p", true},   {__LINE__, "md", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(is_physical_diskstats_name(row.name), row.expected);
  }
}

TEST(PidStat, Parse) {
  // 52 fields like the kernel prints; fields 4,10,12,14,15,20,22,23,24 vary.
  auto line = [](const std::string& head, const std::string& comm) {
    return head + " (" + comm + ") S 7 1 1 0 -1 4194560 11 0 13 0 140 150 0 0 20 0 3 0 " +
           "2200 23000000 800 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0 " +
           "0 0 0 0 0 0 0 0\n";
  };
  struct Row {
    int line;
    std::string input;
    bool ok;
    std::string comm;
  };
  const std::vector<Row> rows = {
      {__LINE__, line("42", "bash"), true, "bash"},
      {__LINE__, line("42", "a) (b"), true, "a) (b"},
      {__LINE__, line("42", "x) S 1 2 3"), true, "x) S 1 2 3"},
      {__LINE__, line("42", ""), true, ""},
      {__LINE__, line("42", "(("), true, "(("},
      {__LINE__, "42 (bash) S 7 1 1 0 -1 4194560 11 0 13 0 140 150 0 0 20 0 3 0 2200", false, ""},
      {__LINE__, "42 (bash) S 7 1 1 0 -1 4194560 11 0 13 0 140 150 0 0 20 0 3 0 2200 23000000",
       false, ""},
      {__LINE__, "42 bash S 7", false, ""},
      {__LINE__, line("x", "bash"), false, ""},
      {__LINE__, "42 )bash( S 1 2", false, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    PidStat s;
    ASSERT_EQ(parse_pid_stat(row.input, s), row.ok);
    if (!row.ok) continue;
    EXPECT_EQ(s.pid, 42);
    EXPECT_EQ(s.comm, row.comm);
    EXPECT_EQ(s.ppid, 7);
    EXPECT_EQ(s.minflt, 11u);
    EXPECT_EQ(s.majflt, 13u);
    EXPECT_EQ(s.utime, 140u);
    EXPECT_EQ(s.stime, 150u);
    EXPECT_EQ(s.num_threads, 3);
    EXPECT_EQ(s.starttime, 2200u);
    EXPECT_EQ(s.vsize, 23000000u);
    EXPECT_EQ(s.rss, 800u);
  }
}

TEST(PidStatus, Parse) {
  struct Row {
    int line;
    std::string input;
    bool ok;
    PidStatus expected;
  };
  const std::vector<Row> rows = {
      {__LINE__,
       "Name:\tVmRSS: fake\nVmPeak:\t    2928 kB\nVmSize:\t    2900 kB\nVmHWM:\t    1736 kB\n"
       "VmRSS:\t    1700 kB\nRssAnon:\t     112 kB\nRssFile:\t    1624 kB\nVmData:\t     224 kB\n"
       "VmStk:\t     132 kB\nVmSwap:\t 9 kB\n",
       true,
       {1700, 1736, 112, 224, 132, 2900, 2928}},
      // a kernel thread: no Vm or Rss lines at all
      {__LINE__, "Name:\tkthreadd\nState:\tS (sleeping)\nThreads:\t1\n", true, {}},
      {__LINE__, "VmRSS:\t kB\n", false, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    PidStatus s;
    ASSERT_EQ(parse_pid_status(row.input, s), row.ok);
    if (!row.ok) continue;
    EXPECT_EQ(s.vm_rss, row.expected.vm_rss);
    EXPECT_EQ(s.vm_hwm, row.expected.vm_hwm);
    EXPECT_EQ(s.rss_anon, row.expected.rss_anon);
    EXPECT_EQ(s.vm_data, row.expected.vm_data);
    EXPECT_EQ(s.vm_stk, row.expected.vm_stk);
    EXPECT_EQ(s.vm_size, row.expected.vm_size);
    EXPECT_EQ(s.vm_peak, row.expected.vm_peak);
  }
}

TEST(PidIo, Parse) {
  struct Row {
    int line;
    std::string input;
    bool ok;
    PidIo expected;
  };
  const std::vector<Row> rows = {
      {__LINE__,
       "rchar: 6976\nwchar: 5\nsyscr: 10\nsyscw: 2\nread_bytes: 0\nwrite_bytes: 0\n",
       true,
       {6976, 5, 10, 2}},
      {__LINE__, "rchar: 6976\nwchar: 5\nsyscr: 10\n", false, {}},
      {__LINE__, "rchar: x\nwchar: 5\nsyscr: 10\nsyscw: 2\n", false, {}},
      {__LINE__, "", false, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    PidIo io;
    ASSERT_EQ(parse_pid_io(row.input, io), row.ok);
    if (!row.ok) continue;
    EXPECT_EQ(io.rchar, row.expected.rchar);
    EXPECT_EQ(io.wchar, row.expected.wchar);
    EXPECT_EQ(io.syscr, row.expected.syscr);
    EXPECT_EQ(io.syscw, row.expected.syscw);
  }
}

}  // namespace
}  // namespace perfdata::linux_backend
