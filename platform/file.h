// Whole files: reading one (argument files) and replacing one atomically
// (the textfile a metrics collector reads while it is being rewritten).
//
//   std::string text, why;
//   platform::read_file("paths.txt", 1 << 20, &text, &why);
//   platform::replace_file("/var/lib/node_exporter/vantric.prom", metrics, &why);
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Reads the whole file `path`. False with `why` = the system's reason ("No
// such file or directory") when it cannot be opened or read, or "larger
// than <limit> bytes" when it holds more than `limit` bytes (no more than
// limit + 1 bytes are read).
bool read_file(const std::string& path, size_t limit, std::string* text, std::string* why);

// The same reader for callers that need the reason as a code and read many
// small files: fills `text` with the content of `path` (its capacity is
// reused) and returns 0, or the system's error code (errno, GetLastError())
// of the open or of a read, with `text` empty. Reads until the end of the
// file, whatever the size of each read (files under /proc report size 0 and
// hand out a page at a time), and retries a read that a signal interrupted;
// stops after limit + 1 bytes, so text.size() > limit says the file is
// larger. read_file_code("/proc/stat", SIZE_MAX - 1, text) -> 0 or EMFILE.
int read_file_code(const std::string& path, size_t limit, std::string& text);

// Replaces the file `path` by `content` so that a reader only ever sees the
// whole old or the whole new content, never a part: the content goes to a
// new file ".<name>.<pid>.<n>.tmp" beside `path` (<name> cut to keep that
// within 255 bytes; created exclusively, mode
// 0644 on posix; the name does not end in ".prom", so a collector reading
// *.prom never picks it up), is flushed to the disk and then renamed over
// `path` (posix: rename(2) and a sync of the directory; Windows: MoveFileExA
// with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, retried for about
// a second while a reader without delete sharing holds `path` open).
// False with `why` = "<step>: <the system's reason>", the step one of
// create, write, sync, close, rename ("write: No space left on device"):
// then `path` is as it was and the temporary file is removed. Only a regular
// file or a symbolic link (the link itself) at `path` is replaced: anything
// else there is refused, before and again just before the rename, with
// "a character device is there, not a regular file" (a directory, a block
// device, a FIFO, a socket likewise). The directory
// of `path` must exist and be writable. Not thread-safe: one replacement at
// a time per process.
bool replace_file(const std::string& path, std::string_view content, std::string* why);

// The same, the new file readable and writable by its owner alone (0600 on
// posix; on Windows the permissions the directory hands down): state a check
// keeps between its runs.
bool replace_private_file(const std::string& path, std::string_view content, std::string* why);

// Removes the temporary file of a replace_file in progress, if there is one.
// Async-signal-safe: the watchdog's ending calls it, so a run ended by its
// time limit leaves no temporary file behind (and `path` as it was).
void discard_pending_replacement();

}  // namespace platform
