#include "platform/computer_name.h"

#include <unistd.h>

#include <cstring>

#ifdef _WIN32
#error "posix backend built for Windows"
#endif

namespace platform {

std::string host_name() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return std::string();
  return host;
}

bool computer_name(char* buffer, uint32_t* size) {
  if (buffer == nullptr || size == nullptr) return false;
  const std::string host = host_name();
  if (host.empty()) return false;
  const std::string name = computer_name_of(host);
  if (name.size() + 1 > *size) {
    *size = static_cast<uint32_t>(name.size() + 1);
    return false;
  }
  std::memcpy(buffer, name.data(), name.size());
  buffer[name.size()] = '\0';
  *size = static_cast<uint32_t>(name.size());
  return true;
}

}  // namespace platform
