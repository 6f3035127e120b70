// The least a program can do to list every process's resident set: one
// read of /proc/<pid>/stat per process, nothing else, "pid rss-kB comm" per
// line. The floor that array_vs_ps.py measures check_vantric against.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main() {
  const long page_kb = sysconf(_SC_PAGESIZE) / 1024;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 1;
  char path[300];
  char buffer[4096];
  while (const dirent* e = readdir(proc)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    std::snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;  // ended since the listing
    const ssize_t n = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (n <= 0) continue;
    buffer[n] = '\0';
    // The name is in parentheses and may hold both ')' and spaces: the
    // fields resume after the last ')'.
    char* open_paren = std::strchr(buffer, '(');
    char* close_paren = std::strrchr(buffer, ')');
    if (open_paren == nullptr || close_paren == nullptr) continue;
    *close_paren = '\0';
    // The state is field 3; the resident set in pages is field 24.
    char* field = close_paren + 2;
    for (int i = 3; i < 24 && field != nullptr; ++i) {
      field = std::strchr(field, ' ');
      if (field != nullptr) ++field;
    }
    if (field == nullptr) continue;
    std::printf("%s %ld %s\n", e->d_name, std::strtol(field, nullptr, 10) * page_kb,
                open_paren + 1);
  }
  closedir(proc);
  return 0;
}
