#include "tests/support/child_process.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace test_support {

bool run_in_child(void (*body)(void*), void* argument, char* out, std::size_t out_capacity,
                  char* err, std::size_t err_capacity, ChildOutcome* outcome) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe(out_pipe) != 0) return false;
  if (::pipe(err_pipe) != 0) {
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    return false;
  }
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[0]);
    ::close(err_pipe[1]);
    body(argument);
    ::_exit(0);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  struct Sink {
    int fd;
    char* text;
    std::size_t capacity;
    std::size_t used;
  } sinks[2] = {{out_pipe[0], out, out_capacity, 0}, {err_pipe[0], err, err_capacity, 0}};
  int open_count = 2;
  while (open_count > 0) {
    pollfd entries[2];
    int count = 0;
    Sink* which[2];
    for (Sink& sink : sinks) {
      if (sink.fd < 0) continue;
      entries[count] = {sink.fd, POLLIN, 0};
      which[count++] = &sink;
    }
    if (::poll(entries, static_cast<nfds_t>(count), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int index = 0; index < count; ++index) {
      if (entries[index].revents == 0) continue;
      Sink& sink = *which[index];
      char chunk[512];
      ssize_t got = ::read(sink.fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        ::close(sink.fd);
        sink.fd = -1;
        --open_count;
        continue;
      }
      for (ssize_t k = 0; k < got; ++k) {
        if (sink.used + 1 < sink.capacity) sink.text[sink.used++] = chunk[k];
      }
    }
  }
  for (Sink& sink : sinks) {
    if (sink.fd >= 0) ::close(sink.fd);
    if (sink.capacity > 0) sink.text[sink.used] = '\0';
  }

  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  outcome->exited = WIFEXITED(status);
  outcome->status = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
  outcome->core_dumped = WIFSIGNALED(status) && WCOREDUMP(status);
  return true;
}

}  // namespace test_support
