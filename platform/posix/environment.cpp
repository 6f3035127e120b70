#if defined(_WIN32)
#error "platform/posix is the posix backend; CMake picked the wrong folder"
#endif

#include "platform/environment.h"

#include <cstdlib>

namespace platform {

bool get_environment(const char* name, std::string& value) {
  const char* text = std::getenv(name);
  if (text == nullptr) return false;
  value = text;
  return true;
}

}  // namespace platform
