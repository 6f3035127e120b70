#if defined(_WIN32)
#error "platform/posix is the posix backend; CMake picked the wrong folder"
#endif

#include "platform/args.h"

#include <unistd.h>

#include <climits>

namespace platform {
namespace {

std::string program_name;
std::vector<std::string> arguments;

}  // namespace

void set_process_arguments(int argc, char** argv) {
  program_name.clear();
  arguments.clear();
  if (argv == nullptr || argc <= 0) return;
  if (argv[0] != nullptr) program_name = argv[0];
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) arguments.emplace_back(argv[i]);
}

const char* command_line() { return ""; }

const char* char_next(const char* p) { return *p == '\0' ? p : p + 1; }

std::string module_path() {
  // readlink does not terminate the text and silently truncates: grow the
  // room until the link fits with a byte to spare.
  std::string path(PATH_MAX, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return program_name;  // no /proc: the name as started
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

bool arguments_presplit() { return true; }

std::vector<std::string> process_arguments() { return arguments; }

}  // namespace platform
