// Standard handles over file descriptors: descriptor 1 is the standard
// output handle, descriptor 2 the standard error handle.
#if defined(_WIN32)
#error "platform/posix is the posix backend; CMake picked the wrong folder"
#endif

#include "platform/console.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/posix/console_calls.h"

namespace platform {
namespace {

intptr_t system_write(int fd, const void* data, std::size_t size) {
  return ::write(fd, data, size);
}

int system_descriptor_flags(int fd) { return ::fcntl(fd, F_GETFD); }

int system_file_mode(int fd, uint32_t* mode) {
  struct stat status;
  if (::fstat(fd, &status) != 0) return -1;
  *mode = static_cast<uint32_t>(status.st_mode);
  return 0;
}

int system_wait_writable(int fd) {
  pollfd entry = {fd, POLLOUT, 0};
  return ::poll(&entry, 1, -1);
}

// The unread bytes of a pipe are known at either end; its capacity only
// on Linux.
int system_pipe_room(int fd, std::size_t* free, std::size_t* capacity) {
#if defined(F_GETPIPE_SZ) && defined(FIONREAD)
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode)) return -1;
  const int size = ::fcntl(fd, F_GETPIPE_SZ);
  int unread = 0;
  if (size <= 0 || ::ioctl(fd, FIONREAD, &unread) != 0 || unread < 0) return -1;
  *capacity = static_cast<std::size_t>(size);
  *free = unread < size ? static_cast<std::size_t>(size - unread) : 0;
  return 0;
#else
  (void)fd, (void)free, (void)capacity;
  return -1;
#endif
}

// poll() wakes as soon as one page is free, which may not be enough: the
// room is looked at again after each pause instead.
void system_nap() { ::poll(nullptr, 0, 5); }

}  // namespace

DescriptorCalls descriptor_calls = {system_write,         system_descriptor_flags, system_file_mode,
                                    system_wait_writable, system_pipe_room,        system_nap};

namespace {

// A reader that has gone away must show as a failed write (EPIPE), not end
// the process with SIGPIPE before the failure can be reported.
void ignore_broken_pipe_signal() {
  static bool ignored = false;
  if (ignored) return;
  std::signal(SIGPIPE, SIG_IGN);
  ignored = true;
}

FileHandle open_descriptor_or_invalid(int fd) {
  if (descriptor_calls.descriptor_flags(fd) == -1) return kInvalidHandle;
  return fd;
}

// write(2) may be interrupted by a signal or accept only part of the bytes
// (a pipe near full, a signal in the middle of a large write), and the
// stream counts any successful call as all bytes written; so keep going
// until every byte is out or a real error occurs. A descriptor that the
// parent made non-blocking answers EAGAIN while the reader lags: wait until
// it takes bytes again, as a blocking write would have.
bool write_all(int fd, const void* data, uint32_t size, uint32_t* written) {
  const char* bytes = static_cast<const char*>(data);
  uint32_t done = 0;
  while (done < size) {
    intptr_t accepted = descriptor_calls.write(fd, bytes + done, size - done);
    if (accepted > 0) {
      done += static_cast<uint32_t>(accepted);
      continue;
    }
    if (accepted < 0 && errno == EINTR) continue;
    if (accepted < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (descriptor_calls.wait_writable(fd) >= 0 || errno == EINTR) continue;
      *written = done;
      return false;
    }
    // A write that accepts nothing without an error would loop for ever;
    // treat it as an I/O error so the failure is not lost.
    if (accepted == 0) errno = EIO;
    *written = done;
    return false;
  }
  *written = done;
  return true;
}

FileHandle posix_std_output_handle() {
  ignore_broken_pipe_signal();
  return open_descriptor_or_invalid(STDOUT_FILENO);
}

FileType posix_file_type(FileHandle handle) {
  uint32_t mode = 0;
  if (descriptor_calls.file_mode(static_cast<int>(handle), &mode) != 0) {
    return FileType::unknown;
  }
  if (S_ISCHR(mode)) return FileType::character;
  if (S_ISFIFO(mode) || S_ISSOCK(mode)) return FileType::pipe;
  return FileType::disk;
}

bool posix_write_file(FileHandle handle, const void* data, uint32_t size, uint32_t* written) {
  return write_all(static_cast<int>(handle), data, size, written);
}

// The stream gives the handle back when its type is unknown. Descriptor 1
// stays open all the same: closing it would let the next open() in the
// process take descriptor 1, and any later output would land in that file.
void posix_close_handle(FileHandle) {}

uint32_t posix_last_error() { return static_cast<uint32_t>(errno); }

ConsoleCalls live_console_calls = {posix_std_output_handle, posix_file_type, posix_write_file,
                                   posix_close_handle, posix_last_error};

}  // namespace

ConsoleCalls& console_calls() { return live_console_calls; }

bool wait_for_output_room(std::size_t size) {
  for (;;) {
    std::size_t free = 0, capacity = 0;
    if (descriptor_calls.pipe_room(STDOUT_FILENO, &free, &capacity) != 0 || size > capacity)
      return false;
    if (free >= size) return true;
    descriptor_calls.nap();
  }
}

FileHandle std_error_handle() { return open_descriptor_or_invalid(STDERR_FILENO); }

bool write_std_error(const void* data, uint32_t size) {
  ignore_broken_pipe_signal();
  FileHandle handle = std_error_handle();
  if (handle == kInvalidHandle) return false;
  uint32_t written = 0;
  return write_all(static_cast<int>(handle), data, size, &written);
}

}  // namespace platform
