#if defined(_WIN32)
#error "platform/posix is the posix backend; CMake picked the wrong folder"
#endif

#include "platform/computer_name.h"

#include <unistd.h>

#include <cstring>

namespace platform {

bool computer_name(char* buffer, uint32_t* size) {
  if (buffer == nullptr || size == nullptr) return false;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return false;
  const size_t len = strnlen(host, 15);
  if (len + 1 > *size) {
    *size = static_cast<uint32_t>(len + 1);
    return false;
  }
  std::memcpy(buffer, host, len);
  buffer[len] = '\0';
  *size = static_cast<uint32_t>(len);
  return true;
}

}  // namespace platform
