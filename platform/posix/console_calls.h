// The system calls under the posix console backend, in a table that tests
// replace to inject EINTR, EAGAIN, short writes and failures into the write
// loop without a broken machine. Each entry follows its system call: -1
// with errno set on failure. Only the backend and its tests include this.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

struct DescriptorCalls {
  intptr_t (*write)(int fd, const void* data, std::size_t size);  // write(2)
  int (*descriptor_flags)(int fd);                                // fcntl(fd, F_GETFD)
  int (*file_mode)(int fd, uint32_t* mode);                       // fstat(2), st_mode
  // poll(2) for POLLOUT on one descriptor with no time limit.
  int (*wait_writable)(int fd);
  // A pipe's free bytes and capacity (F_GETPIPE_SZ less FIONREAD); -1 when
  // `fd` is no pipe or the system does not tell.
  int (*pipe_room)(int fd, std::size_t* free, std::size_t* capacity);
  void (*nap)();  // a pause of a few milliseconds
};

// The table in use; starts out as the real calls.
extern DescriptorCalls descriptor_calls;

}  // namespace platform
