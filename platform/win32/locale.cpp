#if !defined(_WIN32)
#error "platform/win32 is the Windows backend; CMake picked the wrong folder"
#endif

#include "platform/locale.h"

#include <windows.h>

namespace platform {

uint32_t thread_locale() { return GetThreadLocale(); }

int locale_info(uint32_t locale, uint32_t item, char* buffer, int size) {
  return GetLocaleInfoA(locale, item, buffer, size);
}

bool locale_follows_c_library() { return false; }

}  // namespace platform
