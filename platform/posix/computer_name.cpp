#include "platform/computer_name.h"

#include <unistd.h>

#include <cstring>

#ifdef _WIN32
#error "posix backend built for Windows"
#endif

namespace platform {

bool computer_name(char* buffer, uint32_t* size) {
  if (buffer == nullptr || size == nullptr) return false;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return false;
  const size_t len = computer_name_of(host).size();
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
