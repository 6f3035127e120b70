// Shared by the backends: a bounded copy that needs no library call, so the
// fault handlers can use it.
#pragma once

#include <cstddef>

namespace platform {

// Copies `from` into `to`, cut to `capacity` - 1 bytes and zero-ended;
// nothing when capacity is 0. copy_cut(to, 4, "vantric") leaves "van".
inline void copy_cut(char* to, std::size_t capacity, const char* from) {
  if (capacity == 0) return;
  std::size_t length = 0;
  while (from[length] != '\0' && length + 1 < capacity) {
    to[length] = from[length];
    ++length;
  }
  to[length] = '\0';
}

}  // namespace platform
