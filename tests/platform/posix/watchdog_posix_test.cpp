// A stop request in a child process, before and after the output is
// claimed: what reaches the pipe and the status the child ends with.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/watchdog.h"

namespace {

struct Ended {
  int status;
  std::string out;
};

Ended run_child(bool claim_first) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return {-1, "pipe"};
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipe_ends[1], STDOUT_FILENO);
    close(pipe_ends[0]);
    platform::end_on_stop_requests("ended by ", 3);
    platform::arm_watchdog(5000, "timed out\n", 3);
    if (!claim_first) raise(SIGTERM);
    platform::claim_output();
    raise(SIGTERM);
    if (write(STDOUT_FILENO, "result\n", 7) != 7) _exit(9);
    platform::disarm_watchdog();
    _exit(0);
  }
  close(pipe_ends[1]);
  std::string out;
  char buffer[64];
  for (ssize_t n; (n = read(pipe_ends[0], buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), out};
}

TEST(PosixWatchdog, StopRequestEndsTheRunOnlyBeforeTheClaim) {
  const struct {
    bool claim_first;
    int status;
    const char* out;
  } rows[] = {
      {false, 3, "ended by SIGTERM\n"},
      // After the claim the result goes out whole with its own status.
      {true, 0, "result\n"},
  };
  for (const auto& row : rows) {
    const Ended ended = run_child(row.claim_first);
    EXPECT_EQ(ended.status, row.status) << row.claim_first;
    EXPECT_EQ(ended.out, row.out) << row.claim_first;
  }
}

}  // namespace
