#include "platform/computer_name.h"

#include <windows.h>

#ifndef _WIN32
#error "win32 backend built for another system"
#endif

namespace platform {

bool computer_name(char* buffer, uint32_t* size) {
  if (buffer == nullptr || size == nullptr) return false;
  DWORD n = *size;
  const bool ok = GetComputerNameA(buffer, &n) != 0;
  *size = n;
  return ok;
}

std::string host_name() {
  char name[kComputerNameMax + 1] = {};
  uint32_t size = sizeof name;
  return computer_name(name, &size) ? std::string(name, size) : std::string();
}

}  // namespace platform
