#if defined(_WIN32)
#error "platform/posix is the posix backend; CMake picked the wrong folder"
#endif

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_calls.h"

namespace platform {

namespace {

int result(bool ok) { return ok ? 0 : errno; }

int create(const char* path, mode_t mode, intptr_t* handle) {
  int fd;
  do fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  // The mode is the file's, not what the umask leaves of it: the collector
  // may run as another user.
  if (fchmod(fd, mode) != 0) {
    const int code = errno;
    close(fd);
    unlink(path);
    return code;
  }
  *handle = fd;
  return 0;
}

int system_create_new(const char* path, intptr_t* handle) { return create(path, 0644, handle); }
int system_create_private(const char* path, intptr_t* handle) { return create(path, 0600, handle); }

int system_open_read(const char* path, intptr_t* handle) {
  int fd;
  do fd = open(path, O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  *handle = fd;
  return result(fd >= 0);
}

int system_write(intptr_t handle, const char* data, size_t size, size_t* done) {
  ssize_t n;
  do n = write(static_cast<int>(handle), data, size);
  while (n < 0 && errno == EINTR);
  *done = n > 0 ? static_cast<size_t>(n) : 0;
  if (n == 0 && size > 0) return EIO;  // no progress and no reason
  return result(n >= 0);
}

int system_read(intptr_t handle, char* data, size_t size, size_t* done) {
  ssize_t n;
  do n = read(static_cast<int>(handle), data, size);
  while (n < 0 && errno == EINTR);
  *done = n > 0 ? static_cast<size_t>(n) : 0;
  return result(n >= 0);
}

int system_sync(intptr_t handle) { return result(fsync(static_cast<int>(handle)) == 0); }
// Not retried on EINTR: the descriptor is gone either way on Linux.
int system_close(intptr_t handle) { return result(close(static_cast<int>(handle)) == 0); }
int system_rename(const char* from, const char* to) { return result(rename(from, to) == 0); }
int system_remove(const char* path) { return result(unlink(path) == 0); }

int system_kind(const char* path, FileKind* kind) {
  struct stat status;
  if (lstat(path, &status) != 0) {
    if (errno != ENOENT) return errno;
    *kind = FileKind::absent;
    return 0;
  }
  const mode_t mode = status.st_mode;
  *kind = S_ISREG(mode)    ? FileKind::regular
          : S_ISLNK(mode)  ? FileKind::link
          : S_ISDIR(mode)  ? FileKind::directory
          : S_ISCHR(mode)  ? FileKind::character_device
          : S_ISBLK(mode)  ? FileKind::block_device
          : S_ISFIFO(mode) ? FileKind::fifo
          : S_ISSOCK(mode) ? FileKind::socket
                           : FileKind::other;
  return 0;
}

// The rename is durable only once the directory entry is on the disk.
void system_sync_directory(const char* directory) {
  const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

unsigned long system_process_id() { return static_cast<unsigned long>(getpid()); }
std::string system_error_text(int code) { return std::strerror(code); }

}  // namespace

FileCalls file_calls = {
    .create_new = system_create_new,
    .open_read = system_open_read,
    .create_private = system_create_private,
    .write = system_write,
    .read = system_read,
    .sync = system_sync,
    .close = system_close,
    .rename = system_rename,
    .remove = system_remove,
    .kind = system_kind,
    .sync_directory = system_sync_directory,
    .process_id = system_process_id,
    .error_text = system_error_text,
    .separators = "/",
    .exists_error = EEXIST,
    .disk_full_error = ENOSPC,
    .interrupted_error = EINTR,
};

}  // namespace platform
