// Where the Linux backend reads from: every file is env.root + a relative
// path like "proc/stat"; tests point root at a temporary tree and inject the
// clock, tick rate, page size, node name and disk-space call.
//
// Example: source(env, "proc/stat") with root "/tmp/t" = "/tmp/t/proc/stat".
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace perfdata::linux_backend {

struct FsStat {
  uint64_t frsize = 0, blocks = 0, bfree = 0, bavail = 0;
};

// Whole files and directory listings read during one collection, by path:
// a source several objects of a query need (/proc/stat for Processor,
// System and Process) is opened once and every object parses the same text.
struct SourceCache {
  template <class T>
  struct Kept {
    int error = 0;  // 0, or the errno of the failed read
    T value;
  };
  std::unordered_map<std::string, Kept<std::string>> files;
  std::unordered_map<std::string, Kept<std::vector<std::string>>> dirs;  // list_dir's
  // Whether the files under /proc/<pid> are kept too: only when two objects
  // of the query read them (Process, and System for its thread count), since
  // keeping every process's files costs more than it saves otherwise.
  bool processes = false;
};

struct Env {
  std::string root = "/";             // "/" or a directory; a missing trailing '/' is allowed
  std::function<double()> monotonic;  // seconds; default CLOCK_MONOTONIC
  long clk_tck = 100;                 // set from sysconf(_SC_CLK_TCK) by default_env()
  long page_size = 4096;              // set from sysconf(_SC_PAGESIZE) by default_env()
  // Width of the kernel's unsigned long, which many /proc counters are
  // printed from: 32 on a 32-bit kernel (their values wrap at 2^32), else 64.
  // default_env() takes it from uname's machine.
  int ulong_bits = 64;
  // The UTS node name: the host name the sampler's computer name is cut
  // from, so the two always agree. default_env(): platform::host_name.
  std::function<std::string()> nodename;
  // Returns 0 and fills `out` for the real path `path` (already joined with
  // root), or -1 on failure.
  std::function<int(const std::string& path, FsStat& out)> statvfs;
  // Told the path of every source the layer opens (file, directory, link,
  // statvfs) before it opens it; tests count reads with it. Empty: nothing.
  std::function<void(const std::string& path)> opened;
  // Set by the query for the length of one collection: read_file answers a
  // source from here after its first read (files under /proc/<pid> only
  // when cache->processes). Null: every read goes to the file.
  std::shared_ptr<SourceCache> cache;
};

// The real machine: root "/", CLOCK_MONOTONIC, sysconf values, ::statvfs.
Env default_env();

// root + rel, with exactly one '/' between them.
std::string source(const Env& env, std::string_view rel);

// Reads the whole file env.root + rel (or an absolute real path) into `out`
// with the one whole-file reader (platform/file.h), so the calls beneath it
// can be replaced in tests. False on any error, with errno saying which
// (ENOENT, EACCES, EIO, EMFILE, EINVAL as sysfs gives); `out` is then empty.
bool read_file(const Env& env, std::string_view rel, std::string& out);
bool read_path(const std::string& path, std::string& out);

// Reads env.root + rel whole (past the cache) and calls `line` with each
// line (without its '\n'; a last line without one too). False, errno set,
// when the file cannot be read; no line has been delivered then.
bool read_lines(const Env& env, std::string_view rel,
                const std::function<void(std::string_view line)>& line);

// Whether a failed read's `error` means the source is not there (ENOENT,
// ENOTDIR, ESRCH for a process that ended): an absent object or instance,
// not a failure to report.
bool is_absent(int error);
// "cannot read /proc/stat: Too many open files" for a read of `rel` that
// failed with `error`; "" when is_absent(error) or error is 0 (the file was
// read but malformed).
std::string read_problem(std::string_view rel, int error);

// Tells env.opened about `path` (already joined with root) and returns it.
const std::string& note_open(const Env& env, const std::string& path);

// Names in the directory env.root + rel, without "." and "..". False, errno
// set, when the directory cannot be read.
bool list_dir(const Env& env, std::string_view rel, std::vector<std::string>& out);

// Seconds since boot from <root>/proc/uptime (its first field), independent
// of the locale; `buf` is scratch space.
bool read_uptime(const Env& env, std::string& buf, double& seconds);

}  // namespace perfdata::linux_backend
