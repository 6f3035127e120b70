// Whole-process cost of the built program next to the system's own one-shot
// processor report (mpstat 1 1, from sysstat) and /bin/true, measured in one
// run with the commands alternating so that load on the machine falls on all
// of them alike.
//
//   footprint [--rounds N] [--quick N] [--program PATH] [--mpstat PATH]
//
//   --rounds  rounds of the one-second commands (default 15); each round runs
//             the found counter, then mpstat, then --quick pairs
//   --quick   pairs of (unknown counter, /bin/true) per round (default 10)
//   --program the probe (default build/linux/app/vantric)
//   --mpstat  the reference (default: mpstat on PATH; missing: its rows are
//             left out with a note)
//
// Each run is fork, exec, wait4 from this process: the time is taken from
// before the fork to after wait4 (CLOCK_MONOTONIC), the peak resident memory
// is wait4's ru_maxrss (the figure /usr/bin/time -f %M shows), the cpu column
// the child's user and system time (the whole run, sleep excluded; it moves
// far less than the wall clock when other work shares the machine).
// Standard output and error go to /dev/null.
//
// Reading the figures: the "harness" row is a fork of this process whose
// child exits at once, without exec. Its time is what every other row pays
// for being started from here; its memory is the floor under every other
// row's peak (the kernel keeps the larger of the forked copy's peak and the
// exec'ed program's). /bin/true is the cheapest program the system can
// start. The one-second rows are shown as their overhead above 1000 ms.
//
// Exits 0 when every run ended with status 0; 1 when one did not or could
// not be started, after printing what was measured. The figures are never
// a pass or fail: the target lines say how they compare.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Series {
  Series(const char* n, std::vector<const char*> a, bool one)
      : name(n), argv(std::move(a)), one_second(one) {}
  const char* name;
  std::vector<const char*> argv;  // empty: fork and exit without exec
  bool one_second;                // shown as overhead above 1000 ms
  std::vector<double> ms;
  std::vector<double> cpu_ms;  // the child's user and system time
  std::vector<long> rss_kb;
  int bad_runs = 0;
};

double now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void run_once(Series& s, int devnull) {
  double start = now_ms();
  pid_t pid = fork();
  if (pid < 0) {
    ++s.bad_runs;
    return;
  }
  if (pid == 0) {
    if (s.argv.empty()) _exit(0);
    dup2(devnull, STDOUT_FILENO);
    dup2(devnull, STDERR_FILENO);
    std::vector<char*> args;
    for (const char* a : s.argv) args.push_back(const_cast<char*>(a));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      ++s.bad_runs;
      return;
    }
  }
  double elapsed = now_ms() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++s.bad_runs;
  s.ms.push_back(elapsed);
  auto to_ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  s.cpu_ms.push_back(to_ms(usage.ru_utime) + to_ms(usage.ru_stime));
  s.rss_kb.push_back(usage.ru_maxrss);
}

template <typename T>
T median(std::vector<T> v) {
  if (v.empty()) return T{};
  std::sort(v.begin(), v.end());
  std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void print_row(const Series& s) {
  if (s.ms.empty()) {
    std::printf("%-34s no completed runs\n", s.name);
    return;
  }
  double offset = s.one_second ? 1000.0 : 0.0;
  std::vector<double> shown;
  for (double v : s.ms) shown.push_back(v - offset);
  std::printf("%-34s %9.3f %9.3f %9.3f %9.3f %7zu %9.2f %9.2f%s\n", s.name, median(shown),
              *std::min_element(shown.begin(), shown.end()),
              *std::max_element(shown.begin(), shown.end()), median(s.cpu_ms), s.ms.size(),
              median(s.rss_kb) / 1024.0,
              *std::max_element(s.rss_kb.begin(), s.rss_kb.end()) / 1024.0,
              s.bad_runs ? "  (some runs failed)" : "");
}

const char* on_path(const char* name) {
  static std::string found;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t from = 0;
  while (from <= dirs.size()) {
    std::size_t to = dirs.find(':', from);
    if (to == std::string::npos) to = dirs.size();
    std::string candidate = dirs.substr(from, to - from) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return (found = candidate).c_str();
    from = to + 1;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 15, quick = 10;
  const char* program = "build/linux/app/vantric";
  const char* mpstat = on_path("mpstat");
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--rounds"))
      rounds = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--quick"))
      quick = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--program"))
      program = argv[i + 1];
    else if (!std::strcmp(argv[i], "--mpstat"))
      mpstat = argv[i + 1];
    else {
      std::fprintf(stderr, "footprint: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (access(program, X_OK) != 0) {
    std::fprintf(stderr, "footprint: %s is not an executable (build it first)\n", program);
    return 2;
  }
  int devnull = open("/dev/null", O_WRONLY);

  Series harness{"harness (fork, exit, no exec)", {}, false};
  Series truth{"/bin/true", {"/bin/true"}, false};
  Series unknown{"unknown counter, whole run", {program, "-C", "NoSuchObject", "-P", "X"}, false};
  Series found{"found counter, above 1000 ms",
               {program, "-C", "Processor", "-I", "_Total", "-P", "% Processor Time"},
               true};
  Series reference{"mpstat 1 1, above 1000 ms", {mpstat ? mpstat : "mpstat", "1", "1"}, true};

  // One warm-up of each so that the first round does not pay for the page cache.
  for (Series* s : {&harness, &truth, &unknown, &found, &reference}) {
    if (s == &reference && !mpstat) continue;
    run_once(*s, devnull);
    s->ms.clear();
    s->rss_kb.clear();
  }
  for (int r = 0; r < rounds; ++r) {
    run_once(found, devnull);
    if (mpstat) run_once(reference, devnull);
    for (int q = 0; q < quick; ++q) {
      run_once(unknown, devnull);
      run_once(truth, devnull);
      run_once(harness, devnull);
    }
  }

  std::printf("%-34s %9s %9s %9s %9s %7s %9s %9s\n", "command", "median", "min", "max", "cpu",
              "runs", "rss MB", "max MB");
  std::printf("%-34s %9s %9s %9s %9s %7s %9s %9s\n", "", "ms", "ms", "ms", "ms", "", "median", "");
  for (const Series* s : {&harness, &truth, &unknown, &found}) print_row(*s);
  if (mpstat)
    print_row(reference);
  else
    std::printf("%-34s not found: install sysstat for the reference rows\n", "mpstat 1 1");

  double t_unknown = median(unknown.ms), t_true = median(truth.ms);
  std::printf("\ntargets (medians of this run):\n");
  std::printf(
      "  unknown counter %.3f ms: at most 1.0 ms, or within 0.25 ms of /bin/true (%+.3f ms)\n",
      t_unknown, t_unknown - t_true);
  if (mpstat) {
    std::printf("  found counter overhead %.3f ms: below mpstat's %.3f ms\n",
                median(found.ms) - 1000.0, median(reference.ms) - 1000.0);
  }
  long peak = 0;
  for (const Series* s : {&unknown, &found})
    for (long kb : s->rss_kb) peak = std::max(peak, kb);
  std::printf("  peak resident memory %.2f MB (found and unknown): at most 1.5 MB\n",
              peak / 1024.0);
  std::printf(
      "  (every time includes the harness row's fork cost; every memory figure is at least its "
      "floor)\n");

  int bad =
      harness.bad_runs + truth.bad_runs + unknown.bad_runs + found.bad_runs + reference.bad_runs;
  return bad == 0 ? 0 : 1;
}
