// The state file a check keeps between its runs: where it lives, opened
// without following a link, locked against a second run of the same check,
// read, and replaced atomically; and the identity of the running boot, which
// tells whether stored counter records can still be compared with today's.
//
//   platform::StateFile state;
//   std::string text, why;
//   const std::string dir = platform::state_directory("");  // /var/lib/vantric
//   if (!state.open(dir, "vantric-9f2c41d07a3be815.state", 2000, &text, &why))
//     ...;  // why: "/tmp/s is writable by others and not sticky: refused"
//   ... judge `text` (empty on the first run), collect ...
//   if (!state.replace(new_text, &why)) ...;
//   state.close();  // or the destructor: the lock goes with it
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The state directory: `requested` when not empty, else the environment
// variable NAGIOS_PLUGIN_STATE_DIRECTORY when set and not empty, else the
// system's default: /var/lib/vantric on posix, %ProgramData%\vantric on
// Windows (C:\ProgramData\vantric when the variable is missing). Nothing is
// created or checked here; StateFile::open checks.
std::string state_directory(const std::string& requested);

// One check's state file, "<directory>/<name>", and its lock file
// "<directory>/<name>.lock" (a file of its own, never replaced, so that the
// lock outlives every replacement of the state). Not copyable; the lock is
// held from a successful open until close or destruction.
class StateFile {
 public:
  StateFile() = default;
  StateFile(const StateFile&) = delete;
  StateFile& operator=(const StateFile&) = delete;
  ~StateFile() { close(); }

  // Checks `directory`, opens (creating it, mode 0600) and locks the lock
  // file exclusively, waiting up to `wait_ms` milliseconds for another run
  // that holds it, and reads the state file into `text` (empty when there is
  // none yet, at most 16 MiB). False with `why` and nothing held when:
  //   the directory is missing or not a directory ("<dir>: No such file or
  //     directory", "<dir> is not a directory");
  //   others can write it and it is not sticky (posix; "<dir> is writable by
  //     others and not sticky: refused");
  //   the lock or state file is a symbolic link or, on Windows, a reparse
  //     point ("<path> is a symbolic link: not followed"), not a regular file
  //     ("<path> is not a regular file"), or owned by another user (posix;
  //     "<path> belongs to another user: refused");
  //   the lock stays taken ("<path> stays locked by another run after <n>
  //     ms"); any other failure ("<path>: Permission denied").
  // `name` must be a plain file name (no separator).
  bool open(const std::string& directory, const std::string& name, int wait_ms, std::string* text,
            std::string* why);

  // While open: replaces the state file by `content` atomically (a
  // temporary file beside it, owner-only, flushed and renamed over it; see
  // platform/file.h). False with `why` ("write: No space left on device";
  // "not open") and the old state intact.
  bool replace(std::string_view content, std::string* why);

  // Releases the lock and closes; nothing when not open.
  void close();

  const std::string& path() const { return path_; }

 private:
  long long lock_ = -1;  // the backend's handle of the locked lock file
  std::string path_;
};

// The identity of the running boot: Linux's
// /proc/sys/kernel/random/boot_id ("4b1c0e3a-..."), Windows's boot time in
// 100 ns units since 1601 as decimal text. The same text for every run of
// one boot; another boot gives another. False with `why` when unreadable.
bool read_boot_identity(std::string* identity, std::string* why);

}  // namespace platform
