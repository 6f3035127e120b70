#if defined(_WIN32)
#error "platform/posix is the posix backend; CMake picked the wrong folder"
#endif

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/state_file_calls.h"

namespace platform {

namespace {

int system_directory(const char* path, DirectoryFacts* facts) {
  struct stat status;
  if (stat(path, &status) != 0) return errno;
  facts->directory = S_ISDIR(status.st_mode);
  facts->others_write = (status.st_mode & S_IWOTH) != 0;
  facts->sticky = (status.st_mode & S_ISVTX) != 0;
  return 0;
}

// O_NOFOLLOW makes a link at the name fail with ELOOP; O_NONBLOCK keeps a
// FIFO put there from stalling the open before it is refused as not regular.
int system_open(const char* path, bool create, intptr_t* handle) {
  const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT : 0);
  int fd;
  do fd = open(path, flags, 0600);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == ELOOP ? kStateLink : errno == EISDIR ? kStateNotRegular : errno;
  struct stat status;
  int code = 0;
  if (fstat(fd, &status) != 0)
    code = errno;
  else if (!S_ISREG(status.st_mode))
    code = kStateNotRegular;
  else if (status.st_uid != geteuid())
    code = kStateForeignOwner;
  if (code != 0) return close(fd), code;
  *handle = fd;
  return 0;
}

int system_try_lock(intptr_t handle) {
  int code;
  do code = flock(static_cast<int>(handle), LOCK_EX | LOCK_NB);
  while (code != 0 && errno == EINTR);
  if (code == 0) return 0;
  return errno == EWOULDBLOCK ? kStateBusy : errno;
}

void system_close(intptr_t handle) { close(static_cast<int>(handle)); }

void system_sleep_ms(int ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

int system_boot_identity(std::string* identity) {
  const int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char text[128];
  ssize_t n;
  do n = read(fd, text, sizeof text);
  while (n < 0 && errno == EINTR);
  const int code = errno;
  close(fd);
  if (n < 0) return code;
  size_t size = static_cast<size_t>(n);
  while (size > 0 && (text[size - 1] == '\n' || text[size - 1] == ' ')) --size;
  if (size == 0) return ENODATA;
  identity->assign(text, size);
  return 0;
}

std::string system_default_directory() { return "/var/lib/vantric"; }

}  // namespace

StateFileCalls state_file_calls = {system_directory,
                                   system_open,
                                   system_try_lock,
                                   system_close,
                                   system_sleep_ms,
                                   system_boot_identity,
                                   system_default_directory,
                                   '/',
                                   ENOENT};

}  // namespace platform
