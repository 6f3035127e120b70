// A throw-away root directory for the counter layer: tests write the /proc
// and /sys files they need, advance the fake clock, and collect. While a
// Tree lives, the layer's system calls answer from it: its clock, its node
// name and its filesystems (statvfs); directories are its own, and every
// source opened is counted.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "perfdata/linux/query.h"
#include "perfdata/linux/system_calls.h"
#include "platform/file_calls.h"

namespace proc_tree {

class Tree {
 public:
  Tree() {
    char templ[] = "/tmp/perfdata-XXXXXX";
    const char* made = mkdtemp(templ);
    EXPECT_NE(made, nullptr);
    dir_ = made != nullptr ? made : "/nonexistent";
    real_ = calls();
    real_files_ = platform::file_calls;
    previous_ = current();
    current() = this;
    calls().monotonic = [] { return current()->clock_; };
    calls().node_name = [] { return current()->nodename; };
    platform::file_calls.open_read = [](const char* path, intptr_t* handle) {
      count(path);
      return current()->real_files_.open_read(path, handle);
    };
    calls().open_dir = [](const char* path, intptr_t* handle) {
      count(path);
      return current()->real_.open_dir(path, handle);
    };
    calls().lstat = [](const char* path) {
      count(path);
      return current()->real_.lstat(path);
    };
    calls().statvfs = [](const char* path, perfdata::linux_backend::FsStat* out) {
      Tree& t = count(path);
      auto it = t.filesystems.find(std::string(path).substr(t.dir_.size()));
      if (it == t.filesystems.end()) return ENOSYS;
      *out = it->second;
      return 0;
    };
  }
  ~Tree() {
    calls() = real_;
    platform::file_calls = real_files_;
    current() = previous_;
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  void write(const std::string& rel, const std::string& text) const {
    std::filesystem::path p = std::filesystem::path(dir_) / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
  }
  void remove(const std::string& rel) const {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(dir_) / rel, ec);
  }
  // Makes a file unreadable (mode 000); root ignores this, so callers skip then.
  void lock(const std::string& rel) const {
    ::chmod((std::filesystem::path(dir_) / rel).c_str(), 0);
  }
  void advance(double seconds) const { clock_ += seconds; }

  perfdata::linux_backend::Env env(long page_size = 4096) const {
    perfdata::linux_backend::Env e;
    e.root = dir_;
    e.clk_tck = 100;
    e.page_size = page_size;
    e.ulong_bits = ulong_bits;
    return e;
  }
  const std::string& dir() const { return dir_; }
  int ulong_bits = 64;          // the kernel's unsigned long width the env reports
  std::string nodename = "vm";  // the UTS node name
  // What statvfs tells of each mount point ("/", "/data"); any other fails.
  std::map<std::string, perfdata::linux_backend::FsStat> filesystems;
  // How often each source under the tree ("proc/stat", "proc") was opened:
  // a file, a directory listed, a link looked at or a filesystem asked.
  std::map<std::string, int> opened;

 private:
  static perfdata::linux_backend::SystemCalls& calls() {
    return perfdata::linux_backend::system_calls;
  }
  static Tree*& current() {
    static Tree* tree = nullptr;
    return tree;
  }
  static Tree& count(const std::string& path) {
    Tree& t = *current();
    if (path.size() > t.dir_.size() && path.compare(0, t.dir_.size(), t.dir_) == 0)
      ++t.opened[path.substr(t.dir_.size() + 1)];
    return t;
  }
  std::string dir_;
  mutable double clock_ = 100.0;  // the fake clock moves under a const tree
  perfdata::linux_backend::SystemCalls real_{};
  platform::FileCalls real_files_{};
  Tree* previous_ = nullptr;
};

// Result of one counter over the collections the test drives.
struct Reading {
  perfdata::Status add = 0;
  uint32_t c_status = 0;
  double value = 0;
};

// Adds `path`, collects, runs `between` (which rewrites files), advances the
// clock by `dt`, collects again and reads the value with `flags`.
template <typename Between>
Reading sample_twice(const Tree& t, const std::string& path, Between between, double dt = 1.0,
                     uint32_t flags = perfdata::FMT_DOUBLE, long page_size = 4096) {
  Reading r;
  perfdata::linux_backend::Query q(t.env(page_size));
  perfdata::linux_backend::Counter* c = nullptr;
  r.add = q.add(path, &c);
  if (r.add != 0) return r;
  q.collect();
  between();
  t.advance(dt);
  q.collect();
  perfdata::linux_backend::FormattedValue fv = c->format(flags);
  r.c_status = fv.c_status;
  r.value = fv.value;
  return r;
}

// Adds `path`, collects once and reads the value.
inline Reading sample_once(const Tree& t, const std::string& path,
                           uint32_t flags = perfdata::FMT_DOUBLE) {
  Reading r;
  perfdata::linux_backend::Query q(t.env());
  perfdata::linux_backend::Counter* c = nullptr;
  r.add = q.add(path, &c);
  if (r.add != 0) return r;
  q.collect();
  perfdata::linux_backend::FormattedValue fv = c->format(flags);
  r.c_status = fv.c_status;
  r.value = fv.value;
  return r;
}

// The add succeeded and the reading has `status`; with status 0, also the
// value (within `tolerance`, or to a few units in the last place when 0).
inline void expect_reading(const Reading& r, uint32_t status, double expected,
                           double tolerance = 0) {
  ASSERT_EQ(r.add, 0u);
  EXPECT_EQ(r.c_status, status);
  if (status != 0) return;
  if (tolerance == 0) {
    EXPECT_DOUBLE_EQ(r.value, expected);
  } else {
    EXPECT_NEAR(r.value, expected, tolerance);
  }
}

// One row of a two-snapshot table: a counter, the text its source file holds
// at the second collection, and the expected status and value.
struct SnapshotRow {
  int line;
  std::string counter;
  std::string second;
  uint32_t status;
  double expected;
};

// For every row, in a fresh tree: `file` holds `first`, the counter
// `prefix + row.counter` is collected, `file` is rewritten to row.second,
// and after `dt` seconds it is collected again and checked.
inline void check_snapshot_rows(const std::string& file, const std::string& first,
                                const std::string& prefix, const std::vector<SnapshotRow>& rows,
                                double dt = 2.0) {
  for (const SnapshotRow& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    t.write(file, first);
    Reading r = sample_twice(
        t, prefix + row.counter, [&] { t.write(file, row.second); }, dt);
    expect_reading(r, row.status, row.expected);
  }
}

}  // namespace proc_tree
