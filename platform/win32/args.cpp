#if !defined(_WIN32)
#error "platform/win32 is the Windows backend; CMake picked the wrong folder"
#endif

#include "platform/args.h"

#include <windows.h>

namespace platform {

// The command line is read whole from the system; nothing to keep.
void set_process_arguments(int, char**) {}

const char* command_line() {
  const char* line = GetCommandLineA();
  return line != nullptr ? line : "";
}

const char* char_next(const char* p) { return CharNextA(p); }

std::string module_path() {
  // Room for 261 characters covers every classic path; a longer one is
  // truncated by the call (which then reports the full room), so retry with
  // more room rather than hand back a cut path.
  std::string path(261, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size() || path.size() >= 32768) {
      path.resize(n < path.size() ? n : path.size());
      return path;
    }
    path.resize(path.size() * 2);
  }
}

bool arguments_presplit() { return false; }

std::vector<std::string> process_arguments() { return {}; }

}  // namespace platform
