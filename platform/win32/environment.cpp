#if !defined(_WIN32)
#error "platform/win32 is the Windows backend; CMake picked the wrong folder"
#endif

#include "platform/environment.h"

#include <windows.h>

namespace platform {

bool get_environment(const char* name, std::string& value) {
  std::string room(256, '\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    DWORD length = GetEnvironmentVariableA(name, room.data(), static_cast<DWORD>(room.size()));
    if (length == 0) {
      // 0 is both "no such variable" and "an empty value".
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value.clear();
      return true;
    }
    if (length < room.size()) {
      room.resize(length);
      value = room;
      return true;
    }
    room.resize(length);  // too small: length is the room needed, terminator included
  }
}

}  // namespace platform
